#pragma once

// A receiving card's coefficients: one byte per pixel of its rectangle, cut from the gain map, rows
// padded to a multiple of 4 bytes, every 32-bit word's bytes reversed as the card reads them.

#include "hardware/card_layout.h"
#include "hardware/gain_map.h"

#include <cstdint>
#include <vector>

// 255 for a gain of 2.0 or more; otherwise the low 8 bits of the gain times 128, truncated toward zero
// (single precision): 1.0 gives 128, 0.7 gives 89, 1.4 gives 179.
uint8_t QuantiseGain(float gain);

// Bytes of one row of a card's block: its width rounded up to a multiple of 4.
inline uint32_t BlockStride(uint32_t columns) {
    return (columns + 3u) / 4u * 4u;
}

inline uint64_t BlockBytes(const CardRect& card) {
    return static_cast<uint64_t>(BlockStride(card.columns)) * card.rows;
}

// Fills `block` (BlockBytes long) for the card: the pixels it shows of the map quantised, 0 for those
// outside the map and for the padding, then each 32-bit word's bytes reversed.
void FillCoefficientBlock(const GainMap& map, const CardRect& card, uint8_t* block);
