#include "seam/photo_layout.h"

#include "seam/gamma_table.h"

#include <algorithm>
#include <cmath>

int CalibrationSign(uint64_t column, uint64_t row, bool below) {
    return (column + row + (below ? 1 : 0)) % 2 == 0 ? 1 : -1;
}

std::vector<int8_t> CalibrationSigns(const GridIndex& index, uint64_t first_column, uint64_t first_row) {
    std::vector<int8_t> signs(static_cast<size_t>(4 * index.Modules()), 0);
    for (uint64_t r = 0; r < index.rows; ++r) {
        for (uint64_t c = 0; c < index.columns; ++c) {
            if (c + 1 < index.columns) {
                const int8_t s = static_cast<int8_t>(CalibrationSign(first_column + c, first_row + r, false));
                signs[static_cast<size_t>(index.Right(c, r))] =
                    signs[static_cast<size_t>(index.Left(c + 1, r))] = s;
            }
            if (r + 1 < index.rows) {
                const int8_t s = static_cast<int8_t>(CalibrationSign(first_column + c, first_row + r, true));
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

namespace {

// Starts of `count` spans of `span` modules over `total` modules, first at 0 and last at the end,
// spread evenly: neighbours overlap by at least one module when span * count > total.
std::vector<uint32_t> Spread(uint32_t total, uint32_t span, uint32_t count) {
    std::vector<uint32_t> starts(count, 0);
    for (uint32_t i = 1; i < count; ++i) {
        starts[i] = static_cast<uint32_t>((static_cast<uint64_t>(i) * (total - span) + (count - 1) / 2) /
                                          (count - 1));
    }
    return starts;
}

} // namespace

std::vector<PhotoRegion> PhotoRegions(const ScreenParams& params, uint32_t camera_width) {
    if (params.screen_width <= 0 || params.screen_height <= 0 || params.mod_width <= 0 ||
        params.mod_height <= 0 || params.screen_width % params.mod_width != 0 ||
        params.screen_height % params.mod_height != 0) {
        return {};
    }
    const uint32_t mw = static_cast<uint32_t>(params.mod_width),
                   mh = static_cast<uint32_t>(params.mod_height);
    const uint32_t columns = static_cast<uint32_t>(params.screen_width) / mw;
    const uint32_t rows = static_cast<uint32_t>(params.screen_height) / mh;
    // What one photo holds, in modules.
    const double wide = kFramedShare * camera_width / kPhotoPixelsPerWallPixel;
    const double high = kFramedShare * camera_width * 0.75 / kPhotoPixelsPerWallPixel;
    const uint32_t across = std::min(columns, static_cast<uint32_t>(wide / mw));
    const uint32_t down = std::min(rows, static_cast<uint32_t>(high / mh));
    if (across == 0 || down == 0 || (across == 1 && columns > 1) || (down == 1 && rows > 1)) {
        return {}; // a region must overlap its neighbour by a module and still move on
    }
    const uint32_t count_x = across >= columns ? 1 : (columns - 1 + across - 2) / (across - 1);
    const uint32_t count_y = down >= rows ? 1 : (rows - 1 + down - 2) / (down - 1);
    const std::vector<uint32_t> xs = Spread(columns, across, count_x), ys = Spread(rows, down, count_y);
    std::vector<PhotoRegion> regions;
    for (const uint32_t y : ys) {
        for (const uint32_t x : xs) {
            regions.push_back({x * mw, y * mh, across * mw, down * mh});
        }
    }
    return regions;
}
