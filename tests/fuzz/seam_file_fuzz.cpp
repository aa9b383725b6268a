// A seam file as the import reads it: any bytes, any length. Nothing may crash, read past the data or
// allocate beyond the budget.
#include "files/seam_file.h"
#include "tests/unit/support.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SeamFileContents contents;
    if (ReadSeamFile(SourceOver(data, size), 64u << 20, contents) == SeamFileStatus::Ok) {
        WriteSeamFile(contents.header, contents.records, [](const uint8_t*, size_t) { return true; });
    }
    return 0;
}
