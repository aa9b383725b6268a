#include "photo/seam_photo.h"

#include "hardware/coefficient_block.h"
#include "lib/baselib/memory_budget.h"
#include "photo/homography.h"
#include "photo/linear_light.h"
#include "photo/wall_finder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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
// A line inside the modules that differs this much from its surround is a seam the grid does not know.
constexpr double kStraySeam = 0.015;

std::string Format(const char* format, double a, double b = 0, double c = 0, double d = 0) {
    char text[256];
    std::snprintf(text, sizeof(text), format, a, b, c, d);
    return text;
}

// What a card makes of a gain: its coefficient over 128.
double CardFactor(float gain) {
    return QuantiseGain(gain) / 128.0;
}

// The wall's picture at its pixels: linear light averaged over nine points spread across the pixel, so
// that every photo pixel it covers counts and the photo's noise averages out.
class WallSampler {
public:
    WallSampler(const GrayPhoto& photo, const Homography& h)
        : photo_(photo), h_(h), table_(SrgbToLinearTable()) {}
    float At(double x, double y) const {
        float sum = 0;
        for (const double dy : {-1.0 / 3, 0.0, 1.0 / 3}) {
            for (const double dx : {-1.0 / 3, 0.0, 1.0 / 3}) {
                const PointF p = h_.Map(x + dx, y + dy);
                sum += SampleLinear(photo_, table_, p.x, p.y);
            }
        }
        return sum / 9.0f;
    }

private:
    const GrayPhoto& photo_;
    const Homography& h_;
    const float* table_;
};

float Median(std::vector<float>& values) {
    if (values.empty()) {
        return 0;
    }
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    return values[middle];
}

// The mean of the middle half: nearly as steady as the mean under noise, as deaf as the median to the
// crossing seams and specks at a line's ends.
float MiddleMean(std::vector<float>& values, float& uncertainty) {
    uncertainty = 0;
    if (values.size() < 4) {
        return Median(values);
    }
    std::sort(values.begin(), values.end());
    // The spread of the samples (from their quartiles) over the root of their count, a little more for
    // the trimming: how far the mean may be off by noise.
    const size_t n = values.size();
    uncertainty =
        static_cast<float>((values[n - 1 - n / 4] - values[n / 4]) / 1.349 * 1.2 / std::sqrt(double(n)));
    const size_t from = values.size() / 4, to = values.size() - values.size() / 4;
    double sum = 0;
    for (size_t i = from; i < to; ++i) {
        sum += values[i];
    }
    return static_cast<float>(sum / static_cast<double>(to - from));
}

// The blur of the photo across a border of the wall, in wall pixels: the standard deviation of the
// spread a sharp step shows (the distance from its quarter to its three-quarter rise is 1.349 of them).
// `across(t, s)` is the wall point t pixels inside the border at the s-th place along it.
template <typename Across> double BorderBlur(const WallSampler& sampler, int places, Across across) {
    constexpr int kSteps = 49; // -3 .. 3 wall pixels in eighths
    std::vector<float> profile(kSteps), column(static_cast<size_t>(places));
    for (int i = 0; i < kSteps; ++i) {
        const double t = -3.0 + i * 0.125;
        for (int s = 0; s < places; ++s) {
            const PointF p = across(t, s);
            column[static_cast<size_t>(s)] = sampler.At(p.x, p.y);
        }
        profile[static_cast<size_t>(i)] = Median(column);
    }
    const double dark = (profile[0] + profile[1] + profile[2]) / 3.0;
    const double lit = (profile[kSteps - 1] + profile[kSteps - 2] + profile[kSteps - 3]) / 3.0;
    if (lit <= dark) {
        return 0.5;
    }
    double rise[2] = {-1, -1};
    const double levels[2] = {dark + 0.25 * (lit - dark), dark + 0.75 * (lit - dark)};
    for (int k = 0; k < 2; ++k) {
        for (int i = 0; i + 1 < kSteps; ++i) {
            if (profile[static_cast<size_t>(i)] < levels[k] &&
                profile[static_cast<size_t>(i + 1)] >= levels[k]) {
                const double f = (levels[k] - profile[static_cast<size_t>(i)]) /
                                 (profile[static_cast<size_t>(i + 1)] - profile[static_cast<size_t>(i)]);
                rise[k] = -3.0 + (i + f) * 0.125;
                break;
            }
        }
    }
    if (rise[0] < -2.9 || rise[1] < rise[0]) {
        return 0.5;
    }
    return std::clamp((rise[1] - rise[0]) / 1.349, 0.05, 3.0);
}

// The share of a one-pixel line's light that its own sample keeps (k0) and that the next line's sample
// receives (k1), for a blur of `sigma` wall pixels.
void LineSpread(double sigma, double& k0, double& k1) {
    const double s = sigma * std::sqrt(2.0);
    k0 = std::erf(0.5 / s);
    k1 = 0.5 * (std::erf(1.5 / s) - std::erf(0.5 / s));
}

// The rectified wall, one linear-light value per wall pixel.
struct Rectified {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<float> light;
    float At(uint32_t x, uint32_t y) const { return light[static_cast<size_t>(y) * width + x]; }
};

// Two neighbouring lines a and a+1 (rows, or columns when `vertical`) from `from` to `to` along them,
// each as its median deviation from the field `near` and `far` lines beyond the pair on either side.
struct LinePair {
    float a = 0;
    float b = 0;
    float uncertainty = 0; // of either, from the noise of their samples
};

LinePair MeasurePair(const Rectified& r, bool vertical, uint32_t a, uint32_t from, uint32_t to, uint32_t near,
                     uint32_t far, std::vector<float>& da, std::vector<float>& db, bool quick) {
    da.clear();
    db.clear();
    const auto at = [&](uint32_t across, uint32_t along) {
        return vertical ? r.At(across, along) : r.At(along, across);
    };
    for (uint32_t p = from; p < to; ++p) {
        const float field =
            0.25f * (at(a - near, p) + at(a - far, p) + at(a + 1 + near, p) + at(a + 1 + far, p));
        if (field <= 0) {
            continue;
        }
        da.push_back(at(a, p) / field - 1.0f);
        db.push_back(at(a + 1, p) / field - 1.0f);
    }
    if (quick) {
        return {Median(da), Median(db), 0};
    }
    float ua = 0, ub = 0;
    LinePair pair{MiddleMean(da, ua), MiddleMean(db, ub), 0};
    pair.uncertainty = std::max(ua, ub);
    return pair;
}

std::string JoinName(bool below, uint32_t c, uint32_t r) {
    return "the join " + std::string(below ? "below" : "right of") + " module (" + std::to_string(c) + ", " +
           std::to_string(r) + ")";
}

PhotoCorrection Refuse(PhotoOutcome outcome, std::string why) {
    PhotoCorrection result;
    result.outcome = outcome;
    result.why = std::move(why);
    return result;
}

// The gains that make every edge line's mean light equal the field's. A line's two end pixels also lie
// on the crossing edges: they show both joins' factors, and the cards give them the gain of whichever
// edge the gain map writes last there (the left or right edge at the top corners, the bottom edge at
// the bottom-left one, none at the bottom-right one). Those ends count in the line's mean like any
// pixel, so each gain is chosen with its line's ends as they will be, in a few sweeps over the grid.
std::vector<float> ChooseGains(const std::vector<float>& factor, const std::vector<float>& start,
                               const std::vector<float>& uncertainty, const std::vector<uint8_t>& measured,
                               uint32_t cols, uint32_t rows, uint32_t mw, uint32_t mh) {
    const size_t N = static_cast<size_t>(cols) * rows;
    std::vector<float> gains = start;
    const auto q = [&](size_t i) { return CardFactor(gains[i]); };
    // The mean of the line of edge `e` (block 0 top, 1 bottom, 2 left, 3 right) of module m.
    const auto line_mean = [&](int block, size_t m) {
        const size_t T = m, B = N + m, L = 2 * N + m, R = 3 * N + m;
        const double fT = factor[T], fB = factor[B], fL = factor[L], fR = factor[R];
        switch (block) {
        case 0:
            return ((mw - 2.0) * fT * q(T) + fT * fL * q(L) + fT * fR * q(R)) / mw;
        case 1:
            return ((mw - 2.0) * fB * q(B) + fB * fL * q(B) + fB * fR) / mw;
        case 2:
            return ((mh - 2.0) * fL * q(L) + fT * fL * q(L) + fB * fL * q(B)) / mh;
        default:
            return ((mh - 2.0) * fR * q(R) + fT * fR * q(R) + fB * fR) / mh;
        }
    };
    for (int sweep = 0; sweep < 3; ++sweep) {
        for (int block = 0; block < 4; ++block) {
            for (size_t m = 0; m < N; ++m) {
                const size_t e = block * N + m;
                if (!measured[e]) {
                    continue;
                }
                const float before = start[e];
                gains[e] = before;
                const double kept = std::fabs(line_mean(block, m) - 1.0);
                // The candidates around the gain that cancels the edge's own factor.
                const float centre = GainCancelling(factor[e]);
                float best = before;
                double best_error = kept;
                for (int k = -3; k <= 3; ++k) {
                    const float g =
                        std::clamp(static_cast<float>(centre + k * kStep), kLowestGain, kHighestGain);
                    gains[e] = static_cast<float>(std::lround(g / kStep) * kStep);
                    const double error = std::fabs(line_mean(block, m) - 1.0);
                    if (error < best_error - 1e-12) {
                        best = gains[e], best_error = error;
                    }
                }
                // What the photo cannot tell from its noise stays as it was.
                const double noise = std::max(kNoiseFloor, 2.5 * uncertainty[e]);
                gains[e] = kept > noise && kept - best_error > kWorthChanging ? best : before;
            }
        }
    }
    return gains;
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

PhotoCorrection CorrectFromPhoto(const GrayPhoto& photo, const ScreenParams& params,
                                 const std::vector<SeamSegment>& grid, bool refine, uint64_t budget) {
    const int32_t W = params.screen_width, H = params.screen_height, mw = params.mod_width,
                  mh = params.mod_height;
    if (W <= 0 || H <= 0 || mw < kSmallestModule || mh < kSmallestModule || W % mw != 0 || H % mh != 0) {
        return Refuse(PhotoOutcome::UnusableGrid,
                      "The fields describe no grid a photo can be measured against: the screen (" +
                          std::to_string(W) + " x " + std::to_string(H) +
                          ") must be a whole number of modules (" + std::to_string(mw) + " x " +
                          std::to_string(mh) + "), each at least " + std::to_string(kSmallestModule) +
                          " pixels wide and high.");
    }
    const uint32_t cols = static_cast<uint32_t>(W / mw), rows = static_cast<uint32_t>(H / mh);
    const uint64_t modules = static_cast<uint64_t>(cols) * rows;
    if (grid.size() != 4 * modules) {
        return Refuse(PhotoOutcome::UnusableGrid, "The seam grid does not belong to the fields' sizes.");
    }
    const uint64_t need = static_cast<uint64_t>(W) * static_cast<uint64_t>(H) * sizeof(float) +
                          4 * modules * sizeof(float) + 64 * static_cast<uint64_t>(W + H);
    if (need > budget) {
        return Refuse(PhotoOutcome::TooLarge, "Measuring a screen of " + std::to_string(W) + " x " +
                                                  std::to_string(H) + " pixels needs " + FormatBytes(need) +
                                                  " of memory; " + FormatBytes(budget) + " can be used now.");
    }
    WallQuad quad;
    std::string why;
    if (!FindWall(photo, quad, why)) {
        return Refuse(PhotoOutcome::NoWall, why);
    }
    const PointF* c = quad.corners;
    const double top = std::hypot(c[1].x - c[0].x, c[1].y - c[0].y);
    const double right = std::hypot(c[2].x - c[1].x, c[2].y - c[1].y);
    const double bottom = std::hypot(c[3].x - c[2].x, c[3].y - c[2].y);
    const double left = std::hypot(c[0].x - c[3].x, c[0].y - c[3].y);
    const double aspect_photo = (top + bottom) / (left + right), aspect_fields = static_cast<double>(W) / H;
    if (aspect_photo > aspect_fields * 1.15 || aspect_photo * 1.15 < aspect_fields) {
        return Refuse(
            PhotoOutcome::GridMismatch,
            Format("The wall in the photo is about %.2f times as wide as high, but the fields describe a "
                   "screen of %.0f x %.0f pixels (%.2f). Check the screen size, or take a photo of "
                   "this screen.",
                   aspect_photo, W, H, aspect_fields));
    }
    const double scale = std::min(std::min(top, bottom) / W, std::min(left, right) / H);
    if (scale < kFinestCamera) {
        PhotoCorrection refused = Refuse(
            PhotoOutcome::TooCoarse,
            Format("The camera gives only %.1f photo pixels per wall pixel; at least %.1f are needed to tell "
                   "each "
                   "module edge from its neighbour. Take the photo from closer or at a higher resolution.",
                   scale, kFinestCamera));
        refused.photo_pixels_per_wall_pixel = scale;
        return refused;
    }
    Homography h;
    const PointF wall[4] = {{0, 0},
                            {static_cast<double>(W), 0},
                            {static_cast<double>(W), static_cast<double>(H)},
                            {0, static_cast<double>(H)}};
    if (!h.Solve(wall, quad.corners)) {
        return Refuse(PhotoOutcome::NoWall,
                      "No wall was found in the photo: its corners do not form a quadrilateral.");
    }
    const WallSampler sampler(photo, h);

    // How far the photo spreads a line, across rows (horizontal seams) and across columns.
    const int places = static_cast<int>(std::max(cols, rows) * 2);
    const auto along_x = [&](int s) { return (s + 0.5) * W / places; };
    const auto along_y = [&](int s) { return (s + 0.5) * H / places; };
    const double blur_x = 0.5 * (BorderBlur(sampler, places,
                                            [&](double t, int s) {
                                                return PointF{t, along_y(s)};
                                            }) +
                                 BorderBlur(sampler, places, [&](double t, int s) {
                                     return PointF{W - t, along_y(s)};
                                 }));
    const double blur_y = 0.5 * (BorderBlur(sampler, places,
                                            [&](double t, int s) {
                                                return PointF{along_x(s), t};
                                            }) +
                                 BorderBlur(sampler, places, [&](double t, int s) {
                                     return PointF{along_x(s), H - t};
                                 }));

    Rectified r;
    r.width = static_cast<uint32_t>(W);
    r.height = static_cast<uint32_t>(H);
    r.light.resize(static_cast<size_t>(W) * H);
    for (uint32_t y = 0; y < r.height; ++y) {
        float* row = &r.light[static_cast<size_t>(y) * r.width];
        for (uint32_t x = 0; x < r.width; ++x) {
            row[x] = sampler.At(x + 0.5, y + 0.5);
        }
    }

    std::vector<float> da, db;
    da.reserve(static_cast<size_t>(std::max(mw, mh)));
    db.reserve(static_cast<size_t>(std::max(mw, mh)));

    // Lines inside the modules that show a seam: the photo's wall is not the one the fields describe.
    for (int vertical = 0; vertical < 2; ++vertical) {
        const uint32_t dim = static_cast<uint32_t>(vertical ? mw : mh),
                       len = static_cast<uint32_t>(vertical ? mh : mw);
        const uint32_t lines = vertical ? cols : rows, segments = vertical ? rows : cols;
        const uint32_t far = dim >= 12 ? 4 : 3, near = far - 1, margin = 3;
        for (uint32_t l = 0; l < lines; ++l) {
            for (uint32_t off = far + 1; off + far + 3 <= dim; ++off) {
                const uint32_t a = l * dim + off;
                for (uint32_t s = 0; s < segments; ++s) {
                    const LinePair p = MeasurePair(r, vertical != 0, a, s * len + margin,
                                                   (s + 1) * len - margin, near, far, da, db, true);
                    if ((p.a > 0) == (p.b > 0) && std::min(std::fabs(p.a), std::fabs(p.b)) > kStraySeam) {
                        return Refuse(
                            PhotoOutcome::GridMismatch,
                            Format(
                                "The seams in the photo do not lie on the module edges the fields describe: "
                                "a line %.1f %% ",
                                100.0 * std::fabs(p.a)) +
                                (p.a > 0 ? "brighter" : "darker") +
                                " than its surround runs inside the modules, along pixel " +
                                (vertical ? "column " : "row ") + std::to_string(a) +
                                ". Expected modules of " + std::to_string(mw) + " x " + std::to_string(mh) +
                                " pixels on a screen of " + std::to_string(W) + " x " + std::to_string(H) +
                                " (" + std::to_string(cols) + " x " + std::to_string(rows) +
                                " modules). Check the screen and module sizes.");
                    }
                }
            }
        }
    }

    PhotoCorrection result;
    result.outcome = PhotoOutcome::Corrected;
    result.photo_pixels_per_wall_pixel = scale;
    const size_t N = static_cast<size_t>(modules);
    // Per edge: the factor the wall itself gives its line (1 for the outer border, which faces no join
    // and is not measured), the gain it starts from, and whether the photo measured it.
    std::vector<float> factor(grid.size(), 1.0f), start(grid.size()), uncertainty(grid.size(), 0.0f);
    std::vector<uint8_t> measured(grid.size(), 0);
    for (size_t i = 0; i < grid.size(); ++i) {
        start[i] = refine ? grid[i].gain : 1.0f;
    }
    const auto note = [&](double deviation, bool below, uint32_t col, uint32_t row) {
        if (std::fabs(deviation) * 100.0 > result.largest_percent) {
            result.largest_percent = std::fabs(deviation) * 100.0;
            result.largest_brighter = deviation > 0;
            result.largest_where = JoinName(below, col, row);
            result.largest_below = below;
            result.largest_column = col;
            result.largest_row = row;
        }
    };
    for (int vertical = 0; vertical < 2; ++vertical) {
        const uint32_t dim = static_cast<uint32_t>(vertical ? mw : mh),
                       len = static_cast<uint32_t>(vertical ? mh : mw);
        const double sigma = vertical ? blur_x : blur_y;
        double k0 = 1, k1 = 0;
        LineSpread(sigma, k0, k1);
        const uint32_t far = dim >= 12 ? 4 : 3, near = far - 1;
        const uint32_t margin = std::min<uint32_t>(len / 4, 2 + static_cast<uint32_t>(std::ceil(2 * sigma)));
        const uint32_t lines = vertical ? cols : rows, segments = vertical ? rows : cols;
        for (uint32_t l = 1; l < lines; ++l) {
            for (uint32_t s = 0; s < segments; ++s) {
                const LinePair p = MeasurePair(r, vertical != 0, l * dim - 1, s * len + margin,
                                               (s + 1) * len - margin, near, far, da, db, false);
                // Each sample holds its own line's light and a share of its neighbour's: the pair's common
                // part is spread by k0 + k1, their difference by k0 - k1, which amplifies its noise. The
                // difference is therefore shrunk towards none as far as its noise could explain it, so
                // that noise alone does not set the two edges of a join apart.
                const double common = 0.5 * (p.a + p.b) / (k0 + k1);
                const double half_difference = 0.5 * (p.a - p.b) / (k0 - k1);
                const double difference_noise = 2.0 * p.uncertainty / std::sqrt(2.0) / (k0 - k1);
                const double keep =
                    half_difference == 0
                        ? 0
                        : std::max(0.0, 1.0 - std::pow(difference_noise / std::fabs(half_difference), 2));
                const double d_a = common + keep * half_difference, d_b = common - keep * half_difference;
                const double noise = p.uncertainty / std::sqrt(2.0) / (k0 + k1);
                // Before the join: the bottom edge of the module above, or the right edge of the one left.
                const uint32_t col_a = vertical ? l - 1 : s, row_a = vertical ? s : l - 1;
                const uint32_t col_b = vertical ? l : s, row_b = vertical ? s : l;
                const size_t index_a = (vertical ? 3 * N : N) + static_cast<size_t>(row_a) * cols + col_a;
                const size_t index_b = (vertical ? 2 * N : 0) + static_cast<size_t>(row_b) * cols + col_b;
                for (const auto& [index, deviation] :
                     {std::pair<size_t, double>{index_a, d_a}, {index_b, d_b}}) {
                    const double applied = refine ? CardFactor(start[index]) : 1.0;
                    factor[index] = static_cast<float>((1.0 + deviation) / (applied > 0.05 ? applied : 1.0));
                    measured[index] = 1;
                    uncertainty[index] = static_cast<float>(noise);
                    note(deviation, !vertical, col_a, row_a);
                }
            }
        }
    }
    result.gains = ChooseGains(factor, start, uncertainty, measured, cols, rows, static_cast<uint32_t>(mw),
                               static_cast<uint32_t>(mh));
    for (uint32_t row = 0; row < rows; ++row) {
        for (uint32_t col = 0; col < cols; ++col) {
            const size_t m = static_cast<size_t>(row) * cols + col;
            // The join right of the module and the join below it, each with its two facing edges.
            const size_t right[2] = {3 * N + m, 2 * N + m + 1}, below[2] = {N + m, m + cols};
            if (col + 1 < cols && (result.gains[right[0]] != grid[right[0]].gain ||
                                   result.gains[right[1]] != grid[right[1]].gain)) {
                ++result.changed_seams;
            }
            if (row + 1 < rows && (result.gains[below[0]] != grid[below[0]].gain ||
                                   result.gains[below[1]] != grid[below[1]].gain)) {
                ++result.changed_seams;
            }
        }
    }
    return result;
}

PhotoCorrection CorrectFromPhotoFile(const uint8_t* bytes, size_t size, const ScreenParams& params,
                                     const std::vector<SeamSegment>& grid, bool refine, uint64_t budget) {
    GrayPhoto photo;
    std::string why;
    switch (DecodePhoto(bytes, size, budget, photo, why)) {
    case PictureStatus::NotAPicture:
        return Refuse(PhotoOutcome::NotAPicture, why);
    case PictureStatus::TooLarge:
        return Refuse(PhotoOutcome::TooLarge, why);
    case PictureStatus::Ok:
        break;
    }
    const uint64_t photo_bytes = static_cast<uint64_t>(photo.Width()) * photo.Height();
    return CorrectFromPhoto(photo, params, grid, refine, budget > photo_bytes ? budget - photo_bytes : 0);
}
