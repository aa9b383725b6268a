#include "hardware/coefficient_block.h"

#include <algorithm>
#include <cstring>

uint8_t QuantiseGain(float gain) {
    if (gain >= 2.0f) {
        return 255;
    }
    const float product = gain * 128.0f;
    // NaN and products too negative for a 32-bit integer only come from hostile seam files; they would
    // be undefined conversions, so they give 0.
    if (!(product >= -2147483648.0f)) {
        return 0;
    }
    return static_cast<uint8_t>(static_cast<int32_t>(product));
}

void FillCoefficientBlock(const GainMap& map, const CardRect& card, uint8_t* block) {
    const uint32_t stride = BlockStride(card.columns);
    if (stride == 0 || card.rows == 0) {
        return; // nothing to fill: a card of 0 rows or columns still gets its (empty) write
    }
    std::memset(block, 0, static_cast<size_t>(stride) * card.rows);
    const int64_t first_column = card.first_column;
    for (uint32_t r = 0; r < card.rows; ++r) {
        const int64_t y = static_cast<int64_t>(card.first_row) + r;
        if (y >= map.height || first_column >= map.width) {
            break; // every later row lies below the screen too
        }
        const int64_t shown = std::min<int64_t>(card.columns, map.width - first_column);
        const float* gains = map.cells.data() + y * map.width + first_column;
        uint8_t* out = block + static_cast<size_t>(r) * stride;
        for (int64_t x = 0; x < shown; ++x) {
            out[x] = QuantiseGain(gains[x]);
        }
        // The card reads its memory a 32-bit word at a time with the bytes the other way round.
        for (uint32_t i = 0; i < stride; i += 4) {
            std::swap(out[i], out[i + 3]);
            std::swap(out[i + 1], out[i + 2]);
        }
    }
}
