#pragma once

#include <array>
#include <cstdint>

// Maps a gray level to the level shown on the LED screen.
using GammaTable = std::array<uint8_t, 256>;

// gamma must be greater than 0; callers skip the rebuild otherwise and keep the previous table.
void BuildGammaTable(float gamma, GammaTable& table);

// True when a paint may rebuild the table from this gamma (NaN and values <= 0 keep the old one).
inline bool GammaUsable(double gamma) {
    return static_cast<float>(gamma) > 0.0f;
}

uint8_t BackgroundLevel(const GammaTable& table, int32_t gray_scale);

// The table index of one line when the whole grid is drawn: the product of gray level and gain,
// truncated and limited to 0..255.
uint8_t AllSegmentsLineIndex(int32_t gray_scale, float gain);

// The level of one line when the whole grid is drawn: the product is limited to 255.
uint8_t AllSegmentsLineLevel(const GammaTable& table, int32_t gray_scale, float gain);

// The level of one line when the selected lines are redrawn: the gray level is limited first.
uint8_t SegmentListLineLevel(const GammaTable& table, int32_t gray_scale, float gain);
