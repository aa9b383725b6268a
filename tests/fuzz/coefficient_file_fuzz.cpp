// A coefficient file as the read-back reads it: the first two bytes choose the screen (up to 15 x 15),
// the rest is the file. Nothing may crash or read past the data.
#include "hardware/coefficient_file.h"
#include "tests/unit/support.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const int64_t width = data[0] & 15;
    const int64_t height = data[1] & 15;
    GainMap map;
    ReadCoefficientFile(SourceOver(data + 2, size - 2), size - 2, width, height, 1 << 16, map);
    return 0;
}
