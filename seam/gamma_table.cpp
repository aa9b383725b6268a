#include "seam/gamma_table.h"

#include <cmath>

void BuildGammaTable(float gamma, GammaTable& table) {
    // Each step in the precision the tables on the wall were tuned with: the exponent and the scaling in
    // single precision, only the power in double.
    const float e = 1.0f / gamma;
    table[0] = 0;
    if (e == 1.0f) {
        for (int i = 1; i < 256; ++i) {
            table[i] = static_cast<uint8_t>(i);
        }
        return;
    }
    for (int i = 1; i < 256; ++i) {
        const float base = static_cast<float>(i) / 255.0f;
        const double p = std::pow(static_cast<double>(base), static_cast<double>(e));
        const float v = static_cast<float>(p) * 255.0f;
        const float t = std::trunc(v);
        int level = static_cast<int>(t);
        if (v - t > 0.5f) {
            ++level;
        }
        table[i] = static_cast<uint8_t>(level > 255 ? 255 : level);
    }
}

namespace {

// A product of gray level and gain, truncated toward zero and limited to 0..255. Negative or NaN
// products only come from hostile seam files; they map to 0 instead of an undefined conversion.
unsigned LimitedIndex(float product) {
    if (!(product > 0.0f)) {
        return 0;
    }
    if (product >= 255.0f) {
        return 255;
    }
    return static_cast<unsigned>(product);
}

unsigned LimitedGray(int32_t gray_scale) {
    if (gray_scale < 0) {
        return 0;
    }
    return gray_scale > 255 ? 255u : static_cast<unsigned>(gray_scale);
}

} // namespace

uint8_t BackgroundLevel(const GammaTable& table, int32_t gray_scale) {
    return table[LimitedGray(gray_scale)];
}

uint8_t AllSegmentsLineIndex(int32_t gray_scale, float gain) {
    return static_cast<uint8_t>(LimitedIndex(static_cast<float>(gray_scale) * gain));
}

uint8_t AllSegmentsLineLevel(const GammaTable& table, int32_t gray_scale, float gain) {
    return table[AllSegmentsLineIndex(gray_scale, gain)];
}

uint8_t SegmentListLineLevel(const GammaTable& table, int32_t gray_scale, float gain) {
    return table[LimitedIndex(static_cast<float>(LimitedGray(gray_scale)) * gain)];
}
