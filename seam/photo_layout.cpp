#include "seam/photo_layout.h"

#include "seam/gamma_table.h"

#include <cmath>

int CalibrationSign(uint64_t column, uint64_t row, bool below) {
    return (column + row + (below ? 1 : 0)) % 2 == 0 ? 1 : -1;
}

std::vector<int8_t> CalibrationSigns(const GridIndex& index) {
    std::vector<int8_t> signs(static_cast<size_t>(4 * index.Modules()), 0);
    for (uint64_t r = 0; r < index.rows; ++r) {
        for (uint64_t c = 0; c < index.columns; ++c) {
            if (c + 1 < index.columns) {
                const int8_t s = static_cast<int8_t>(CalibrationSign(c, r, false));
                signs[static_cast<size_t>(index.Right(c, r))] =
                    signs[static_cast<size_t>(index.Left(c + 1, r))] = s;
            }
            if (r + 1 < index.rows) {
                const int8_t s = static_cast<int8_t>(CalibrationSign(c, r, true));
                signs[static_cast<size_t>(index.Bottom(c, r))] =
                    signs[static_cast<size_t>(index.Top(c, r + 1))] = s;
            }
        }
    }
    return signs;
}

float CalibratedGain(float gain, int sign) {
    return gain * (1.0f + static_cast<float>(sign) * kCalibrationStep);
}

PatternLight::PatternLight(const ScreenParams& params) : gray_(params.gray_scale) {
    if (!GammaUsable(params.gamma)) {
        return;
    }
    GammaTable table{};
    BuildGammaTable(params.gamma, table);
    // By table index: the light of the level the table gives that index.
    for (int i = 0; i < 256; ++i) {
        light_[i] = std::pow(table[static_cast<size_t>(i)] / 255.0, static_cast<double>(params.gamma));
    }
    field_ = light_[AllSegmentsLineIndex(gray_, 1.0f)];
}

double PatternLight::Factor(float gain) const {
    return field_ > 0 ? light_[AllSegmentsLineIndex(gray_, gain)] / field_ : 1.0;
}
