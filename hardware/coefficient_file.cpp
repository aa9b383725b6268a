#include "hardware/coefficient_file.h"

#include "lib/baselib/byte_order.h"

#include <algorithm>
#include <vector>

CoefficientFileStatus ReadCoefficientFile(const ByteSource& read, uint64_t file_size, int64_t width,
                                          int64_t height, uint64_t memory_budget, GainMap& map,
                                          uint64_t* bad_cell) {
    uint64_t float_bytes = 0;
    if (!GainMapBytes(width, height, float_bytes)) {
        return CoefficientFileStatus::NoMemory;
    }
    const uint64_t cells = float_bytes / 4;
    const bool floats = file_size == float_bytes;
    if (!floats && file_size != cells) {
        return CoefficientFileStatus::WrongSize;
    }
    if (!MakeGainMap(width, height, memory_budget, map)) {
        return CoefficientFileStatus::NoMemory;
    }
    const size_t per_cell = floats ? 4 : 1;
    std::vector<uint8_t> chunk(64 * 1024 * per_cell);
    for (uint64_t done = 0; done < cells;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(cells - done, chunk.size() / per_cell));
        if (read(chunk.data(), n * per_cell) != n * per_cell) {
            return CoefficientFileStatus::ReadFailed;
        }
        float* out = map.cells.data() + done;
        for (size_t i = 0; i < n; ++i) {
            out[i] = floats ? BitsFloat(GetLE32(&chunk[i * 4])) : static_cast<float>(chunk[i]) / 128.0f;
            // The cards' bytes give 0 .. 1.99 by themselves; a float can be anything.
            if (!UsableGain(out[i])) {
                if (bad_cell != nullptr) {
                    *bad_cell = done + i;
                }
                return CoefficientFileStatus::BadGain;
            }
        }
        done += n;
    }
    return CoefficientFileStatus::Ok;
}
