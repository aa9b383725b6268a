#include "hardware/coefficient_block.h"

#include <algorithm>
#include <cstring>

namespace {

// The quantising of QuantiseGain in a form without branches, so that a row is converted many pixels
// at a time. The product is held inside the range of a 32-bit integer before it is converted: NaN and
// products too negative for an integer (only hostile seam files carry them) give 0, and anything at
// 2.0 or more is 255 whatever its product.
inline uint8_t Quantise(float gain) {
    float product = gain * 128.0f;
    product = product >= -2147483648.0f ? product : 0.0f;
    product = product < 256.0f ? product : 256.0f;
    const uint8_t low = static_cast<uint8_t>(static_cast<int32_t>(product));
    return gain >= 2.0f ? static_cast<uint8_t>(255) : low;
}

} // namespace

uint8_t QuantiseGain(float gain) {
    return Quantise(gain);
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
            out[x] = Quantise(gains[x]);
        }
        // The card reads its memory a 32-bit word at a time with the bytes the other way round.
        for (uint32_t i = 0; i < stride; i += 4) {
            uint32_t word;
            std::memcpy(&word, out + i, 4);
            word = (word >> 24) | ((word >> 8) & 0xFF00u) | ((word << 8) & 0xFF0000u) | (word << 24);
            std::memcpy(out + i, &word, 4);
        }
    }
}
