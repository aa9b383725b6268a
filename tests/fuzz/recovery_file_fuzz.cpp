// A recovery set as the start-up reads it: any bytes, any length. Nothing may crash, read past the data or
// allocate beyond the budget, and what reads back whole can be written again.
#include "files/recovery_file.h"
#include "tests/unit/support.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RecoveryState state;
    ReadRecoveryHead(SourceOver(data, size), state);
    if (ReadRecoveryFile(SourceOver(data, size), 64u << 20, state) == RecoveryStatus::Ok) {
        size_t written = 0;
        WriteRecoveryFile(state, [&](const uint8_t*, size_t n) {
            written += n;
            return true;
        });
        if (written > size) {
            std::abort(); // every field read is written back at its own size
        }
    }
    return 0;
}
