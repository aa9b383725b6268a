// A seam file as the import reads it: any bytes, any length. Nothing may crash, read past the data or
// allocate beyond the budget.
#include "files/seam_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t offset = 0;
    const ByteSource source = [&](uint8_t* out, size_t want) {
        const size_t n = std::min(want, size - offset);
        std::copy_n(data + offset, n, out);
        offset += n;
        return n;
    };
    SeamFileContents contents;
    if (ReadSeamFile(source, 64u << 20, contents) == SeamFileStatus::Ok) {
        WriteSeamFile(contents.header, contents.records, [](const uint8_t*, size_t) { return true; });
    }
    return 0;
}
