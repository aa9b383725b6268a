#include "photo/seam_photo.h"

#include "hardware/coefficient_block.h"
#include "lib/baselib/memory_budget.h"
#include "photo/joins.h"
#include "photo/linear_light.h"
#include "photo/rectify.h"
#include "photo/response.h"
#include "photo/wall_finder.h"
#include "seam/photo_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace {

constexpr float kLowestGain = 0.7f;
constexpr float kHighestGain = 1.4f;
constexpr double kStep = 0.005;
// Below this many photo pixels per wall pixel a one-pixel line cannot be told from its neighbour.
constexpr double kFinestCamera = 1.5;
// A module needs room for its edge lines, the field beside them and their blur.
constexpr int32_t kSmallestModule = 8;
// A gain is changed only when that makes the join's predicted residual smaller by this much: the
// measurement's noise must not turn gains that are right already.
constexpr double kWorthChanging = 0.002;
// Lines closer than this to their field are left alone: the photo's noise reaches about this far.
constexpr double kNoiseFloor = 0.0055;
// A line inside the modules that differs this much from its surround is a join the grid does not know.
constexpr double kStraySeam = 0.015;
// Inside the modules the photo should be as even as the wall: lines that vary more than this (median,
// per cent) are the camera's moire, and the joins cannot be read beside it.
constexpr double kMoirePercent = 0.6;
// One inside line in a hundred may differ this much (per cent) by moire; beyond, joins are read off.
constexpr double kMoireTail = 2.0;
// The calibration lines' readings may stray this much from the fitted response (a share of the field);
// beyond, the camera records the emitters' dots too unevenly for the joins to be read.
constexpr double kMoireCalibration = 0.007;
// What remains of the lens's bending once undone, in wall pixels: beyond it the joins are read off
// their lines.
constexpr double kMostBending = 0.25;
// Calibration lines differ from their gains by kCalibrationStep; less than this is no calibration.
constexpr double kLeastContrast = 0.01;
// Between two photos, a join whose coefficient changed less than this tells little of the response: its
// change of light drowns in the photos' noise.
constexpr double kLeastChange = 0.02;

__attribute__((format(printf, 1, 2))) std::string Text(const char* format, ...) {
    char text[768];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

// What a card makes of a gain: its coefficient over 128.
double CardFactor(float gain) {
    return QuantiseGain(gain) / 128.0;
}

PhotoCorrection Refuse(PhotoOutcome outcome, std::string why) {
    PhotoCorrection result;
    result.outcome = outcome;
    result.why = std::move(why);
    return result;
}

// Per join (right joins, then below joins), the records of its two facing edges.
struct JoinEdges {
    size_t a; // the bottom edge of the module above, or the right edge of the one left
    size_t b; // the top edge of the module below, or the left edge of the one right
};

JoinEdges EdgesOf(const GridIndex& index, const WallGrid& grid, size_t join) {
    const size_t modules = static_cast<size_t>(index.Modules());
    const bool below = join >= modules;
    const uint64_t m = below ? join - modules : join, c = m % grid.columns, r = m / grid.columns;
    if (below) {
        return {static_cast<size_t>(index.Bottom(c, r)), static_cast<size_t>(index.Top(c, r + 1))};
    }
    return {static_cast<size_t>(index.Right(c, r)), static_cast<size_t>(index.Left(c + 1, r))};
}

// Stage 1: the grid the fields describe, when a photo can be measured against it; `pixels` says whether
// the wall's picture is made from the photo here (region photos make only their region's).
bool CheckGrid(const PhotoInput& input, uint64_t budget, bool pixels, WallGrid& grid,
               PhotoCorrection& refusal) {
    const ScreenParams& p = input.params;
    const int32_t W = p.screen_width, H = p.screen_height, mw = p.mod_width, mh = p.mod_height;
    if (W <= 0 || H <= 0 || mw < kSmallestModule || mh < kSmallestModule || W % mw != 0 || H % mh != 0) {
        refusal =
            Refuse(PhotoOutcome::UnusableGrid,
                   Text("屏幕参数描述的不是能用照片测量的网格：屏（%d x %d）须由整数个模组（%d x %d）组成，"
                        "模组的宽和高都至少 %d 个像素。",
                        W, H, mw, mh, kSmallestModule));
        return false;
    }
    grid.width = static_cast<uint32_t>(W), grid.height = static_cast<uint32_t>(H);
    grid.mod_width = static_cast<uint32_t>(mw), grid.mod_height = static_cast<uint32_t>(mh);
    grid.columns = grid.width / grid.mod_width, grid.rows = grid.height / grid.mod_height;
    const uint64_t records = 4ull * grid.columns * grid.rows;
    if (input.grid.size() != records || (!input.applied.empty() && input.applied.size() != records)) {
        refusal = Refuse(PhotoOutcome::UnusableGrid, "缝隙网格与屏幕参数的尺寸不符。");
        return false;
    }
    const uint64_t need = (pixels ? RectifyBytes(grid.width, grid.height) : 0) + records * 4 * sizeof(float) +
                          64 * static_cast<uint64_t>(grid.width + grid.height);
    if (need > budget) {
        refusal =
            Refuse(PhotoOutcome::TooLarge, Text("测量 %d x %d 像素的屏需要 %s 内存；现在只能用 %s。", W, H,
                                                FormatBytes(need).c_str(), FormatBytes(budget).c_str()));
        return false;
    }
    return true;
}

// A wall too large for one photo of this camera: how to photograph it region by region. Empty when even
// one module does not fit the camera, or for a photo that is a region already (`camera_width` 0).
std::string RegionAdvice(const ScreenParams& params, uint32_t camera_width) {
    const std::vector<PhotoRegion> regions =
        camera_width > 0 ? PhotoRegions(params, camera_width) : std::vector<PhotoRegion>{};
    if (regions.size() < 2) {
        return {};
    }
    size_t across = 1;
    while (across < regions.size() && regions[across].y == regions[0].y) {
        ++across;
    }
    return Text("\n这面墙需要分 %u x %u 个区域拍摄（每个区域 %u x %u 个屏像素）：在测试画面里按 P 显示照片"
                "分区，每个区域拍一张，按空格键换到下一个区域；再点“照片校正”，按顺序一次选中全部照片。",
                static_cast<unsigned>(across), static_cast<unsigned>(regions.size() / across),
                regions[0].width, regions[0].height);
}

// Stage 2: the wall in the photo, and where its pixels lie there.
bool LocateWall(const GrayPhoto& photo, const PhotoInput& input, const WallGrid& grid, WallMapping& mapping,
                double& scale, PhotoCorrection& refusal) {
    WallView view;
    std::string why;
    if (!FindWall(photo, grid.width, grid.height, view, why)) {
        refusal = Refuse(PhotoOutcome::NoWall, why);
        return false;
    }
    const PointF* c = view.corners;
    const double top = std::hypot(c[1].x - c[0].x, c[1].y - c[0].y);
    const double right = std::hypot(c[2].x - c[1].x, c[2].y - c[1].y);
    const double bottom = std::hypot(c[3].x - c[2].x, c[3].y - c[2].y);
    const double left = std::hypot(c[0].x - c[3].x, c[0].y - c[3].y);
    const double aspect_photo = (top + bottom) / (left + right);
    const double aspect_fields = static_cast<double>(grid.width) / grid.height;
    if (aspect_photo > aspect_fields * 1.15 || aspect_photo * 1.15 < aspect_fields) {
        refusal =
            Refuse(PhotoOutcome::GridMismatch,
                   Text("照片里的屏宽约为高的 %.2f 倍，但参数描述的屏是 %u x %u 像素（%.2f）。请检查屏幕宽度"
                        "和高度，或拍这块屏的照片。",
                        aspect_photo, grid.width, grid.height, aspect_fields));
        return false;
    }
    scale = std::min(std::min(top, bottom) / grid.width, std::min(left, right) / grid.height);
    if (scale < kFinestCamera) {
        refusal =
            Refuse(PhotoOutcome::TooCoarse,
                   Text("照片里每个屏像素只有 %.1f 个照片像素，至少要 %.1f 个才能分清每条模组边缘。请走近些"
                        "拍，或用更高的分辨率拍。",
                        scale, kFinestCamera));
        refusal.photo_pixels_per_wall_pixel = scale;
        refusal.why += RegionAdvice(input.params, input.region ? 0 : photo.Width());
        return false;
    }
    if (view.bending / scale > kMostBending) {
        refusal =
            Refuse(PhotoOutcome::Distortion,
                   Text("镜头把屏的直边拍弯了，去掉镜头畸变后仍差约 %.1f 个屏像素，量不准缝隙。请把变焦调到"
                        "中间（不要用最广角）、退后一些，让屏位于画面中间再拍。",
                        view.bending / scale));
        return false;
    }
    const PointF wall[4] = {{0, 0},
                            {static_cast<double>(grid.width), 0},
                            {static_cast<double>(grid.width), static_cast<double>(grid.height)},
                            {0, static_cast<double>(grid.height)}};
    if (!mapping.plane.Solve(wall, view.corners)) {
        refusal = Refuse(PhotoOutcome::NoWall, "照片里找不到屏：屏的四个角连不成四边形。");
        return false;
    }
    mapping.lens = view.lens;
    return true;
}

// What the lines inside the modules tell of the noise, per direction (0 rows, 1 columns): how much the
// joins' own noise estimates fall short, and the deviation one line in a hundred reaches.
struct InsideLines {
    double noise_scale[2] = {1, 1};
    double tail[2] = {0, 0};
};

std::string MoireAdvice(double percent) {
    return Text(
        "照片上有摩尔纹（屏的发光点与相机的像素互相干涉），读数的起伏约 %.1f %%，量不准缝隙。请把对焦稍微"
        "调虚一点、退后一些，或把变焦调到中间再拍。",
        percent);
}

// Stage 4: a wall whose modules are not the fields' sizes, or a photo whose moire drowns the joins.
bool CheckInsideModules(const WallImage& image, const WallGrid& grid, uint32_t margin, InsideLines& inside,
                        PhotoCorrection& refusal) {
    StrayLines strays[2];
    for (const bool vertical : {false, true}) {
        const StrayLines& stray = strays[vertical ? 1 : 0] =
            FindStrayLines(image, grid, vertical, margin, kStraySeam);
        inside.noise_scale[vertical ? 1 : 0] = stray.noise_scale;
        inside.tail[vertical ? 1 : 0] = stray.tail_percent / 100;
        // Joins inside the modules also make the inside lines uneven: they are named first, before any
        // moire is blamed.
        if (stray.worst_count > 0) {
            refusal = Refuse(
                PhotoOutcome::GridMismatch,
                Text("照片里的缝隙不在参数描述的模组边缘上：%u 个模组内部的第 %u %s像素显出像缝隙的线"
                     "（约 %.1f %%）。参数给的模组是 %u x %u 像素，屏是 %u x %u（%u x %u 个模组）。"
                     "请检查屏幕尺寸和模组尺寸。",
                     stray.worst_count, stray.worst_offset + 1, vertical ? "列" : "行", stray.worst_percent,
                     grid.mod_width, grid.mod_height, grid.width, grid.height, grid.columns, grid.rows));
            return false;
        }
    }
    for (const StrayLines& stray : strays) {
        if (stray.spread_percent > kMoirePercent || stray.tail_percent > kMoireTail) {
            refusal = Refuse(PhotoOutcome::Moire,
                             MoireAdvice(std::max(stray.spread_percent, stray.tail_percent / 3)));
            return false;
        }
    }
    return true;
}

// What the wall gave each record's line: the pattern window's drawn level, or the cards' coefficient,
// relative to the field; with and without the photo mode's calibration lines.
void ShownFactors(const PhotoInput& input, const GridIndex& index, std::vector<double>& shown,
                  std::vector<double>& unmarked) {
    const size_t n = input.grid.size();
    shown.assign(n, 1.0);
    unmarked.assign(n, 1.0);
    const PatternLight pattern(input.params);
    const std::vector<int8_t> signs = input.shown == ShownBy::PhotoMode
                                          ? CalibrationSigns(index, input.first_column, input.first_row)
                                          : std::vector<int8_t>(n, 0);
    for (size_t i = 0; i < n; ++i) {
        const float gain = input.applied.empty() ? input.grid[i].gain : input.applied[i];
        if (input.shown == ShownBy::Cards) {
            shown[i] = unmarked[i] = CardFactor(gain);
        } else {
            unmarked[i] = pattern.Factor(gain);
            shown[i] = pattern.Factor(CalibratedGain(gain, signs[i]));
        }
    }
}

bool SameWall(const PhotoReadings* readings, const ScreenParams& params, size_t joins) {
    return readings != nullptr && readings->factor.size() == joins && readings->uncertainty.size() == joins &&
           readings->measured.size() == joins && readings->shown.size() == joins &&
           readings->screen_width == params.screen_width && readings->screen_height == params.screen_height &&
           readings->mod_width == params.mod_width && readings->mod_height == params.mod_height;
}

// Per join (right joins, then below joins): what the wall gave its lines, with and without the photo
// mode's calibration lines; its place on the wall (-1 .. 1 across and down); and the camera's slope
// there.
struct JoinTable {
    std::vector<double> shown, unmarked, u, v, slope;
};

JoinTable MakeJoinTable(const GridIndex& index, const WallGrid& grid, const std::vector<double>& shown,
                        const std::vector<double>& unmarked) {
    const size_t modules = static_cast<size_t>(index.Modules());
    JoinTable t;
    t.shown.resize(2 * modules), t.unmarked.resize(2 * modules), t.u.resize(2 * modules),
        t.v.resize(2 * modules);
    t.slope.assign(2 * modules, 1.0);
    for (size_t j = 0; j < 2 * modules; ++j) {
        const JoinEdges edges = EdgesOf(index, grid, j);
        t.shown[j] = 0.5 * (shown[edges.a] + shown[edges.b]);
        t.unmarked[j] = 0.5 * (unmarked[edges.a] + unmarked[edges.b]);
        const bool below = j >= modules;
        const size_t m = below ? j - modules : j, c = m % grid.columns, r = m / grid.columns;
        const double x = below ? (c + 0.5) * grid.mod_width : (c + 1.0) * grid.mod_width;
        const double y = below ? (r + 1.0) * grid.mod_height : (r + 0.5) * grid.mod_height;
        t.u[j] = 2 * x / grid.width - 1, t.v[j] = 2 * y / grid.height - 1;
    }
    return t;
}

// Stage 6: the camera's response, from the contrasts the photo carries that the tool knows.
void EstimateResponse(const PhotoInput& input, JoinTable& t, PhotoCorrection& result) {
    const std::vector<float>& measured = result.readings.measured;
    const size_t count = measured.size(), modules = count / 2;
    std::vector<double> x(count, 0.0), y(count, 0.0);
    if (input.shown == ShownBy::PhotoMode) {
        for (size_t j = 0; j < count; ++j) {
            x[j] = t.shown[j] / t.unmarked[j] - 1, y[j] = measured[j];
        }
        // Lines across and lines down may keep their contrast differently (the blur and the sensor's
        // pixels need not be round): a field for each.
        SlopeField fields[2];
        for (int d = 0; d < 2; ++d) {
            const auto from = static_cast<std::ptrdiff_t>(d * modules),
                       to = from + static_cast<std::ptrdiff_t>(modules);
            const auto part = [&](const std::vector<double>& all) {
                return std::vector<double>(all.begin() + from, all.begin() + to);
            };
            fields[d] = FitSlopeField(part(x), part(y), part(t.u), part(t.v), kLeastContrast);
        }
        if (UsableSlope(fields[0].fit) && UsableSlope(fields[1].fit)) {
            for (size_t j = 0; j < count; ++j) {
                t.slope[j] = fields[j < modules ? 0 : 1].At(t.u[j], t.v[j]);
            }
            result.response = ResponseSource::Calibrated;
            result.slope = 0.5 * (fields[0].fit.slope + fields[1].fit.slope);
            return;
        }
    }
    // An earlier calibration of this camera is surer than what a few changed joins tell.
    if (input.remembered_slope > 0) {
        result.response = ResponseSource::Remembered, result.slope = input.remembered_slope;
    } else if (SameWall(input.previous, input.params, count)) {
        for (size_t j = 0; j < count; ++j) {
            x[j] = t.shown[j] / input.previous->shown[j] - 1,
            y[j] = measured[j] - input.previous->measured[j];
        }
        const SlopeFit fit = FitSlope(x, y, kLeastChange);
        if (UsableSlope(fit)) {
            result.response = ResponseSource::FromChange, result.slope = fit.slope;
        }
    }
    std::fill(t.slope.begin(), t.slope.end(), result.slope);
}

// The wheel's gains that make every edge line's mean light equal the field's. A line's two end pixels
// also lie on the crossing edges: they show both joins' factors, and the cards give them the gain of
// whichever edge the gain map writes last there (the left or right edge at the top corners, the bottom
// edge at the bottom-left one, none at the bottom-right one). Those ends count in the line's mean like
// any pixel, so each gain is chosen with its line's ends as they will be, in a few sweeps over the grid.
class GainChooser {
public:
    GainChooser(const GridIndex& index, uint32_t mw, uint32_t mh, const std::vector<float>& factor)
        : index_(index), mw_(mw), mh_(mh), factor_(factor) {}

    // The mean light of edge `block` (0 top, 1 bottom, 2 left, 3 right) of module (c, r) under `gains`,
    // relative to the field.
    double LineMean(const std::vector<float>& gains, int block, uint64_t c, uint64_t r) const {
        const size_t T = At(index_.Top(c, r)), B = At(index_.Bottom(c, r)), L = At(index_.Left(c, r)),
                     R = At(index_.Right(c, r));
        const auto q = [&](size_t i) { return CardFactor(gains[i]); };
        const double fT = factor_[T], fB = factor_[B], fL = factor_[L], fR = factor_[R];
        switch (block) {
        case 0:
            return ((mw_ - 2.0) * fT * q(T) + fT * fL * q(L) + fT * fR * q(R)) / mw_;
        case 1:
            return ((mw_ - 2.0) * fB * q(B) + fB * fL * q(B) + fB * fR) / mw_;
        case 2:
            return ((mh_ - 2.0) * fL * q(L) + fT * fL * q(L) + fB * fL * q(B)) / mh_;
        default:
            return ((mh_ - 2.0) * fR * q(R) + fT * fR * q(R) + fB * fR) / mh_;
        }
    }

    std::vector<float> Choose(const std::vector<float>& start, const std::vector<float>& noise,
                              const std::vector<uint8_t>& measured) const {
        std::vector<float> gains = start;
        for (int sweep = 0; sweep < 3; ++sweep) {
            for (int block = 0; block < 4; ++block) {
                for (uint64_t r = 0; r < index_.rows; ++r) {
                    for (uint64_t c = 0; c < index_.columns; ++c) {
                        const size_t e = At(block * index_.Modules() + index_.Top(c, r));
                        if (measured[e]) {
                            gains[e] = Best(gains, e, block, c, r, start[e], noise[e]);
                        }
                    }
                }
            }
        }
        return gains;
    }

private:
    static size_t At(uint64_t i) { return static_cast<size_t>(i); }

    // The candidates around the gain that cancels the edge's own factor; what the photo cannot tell from
    // its noise stays as it was.
    float Best(std::vector<float>& gains, size_t e, int block, uint64_t c, uint64_t r, float before,
               double noise) const {
        gains[e] = before;
        const double kept = std::fabs(LineMean(gains, block, c, r) - 1.0);
        const float centre = GainCancelling(factor_[e]);
        float best = before;
        double best_error = kept;
        for (int k = -3; k <= 3; ++k) {
            const float g = std::clamp(static_cast<float>(centre + k * kStep), kLowestGain, kHighestGain);
            gains[e] = static_cast<float>(std::lround(g / kStep) * kStep);
            const double error = std::fabs(LineMean(gains, block, c, r) - 1.0);
            if (error < best_error - 1e-12) {
                best = gains[e], best_error = error;
            }
        }
        return kept > noise && kept - best_error > kWorthChanging ? best : before;
    }

    const GridIndex& index_;
    double mw_;
    double mh_;
    const std::vector<float>& factor_;
};

// The largest deviation of any measured edge line under `gains`, and where.
double WorstLine(const GainChooser& chooser, const GridIndex& index, const std::vector<float>& gains,
                 const std::vector<uint8_t>& measured) {
    double worst = 0;
    for (int block = 0; block < 4; ++block) {
        for (uint64_t r = 0; r < index.rows; ++r) {
            for (uint64_t c = 0; c < index.columns; ++c) {
                if (measured[static_cast<size_t>(block * index.Modules() + index.Top(c, r))]) {
                    worst = std::max(worst, std::fabs(chooser.LineMean(gains, block, c, r) - 1.0));
                }
            }
        }
    }
    return worst;
}

std::string JoinName(bool below, uint32_t c, uint32_t r) {
    return "the join " + std::string(below ? "below" : "right of") + " module (" + std::to_string(c) + ", " +
           std::to_string(r) + ")";
}

// How far the joins' readings really stray by noise, from the calibration lines: each shows a contrast
// the tool knows, so what its reading differs from the fitted response is noise (the wall's own seams
// are few and fall out of the median). Per direction, as a multiple of the readings' own estimates.
void CalibratedNoise(const JoinTable& t, const JoinReadings& joins, double scale[2], double& worst) {
    const size_t modules = joins.right.size();
    const auto median = [](std::vector<double>& v) {
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    for (int direction = 0; direction < 2; ++direction) {
        const std::vector<JoinReading>& readings = direction == 0 ? joins.below : joins.right;
        const size_t offset = direction == 0 ? modules : 0;
        std::vector<double> off, claimed;
        for (size_t m = 0; m < modules; ++m) {
            const size_t j = offset + m;
            const double x = t.shown[j] / t.unmarked[j] - 1;
            if (readings[m].measured && std::fabs(x) >= kLeastContrast) {
                off.push_back(std::fabs(readings[m].deviation - t.slope[j] * x));
                claimed.push_back(readings[m].uncertainty);
            }
        }
        if (off.size() >= 8) {
            const double typical = median(claimed), spread = 1.4826 * median(off);
            scale[direction] = typical > 0 ? std::max(0.5, spread / typical) : scale[direction];
            worst = std::max(worst, spread / t.slope[offset]);
        }
    }
}

// Stage 7: every join's own factor (what the wall shows there with nothing applied), from this photo
// and, where they agree within their noise, the earlier photos of the same wall: each photo more makes
// the estimate surer.
void JoinFactors(const PhotoInput& input, const JoinReadings& joins, const JoinTable& t,
                 PhotoCorrection& result) {
    PhotoReadings& r = result.readings;
    const size_t count = r.measured.size(), modules = count / 2;
    r.factor.assign(count, std::numeric_limits<float>::quiet_NaN());
    r.uncertainty.assign(count, std::numeric_limits<float>::quiet_NaN());
    const bool earlier = SameWall(input.previous, input.params, count);
    for (size_t j = 0; j < count; ++j) {
        const JoinReading& reading = j < modules ? joins.right[j] : joins.below[j - modules];
        if (!reading.measured) {
            continue;
        }
        double f = (1 + reading.deviation / t.slope[j]) / t.shown[j];
        double u = reading.uncertainty / t.slope[j] / t.shown[j];
        if (earlier && std::isfinite(input.previous->factor[j]) && input.previous->uncertainty[j] > 0) {
            // Photos from the same place share much of their error (the moire falls alike): their mean
            // is no surer than the surer of them.
            const double f0 = input.previous->factor[j], u0 = input.previous->uncertainty[j];
            if (std::fabs(f - f0) <= 3 * std::hypot(u, u0)) {
                const double w = 1 / (u * u), w0 = 1 / (u0 * u0);
                f = (w * f + w0 * f0) / (w + w0);
                u = std::min(u, u0);
            }
        }
        r.factor[j] = static_cast<float>(f);
        r.uncertainty[j] = static_cast<float>(u);
    }
}

// The gain to keep where the photo tells nothing: the operator's own when the wall showed it, else the
// wheel's step nearest to what the wall showed that the cards show alike.
float StartGain(float applied, float operators) {
    if (QuantiseGain(operators) == QuantiseGain(applied)) {
        return operators;
    }
    float best = applied;
    for (int k = 140; k <= 280; ++k) {
        const float g = static_cast<float>(k * kStep);
        if (QuantiseGain(g) == QuantiseGain(applied) &&
            std::fabs(g - applied) < std::fabs(best - applied) + 1e-9f) {
            best = g;
        }
    }
    return best;
}

// Stages 8 and 9: the gains that cancel every join's own factor, and what the result says.
void ChooseAndDescribe(const PhotoInput& input, const GridIndex& index, const WallGrid& grid,
                       const std::vector<double>& unmarked, const InsideLines& inside,
                       PhotoCorrection& result) {
    const size_t n = input.grid.size(), modules = static_cast<size_t>(index.Modules());
    std::vector<float> factor(n, 1.0f), noise(n, 0.0f), start(n);
    std::vector<uint8_t> measured(n, 0);
    for (size_t i = 0; i < n; ++i) {
        start[i] =
            input.applied.empty() ? input.grid[i].gain : StartGain(input.applied[i], input.grid[i].gain);
    }
    // A join is changed only when its reading stands out of its noise by three standard deviations: a
    // change made on noise leaves a join that was right wrong.
    constexpr double chance = 3.0;
    for (size_t j = 0; j < 2 * modules; ++j) {
        const float f = result.readings.factor[j];
        if (!std::isfinite(f)) {
            continue;
        }
        const JoinEdges edges = EdgesOf(index, grid, j);
        for (const size_t e : {edges.a, edges.b}) {
            factor[e] = f;
            // Nor when it reads less than the lines inside the modules, which show no join, reach.
            const double tail = inside.tail[j < modules ? 1 : 0] / result.slope;
            noise[e] =
                static_cast<float>(std::max({kNoiseFloor, tail, chance * result.readings.uncertainty[j]}));
            measured[e] = 1;
        }
        // How the join looks with the gains the operator has, calibration lines aside.
        const double seen = f * unmarked[edges.a];
        const bool below = j >= modules;
        const uint32_t m = static_cast<uint32_t>(below ? j - modules : j);
        if (std::fabs(seen - 1) * 100.0 > result.largest_percent) {
            result.largest_percent = std::fabs(seen - 1) * 100.0;
            result.largest_brighter = seen > 1;
            result.largest_below = below;
            result.largest_column = m % grid.columns;
            result.largest_row = m / grid.columns;
            result.largest_where = JoinName(below, result.largest_column, result.largest_row);
        }
    }
    const GainChooser chooser(index, grid.mod_width, grid.mod_height, factor);
    result.gains = chooser.Choose(start, noise, measured);
    result.predicted_percent = 100.0 * WorstLine(chooser, index, result.gains, measured);
    // Never a wall made worse: gains that would not show better than the start change nothing.
    const double now = 100.0 * WorstLine(chooser, index, start, measured);
    if (result.predicted_percent >= now && result.gains != start) {
        result.outcome = PhotoOutcome::NoImprovement;
        result.why = Text(
            "照片校正没有改动增益：按这张照片算出的增益不会让屏比现在更平（现在最大偏差约 %.2f %%）。", now);
        result.gains.clear();
        return;
    }
    for (size_t j = 0; j < 2 * modules; ++j) {
        const JoinEdges edges = EdgesOf(index, grid, j);
        if (result.gains[edges.a] != input.grid[edges.a].gain ||
            result.gains[edges.b] != input.grid[edges.b].gain) {
            ++result.changed_seams;
        }
    }
}

} // namespace

float GainCancelling(double factor) {
    if (!(factor > 0)) {
        return 1.0f;
    }
    const double wanted = 1.0 / factor;
    float best = 1.0f;
    double best_error = 1e9, best_distance = 1e9;
    for (int k = 140; k <= 280; ++k) { // 0.7 .. 1.4 in steps of 0.005
        const float gain = static_cast<float>(k * kStep);
        const double error = std::fabs(CardFactor(gain) * factor - 1.0);
        const double distance = std::fabs(gain - wanted);
        if (error < best_error - 1e-12 || (error < best_error + 1e-12 && distance < best_distance)) {
            best = gain, best_error = error, best_distance = distance;
        }
    }
    return std::clamp(best, kLowestGain, kHighestGain);
}

namespace {

// What one photo read of its wall, before any gain is chosen.
struct Measurement {
    PhotoCorrection result; // the refusal, or the readings, the camera's response and the scale
    WallGrid grid;
    InsideLines inside;
    std::vector<double> unmarked;
};

// Stages 1 to 7.
bool Measure(const GrayPhoto& photo, const PhotoInput& input, uint64_t budget, Measurement& m) {
    PhotoCorrection& result = m.result;
    WallGrid& grid = m.grid;
    WallMapping mapping;
    double scale = 0;
    if (!CheckGrid(input, budget, true, grid, result) ||
        !LocateWall(photo, input, grid, mapping, scale, result)) {
        return false;
    }
    WallImage image;
    RectifyWall(photo, mapping, SrgbToLinearTable(), grid.width, grid.height, image);
    // The crossing joins' lines run through a band and its field alike; only their own few pixels differ.
    const uint32_t margin = 1;
    InsideLines& inside = m.inside;
    double* noise_scale = inside.noise_scale;
    if (!CheckInsideModules(image, grid, margin, inside, result)) {
        return false;
    }
    JoinReadings joins = MeasureJoins(image, grid, margin);
    image = WallImage{}; // the joins are all it was for

    result.outcome = PhotoOutcome::Corrected;
    result.photo_pixels_per_wall_pixel = scale;
    const GridIndex index{grid.columns, grid.rows};
    const size_t modules = static_cast<size_t>(index.Modules());
    std::vector<double> shown;
    ShownFactors(input, index, shown, m.unmarked);
    PhotoReadings& readings = result.readings;
    readings.screen_width = input.params.screen_width, readings.screen_height = input.params.screen_height;
    readings.mod_width = input.params.mod_width, readings.mod_height = input.params.mod_height;
    readings.measured.assign(2 * modules, std::numeric_limits<float>::quiet_NaN());
    readings.shown.assign(2 * modules, 1.0f);
    JoinTable table = MakeJoinTable(index, grid, shown, m.unmarked);
    for (size_t j = 0; j < 2 * modules; ++j) {
        const JoinReading& reading = j < modules ? joins.right[j] : joins.below[j - modules];
        readings.shown[j] = static_cast<float>(table.shown[j]);
        if (reading.measured) {
            readings.measured[j] = reading.deviation;
        }
    }
    EstimateResponse(input, table, result);
    if (result.response == ResponseSource::Calibrated) {
        double spread = 0;
        CalibratedNoise(table, joins, noise_scale, spread);
        if (spread > kMoireCalibration) {
            result = Refuse(PhotoOutcome::Moire, MoireAdvice(100 * spread));
            return false;
        }
    }
    for (JoinReading& r : joins.right) {
        r.uncertainty *= static_cast<float>(noise_scale[1]);
    }
    for (JoinReading& r : joins.below) {
        r.uncertainty *= static_cast<float>(noise_scale[0]);
    }
    JoinFactors(input, joins, table, result);
    return true;
}

// A picture file's photo, decoded within `budget`; `left` is what the budget holds beside its pixels.
// False, with the refusal, for what is no picture or too large a one.
bool DecodeWithin(const uint8_t* bytes, size_t size, uint64_t budget, GrayPhoto& photo, uint64_t& left,
                  PhotoCorrection& refusal) {
    std::string why;
    const PictureStatus status = DecodePhoto(bytes, size, budget, photo, why);
    if (status != PictureStatus::Ok) {
        refusal = Refuse(
            status == PictureStatus::TooLarge ? PhotoOutcome::TooLarge : PhotoOutcome::NotAPicture, why);
        return false;
    }
    const uint64_t photo_bytes = static_cast<uint64_t>(photo.Width()) * photo.Height();
    left = budget > photo_bytes ? budget - photo_bytes : 0;
    return true;
}

PhotoCorrection Correct(const GrayPhoto& photo, const PhotoInput& input, uint64_t budget) {
    Measurement m;
    if (Measure(photo, input, budget, m)) {
        const GridIndex index{m.grid.columns, m.grid.rows};
        ChooseAndDescribe(input, index, m.grid, m.unmarked, m.inside, m.result);
    }
    return m.result;
}

} // namespace

PhotoCorrection CorrectFromPhoto(const GrayPhoto& photo, const PhotoInput& input) {
    return Correct(photo, input, input.budget);
}

PhotoCorrection CorrectFromPhotoFile(const uint8_t* bytes, size_t size, const PhotoInput& input) {
    GrayPhoto photo;
    uint64_t left = 0;
    PhotoCorrection refusal;
    return DecodeWithin(bytes, size, input.budget, photo, left, refusal) ? Correct(photo, input, left)
                                                                         : refusal;
}

namespace {

// A region's own records, in its own order, from the wall's: module (c, r) of the region is module
// (first_column + c, first_row + r) of the wall.
template <typename T>
std::vector<T> RegionRecords(const std::vector<T>& wall, const GridIndex& whole, const GridIndex& part,
                             uint64_t first_column, uint64_t first_row) {
    std::vector<T> records(static_cast<size_t>(4 * part.Modules()));
    for (uint64_t block = 0; block < 4; ++block) {
        for (uint64_t r = 0; r < part.rows; ++r) {
            for (uint64_t c = 0; c < part.columns; ++c) {
                records[static_cast<size_t>(block * part.Modules() + part.Top(c, r))] =
                    wall[static_cast<size_t>(block * whole.Modules() +
                                             whole.Top(first_column + c, first_row + r))];
            }
        }
    }
    return records;
}

bool WholeModulesOf(const PhotoRegion& region, int32_t width, int32_t height, int32_t mw, int32_t mh) {
    return mw > 0 && mh > 0 && width > 0 && height > 0 && region.width > 0 && region.height > 0 &&
           region.x % static_cast<uint32_t>(mw) == 0 && region.y % static_cast<uint32_t>(mh) == 0 &&
           region.width % static_cast<uint32_t>(mw) == 0 && region.height % static_cast<uint32_t>(mh) == 0 &&
           static_cast<uint64_t>(region.x) + region.width <= static_cast<uint64_t>(width) &&
           static_cast<uint64_t>(region.y) + region.height <= static_cast<uint64_t>(height);
}

bool HoldsJoins(const PhotoReadings& r, uint64_t modules) {
    const size_t n = static_cast<size_t>(2 * modules);
    return r.measured.size() == n && r.shown.size() == n && r.factor.size() == n && r.uncertainty.size() == n;
}

} // namespace

bool MergeRegionReadings(const PhotoReadings& part, const PhotoRegion& region, PhotoReadings& into) {
    const int32_t mw = into.mod_width, mh = into.mod_height;
    if (!WholeModulesOf(region, into.screen_width, into.screen_height, mw, mh) || part.mod_width != mw ||
        part.mod_height != mh || part.screen_width != static_cast<int64_t>(region.width) ||
        part.screen_height != static_cast<int64_t>(region.height)) {
        return false;
    }
    const GridIndex whole{static_cast<uint64_t>(into.screen_width / mw),
                          static_cast<uint64_t>(into.screen_height / mh)};
    const GridIndex own{region.width / static_cast<uint32_t>(mw), region.height / static_cast<uint32_t>(mh)};
    if (!HoldsJoins(part, own.Modules()) || !HoldsJoins(into, whole.Modules())) {
        return false;
    }
    const uint64_t c0 = region.x / static_cast<uint32_t>(mw), r0 = region.y / static_cast<uint32_t>(mh);
    for (uint64_t j = 0; j < 2 * own.Modules(); ++j) {
        const bool below = j >= own.Modules();
        const uint64_t m = below ? j - own.Modules() : j;
        const size_t from = static_cast<size_t>(j);
        const size_t to = static_cast<size_t>((below ? whole.Modules() : 0) +
                                              whole.Top(c0 + m % own.columns, r0 + m / own.columns));
        const double f = part.factor[from], u = std::max(1e-6, static_cast<double>(part.uncertainty[from]));
        if (!std::isfinite(f) || !std::isfinite(u)) {
            continue;
        }
        const double f0 = into.factor[to], u0 = std::max(1e-6, static_cast<double>(into.uncertainty[to]));
        if (!std::isfinite(f0) || !std::isfinite(u0) || u < u0) {
            // The surer photo's reading and what its wall showed stand for the join.
            into.measured[to] = part.measured[from], into.shown[to] = part.shown[from];
        }
        if (!std::isfinite(f0) || !std::isfinite(u0)) {
            into.factor[to] = static_cast<float>(f), into.uncertainty[to] = static_cast<float>(u);
            continue;
        }
        const double w = 1 / (u * u), w0 = 1 / (u0 * u0);
        into.factor[to] = static_cast<float>((w * f + w0 * f0) / (w + w0));
        into.uncertainty[to] = static_cast<float>(1 / std::sqrt(w + w0));
    }
    return true;
}

namespace {

// Photo k of `region`, decoded and measured as a photo of the whole wall would be, within its region and
// with the camera's response of its own; `kept` bytes of the budget stay taken meanwhile. False, with
// the outcome and why in `m.result`, when it cannot be used.
bool MeasureRegion(const PhotoInput& input, const WallGrid& grid, const PhotoRegion& region,
                   const RegionPhotoSource& photos, size_t k, uint64_t kept, Measurement& m) {
    if (!WholeModulesOf(region, input.params.screen_width, input.params.screen_height, input.params.mod_width,
                        input.params.mod_height)) {
        m.result = Refuse(PhotoOutcome::GridMismatch,
                          "这个区域不在参数描述的屏上，请在测试画面里重新显示照片分区。");
        return false;
    }
    PhotoInput part = input;
    part.params.screen_width = static_cast<int32_t>(region.width);
    part.params.screen_height = static_cast<int32_t>(region.height);
    part.region = true;
    part.first_column = region.x / grid.mod_width, part.first_row = region.y / grid.mod_height;
    part.previous = nullptr; // the last photo's readings are the whole wall's
    const GridIndex whole{grid.columns, grid.rows},
        own{region.width / grid.mod_width, region.height / grid.mod_height};
    const uint64_t own_bytes = 4 * own.Modules() * (sizeof(SeamSegment) + sizeof(float));
    if (kept + own_bytes > input.budget) {
        m.result = Refuse(PhotoOutcome::TooLarge,
                          Text("需要 %s 内存；现在只能用 %s。", FormatBytes(kept + own_bytes).c_str(),
                               FormatBytes(input.budget).c_str()));
        return false;
    }
    part.grid = RegionRecords(input.grid, whole, own, part.first_column, part.first_row);
    if (!input.applied.empty()) {
        part.applied = RegionRecords(input.applied, whole, own, part.first_column, part.first_row);
    }
    std::vector<uint8_t> bytes;
    std::string why;
    if (!photos(k, bytes, why)) {
        m.result = Refuse(PhotoOutcome::NotAPicture, why);
        return false;
    }
    uint64_t budget = input.budget - kept - own_bytes;
    budget = budget > bytes.size() ? budget - bytes.size() : 0;
    GrayPhoto photo;
    uint64_t left = 0;
    const bool decoded = DecodeWithin(bytes.data(), bytes.size(), budget, photo, left, m.result);
    std::vector<uint8_t>().swap(bytes); // decoded: one copy of the photo is enough
    return decoded && Measure(photo, part, left, m);
}

} // namespace

PhotoCorrection CorrectFromRegionPhotos(const PhotoInput& input, const std::vector<PhotoRegion>& regions,
                                        const RegionPhotoSource& photos) {
    PhotoCorrection result;
    WallGrid grid;
    if (!CheckGrid(input, input.budget, false, grid, result)) {
        return result;
    }
    const GridIndex whole{grid.columns, grid.rows};
    const size_t joins = static_cast<size_t>(2 * whole.Modules());
    PhotoReadings& merged = result.readings;
    merged.screen_width = input.params.screen_width, merged.screen_height = input.params.screen_height;
    merged.mod_width = input.params.mod_width, merged.mod_height = input.params.mod_height;
    merged.measured.assign(joins, std::numeric_limits<float>::quiet_NaN());
    merged.shown.assign(joins, 1.0f);
    merged.factor = merged.uncertainty = merged.measured;
    // What stays while each photo is measured: the wall's readings and its grid.
    const uint64_t kept =
        joins * 4 * sizeof(float) + input.grid.size() * (sizeof(SeamSegment) + sizeof(float));
    PhotoOutcome first_refusal = PhotoOutcome::NotAPicture;
    double tail[2] = {0, 0}, slopes = 0, scale = 0;
    size_t used = 0;
    bool calibrated = true;
    ResponseSource other = ResponseSource::Assumed;
    for (size_t k = 0; k < regions.size(); ++k) {
        const PhotoRegion& region = regions[k];
        const auto unusable = [&](PhotoOutcome outcome, const std::string& reason) {
            first_refusal = result.unusable.empty() ? outcome : first_refusal;
            result.unusable.push_back(Text("第 %u 张照片（区域 %u）不能用：%s", static_cast<unsigned>(k + 1),
                                           static_cast<unsigned>(k + 1), reason.c_str()));
        };
        Measurement m;
        if (!MeasureRegion(input, grid, region, photos, k, kept, m) ||
            !MergeRegionReadings(m.result.readings, region, merged)) {
            unusable(m.result.outcome, m.result.why);
            continue;
        }
        ++used;
        slopes += m.result.slope;
        scale = used == 1 ? m.result.photo_pixels_per_wall_pixel
                          : std::min(scale, m.result.photo_pixels_per_wall_pixel);
        for (int d = 0; d < 2; ++d) {
            tail[d] = std::max(tail[d], m.inside.tail[d] / m.result.slope);
        }
        if (m.result.response != ResponseSource::Calibrated) {
            other = calibrated ? m.result.response : other;
            calibrated = false;
        }
    }
    if (used == 0) {
        std::string why = "没有一张照片能用：";
        for (const std::string& line : result.unusable) {
            why += "\n" + line;
        }
        return Refuse(first_refusal, why);
    }
    result.outcome = PhotoOutcome::Corrected;
    result.photo_pixels_per_wall_pixel = scale;
    result.response = calibrated ? ResponseSource::Calibrated : other;
    result.slope = slopes / static_cast<double>(used);
    InsideLines inside;
    for (int d = 0; d < 2; ++d) {
        inside.tail[d] = tail[d] * result.slope; // each photo's tail in its own camera's terms
    }
    std::vector<double> shown, unmarked;
    ShownFactors(input, whole, shown, unmarked);
    ChooseAndDescribe(input, whole, grid, unmarked, inside, result);
    return result;
}
