// A coefficient file as the read-back reads it: the first two bytes choose the screen (up to 15 x 15),
// the rest is the file. Nothing may crash or read past the data.
#include "hardware/coefficient_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const int64_t width = data[0] & 15;
    const int64_t height = data[1] & 15;
    size_t offset = 2;
    const ByteSource source = [&](uint8_t* out, size_t want) {
        const size_t n = std::min(want, size - offset);
        std::copy_n(data + offset, n, out);
        offset += n;
        return n;
    };
    GainMap map;
    ReadCoefficientFile(source, size - 2, width, height, 1 << 16, map);
    return 0;
}
