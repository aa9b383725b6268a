// Seam correction from a photo: the lens, the response and the wall's pixels each against pictures
// whose answer is known; the whole correction on photos from the simulator's camera as a phone takes
// them; the refusals.
#include "hardware/coefficient_block.h"
#include "hardware/gain_map.h"
#include "photo/homography.h"
#include "photo/joins.h"
#include "photo/lens.h"
#include "photo/linear_light.h"
#include "photo/photo_picture.h"
#include "photo/rectify.h"
#include "photo/response.h"
#include "photo/seam_photo.h"
#include "photo/wall_finder.h"
#include "seam/gamma_table.h"
#include "seam/photo_layout.h"
#include "tools/ledsim/camera.h"
#include "tools/ledsim/wall.h"

#include <gtest/gtest.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint64_t kBudget = 1ull << 30;

struct Join {
    uint32_t column, row;
    bool below;
    float factor;
};

ScreenParams Params(int32_t width, int32_t height, int32_t mw, int32_t mh) {
    ScreenParams p{};
    p.screen_width = width, p.screen_height = height, p.mod_width = mw, p.mod_height = mh;
    p.gray_scale = 128, p.gamma = 2.2f;
    return p;
}

// What the desktop shows on the wall: the pattern window (its photo mode with `signs`, only `lit` of it
// when a region is shown), as the wall's processor decodes it.
std::vector<float> PatternInput(const ScreenParams& p, const std::vector<SeamSegment>& grid, bool photo_mode,
                                const PhotoRegion* lit) {
    GammaTable table{};
    BuildGammaTable(p.gamma, table);
    const auto decode = [&](uint8_t v) { return static_cast<float>(255.0 * std::pow(v / 255.0, 2.2)); };
    std::vector<float> input(static_cast<size_t>(p.screen_width) * p.screen_height,
                             decode(table[p.gray_scale]));
    const GridIndex index{static_cast<uint64_t>(p.screen_width / p.mod_width),
                          static_cast<uint64_t>(p.screen_height / p.mod_height)};
    const std::vector<int8_t> signs = CalibrationSigns(index);
    for (size_t i = 0; i < grid.size(); ++i) {
        const SeamSegment& s = grid[i];
        const float level = decode(AllSegmentsLineLevel(
            table, p.gray_scale, photo_mode ? CalibratedGain(s.gain, signs[i]) : s.gain));
        for (int32_t k = s.horizontal ? s.x0 : s.y0; k < (s.horizontal ? s.x1 : s.y1); ++k) {
            input[static_cast<size_t>(s.horizontal ? s.y0 : k) * p.screen_width + (s.horizontal ? k : s.x0)] =
                level;
        }
    }
    for (size_t i = 0; lit != nullptr && i < input.size(); ++i) {
        const uint32_t x = static_cast<uint32_t>(i % p.screen_width),
                       y = static_cast<uint32_t>(i / p.screen_width);
        if (x < lit->x || y < lit->y || x >= lit->x + lit->width || y >= lit->y + lit->height) {
            input[i] = 0;
        }
    }
    return input;
}

// A photo of a wall with these joins: of the pattern window when no gains are `applied`, else of a uniform
// gray with the cards applying those gains. As the camera stores it: a JPEG, decoded as the tool does.
GrayPhoto Photograph(const ScreenParams& p, const std::vector<Join>& joins, ledsim::CameraOptions camera,
                     const std::vector<SeamSegment>& grid, bool photo_mode,
                     const std::vector<SeamSegment>* applied = nullptr, const PhotoRegion* lit = nullptr,
                     std::vector<uint8_t>* file = nullptr) {
    ledsim::WallDescription described;
    described.module_width = static_cast<uint16_t>(p.mod_width);
    described.module_height = static_cast<uint16_t>(p.mod_height);
    for (const Join& j : joins) {
        described.joins.push_back({j.column, j.row, j.below, j.factor});
    }
    const ledsim::Wall wall = ledsim::MakeWall(described, p.screen_width, p.screen_height);
    std::vector<ledsim::CardPicture> cards;
    std::vector<float> input;
    if (applied != nullptr) {
        GainMap map;
        EXPECT_TRUE(MakeGainMap(p.screen_width, p.screen_height, kBudget, map));
        RasteriseSegments(map, *applied);
        const CardRect whole{0, 0, static_cast<uint16_t>(p.screen_height),
                             static_cast<uint16_t>(p.screen_width)};
        ledsim::CardPicture card{
            0, 0, whole.rows, whole.columns, true, std::vector<uint8_t>(BlockBytes(whole))};
        FillCoefficientBlock(map, whole, card.memory.data());
        cards.push_back(std::move(card));
    } else {
        input = PatternInput(p, grid, photo_mode, lit);
    }
    const ledsim::Picture picture = ledsim::RenderWall(wall, cards, p.screen_width, p.screen_height, 128, 1.0,
                                                       input.empty() ? nullptr : &input);
    if (lit != nullptr) {
        camera.lit[0] = lit->x, camera.lit[1] = lit->y, camera.lit[2] = lit->width,
        camera.lit[3] = lit->height;
    }
    const ledsim::CameraPicture shot =
        ledsim::TakePhoto(picture.levels, picture.width, picture.height, camera);
    std::vector<uint8_t> jpeg;
    stbi_write_jpg_to_func(
        [](void* context, void* data, int size) {
            auto* bytes = static_cast<std::vector<uint8_t>*>(context);
            bytes->insert(bytes->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        },
        &jpeg, static_cast<int>(shot.width), static_cast<int>(shot.height), static_cast<int>(shot.channels),
        shot.pixels.data(), camera.ideal ? 95 : camera.quality);
    GrayPhoto photo;
    std::string why;
    EXPECT_EQ(PictureStatus::Ok, DecodePhoto(jpeg.data(), jpeg.size(), kBudget, photo, why)) << why;
    if (file != nullptr) {
        *file = std::move(jpeg);
    }
    return photo;
}

PhotoInput Input(const ScreenParams& p, const std::vector<SeamSegment>& grid, ShownBy shown) {
    PhotoInput in;
    in.params = p;
    in.grid = grid;
    in.shown = shown;
    in.budget = kBudget;
    return in;
}

// The records of the two edges facing a join, in grid order.
void EdgesOf(const ScreenParams& p, const Join& j, size_t& a, size_t& b) {
    const GridIndex index{static_cast<uint64_t>(p.screen_width / p.mod_width),
                          static_cast<uint64_t>(p.screen_height / p.mod_height)};
    a = static_cast<size_t>(j.below ? index.Bottom(j.column, j.row) : index.Right(j.column, j.row));
    b = static_cast<size_t>(j.below ? index.Top(j.column, j.row + 1) : index.Left(j.column + 1, j.row));
}

// What the cards make of gains on a join of this factor: the join's light relative to the field.
double Shows(const std::vector<float>& gains, const ScreenParams& p, const Join& j) {
    size_t a = 0, b = 0;
    EdgesOf(p, j, a, b);
    return j.factor * 0.5 * (QuantiseGain(gains[a]) + QuantiseGain(gains[b])) / 128.0;
}

} // namespace

TEST(Photo, GainCancellingTakesTheWheelsStepThatTheCardsShowBest) {
    const struct {
        double factor;
        float gain;
    } cases[] = {{1.0, 1.0f}, {0.9055, 1.105f}, {1.0944, 0.915f}, {0.5, 1.4f}, {2.0, 0.7f}, {0.0, 1.0f}};
    for (const auto& c : cases) {
        EXPECT_FLOAT_EQ(c.gain, GainCancelling(c.factor)) << c.factor;
    }
    // Within the bounds the cards' quantised coefficient is off by at most half its step.
    for (double f = 0.75; f < 1.4; f += 0.0137) {
        EXPECT_LE(std::fabs(QuantiseGain(GainCancelling(f)) / 128.0 * f - 1.0), 0.5 / 128 * 1.41) << f;
    }
}

TEST(Photo, TheLensIsUndoneFromTheWallsStraightSides) {
    // A pinhole's picture of a rectangle's sides and of two lines inside it, seen through a lens of known
    // distortion in a frame wider than high.
    Lens truth = Lens::Straight(4000, 2600);
    truth.k1 = -0.045, truth.k2 = 0.012;
    const PointF corners[4] = {{420, 300}, {3610, 380}, {3560, 2290}, {460, 2230}};
    std::vector<std::vector<PointF>> lines;
    for (int side = 0; side < 4; ++side) {
        std::vector<PointF> line;
        const PointF a = corners[side], b = corners[(side + 1) % 4];
        for (int k = 0; k < 100; ++k) {
            line.push_back(truth.Distort({a.x + (b.x - a.x) * k / 99.0, a.y + (b.y - a.y) * k / 99.0}));
        }
        lines.push_back(line);
    }
    Lens fitted = Lens::Straight(4000, 2600);
    double rms = 1;
    FitLens(lines, fitted, rms);
    EXPECT_NEAR(truth.k1, fitted.k1, 0.002);
    EXPECT_LT(rms, 0.05);
    for (const PointF p : {PointF{10, 20}, PointF{3990, 2590}, PointF{2000, 1300}, PointF{3000, 100}}) {
        const PointF back = fitted.Undistort(fitted.Distort(p));
        EXPECT_NEAR(p.x, back.x, 1e-3);
        EXPECT_NEAR(p.y, back.y, 1e-3);
        // Where it matters, the fitted lens puts every point where the true one does.
        const PointF seen = fitted.Distort(p), true_seen = truth.Distort(p);
        EXPECT_LT(std::hypot(seen.x - true_seen.x, seen.y - true_seen.y), 0.5) << p.x << ", " << p.y;
    }
    const PointF from[4] = {{0, 0}, {1024, 0}, {1024, 512}, {0, 512}};
    Homography h;
    ASSERT_TRUE(h.Solve(from, corners));
    EXPECT_NEAR(corners[2].x, h.Map(1024, 512).x, 1e-6);
    EXPECT_NEAR(corners[3].y, h.Map(0, 512).y, 1e-6);
    const PointF line[4] = {{0, 0}, {1, 1}, {2, 2}, {0, 5}};
    EXPECT_FALSE(h.Solve(line, corners));
}

TEST(Photo, TheResponseIsFittedPastTheWallsOwnSeams) {
    // Readings of known contrasts at 1.2 times their size, a few of them far off (the wall's own
    // seams, all on darker lines, so that a fit that weighed them fully would lean); then a slope that
    // grows towards the right and falls towards the bottom.
    std::vector<double> x, y, u, v;
    for (int i = 0; i < 400; ++i) {
        const double contrast = (i % 2 ? 0.04 : -0.047), cu = (i % 20) / 9.5 - 1, cv = (i / 20) / 9.5 - 1;
        x.push_back(contrast);
        u.push_back(cu), v.push_back(cv);
        const double seam = i % 46 == 0 ? 0.09 : 0.0, noise = 0.002 * std::sin(i * 12.9898);
        y.push_back((1.2 + 0.1 * cu - 0.05 * cv * cv) * contrast + seam + noise);
    }
    x[5] = 0.004; // below the least contrast: no point
    const SlopeFit fit = FitSlope(x, y, 0.01);
    EXPECT_EQ(399u, fit.used);
    EXPECT_NEAR(1.18, fit.slope, 0.03);
    EXPECT_TRUE(UsableSlope(fit));
    const SlopeField field = FitSlopeField(x, y, u, v, 0.01);
    for (const double cu : {-1.0, 0.0, 1.0}) {
        for (const double cv : {-1.0, 0.3, 1.0}) {
            EXPECT_NEAR(1.2 + 0.1 * cu - 0.05 * cv * cv, field.At(cu, cv), 0.01) << cu << ", " << cv;
        }
    }
    // No contrast, or one a camera cannot have, is no response.
    EXPECT_FALSE(UsableSlope(FitSlope(std::vector<double>(50, 0.04), std::vector<double>(50, 0.2), 0.01)));
    EXPECT_FALSE(UsableSlope(FitSlope(x, std::vector<double>(x.size(), 0.0), 0.01)));
    // Nor one that too few readings, too scattered, leave unsure.
    const std::vector<double> few(x.begin() + 6, x.begin() + 26);
    std::vector<double> scattered;
    for (size_t i = 0; i < few.size(); ++i) {
        scattered.push_back(few[i] + 0.03 * std::sin(i * 78.233));
    }
    const SlopeFit unsure = FitSlope(few, scattered, 0.01);
    EXPECT_TRUE(unsure.slope > 0.4 && unsure.slope < 3.0) << unsure.slope;
    EXPECT_FALSE(UsableSlope(unsure));
}

TEST(Photo, EveryWallPixelReadsItsEmitterWhereverItFallsOnTheSensor) {
    // A uniform wall of small dots at 2.37 photo pixels a pitch, turned and tilted: the moire in the
    // photo is strong, the wall's image flat; a join of 0.94 on it reads 6 % darker.
    const ScreenParams p = Params(320, 208, 32, 26);
    ledsim::CameraOptions camera;
    camera.pixels_per_wall_pixel = 2.37, camera.noise = 0, camera.colour = false, camera.tone = 0;
    camera.sharpen = 0, camera.quality = 100, camera.room = 0, camera.glare = 0, camera.vignetting = 0;
    const std::vector<SeamSegment> grid = FreshSeamGrid(p);
    const GrayPhoto photo = Photograph(p, {{4, 3, false, 0.94f}}, camera, grid, false);
    WallView view;
    std::string why;
    ASSERT_TRUE(FindWall(photo, 320, 208, view, why)) << why;
    EXPECT_NEAR(camera.k1, view.lens.k1, 0.01);
    WallMapping mapping;
    const PointF wall[4] = {{0, 0}, {320, 0}, {320, 208}, {0, 208}};
    ASSERT_TRUE(mapping.plane.Solve(wall, view.corners));
    mapping.lens = view.lens;
    WallImage image;
    RectifyWall(photo, mapping, SrgbToLinearTable(), 320, 208, image);
    double sum = 0, squares = 0;
    uint32_t n = 0;
    for (uint32_t y = 40; y < 180; ++y) {
        for (uint32_t x = 20; x < 120; ++x) { // left of the join
            sum += image.At(x, y), squares += image.At(x, y) * image.At(x, y), ++n;
        }
    }
    const double mean = sum / n;
    EXPECT_LT(std::sqrt(squares / n - mean * mean) / mean, 0.006);
    const WallGrid g{320, 208, 32, 26, 10, 8};
    const JoinReadings readings = MeasureJoins(image, g, 1);
    const JoinReading& join = readings.right[3 * 10 + 4];
    ASSERT_TRUE(join.measured);
    EXPECT_NEAR(-0.06, join.deviation, 0.006);
    // The join's light lands where the wall has it: as much on the line left of it as right of it.
    double left = 0, right = 0;
    for (uint32_t y = 80; y < 100; ++y) {
        left += image.At(158, y), right += image.At(161, y);
    }
    EXPECT_NEAR(left / 20 / mean, right / 20 / mean, 0.003);
    EXPECT_NEAR(0.0, readings.below[3 * 10 + 4].deviation, 0.004);
    EXPECT_FALSE(readings.right[3 * 10 + 9].measured); // the wall's right edge faces no join
}

TEST(Photo, ADottedWallIsFoundAtItsPixelsEdgesAndReadAlikeAcrossAndDown) {
    // A wall of 48 x 36 emitters, each a dot of 2 x 1 photo pixels in a cell of 4 x 3 with black around
    // it, drawn exactly: its outer edges lie on the cells' edges, not the dots'. One column of emitters
    // and one row are darker by the same amount.
    const uint32_t columns = 48, rows = 36, width = 4 * columns + 80, height = 3 * rows + 80;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height, 6);
    for (uint32_t j = 0; j < rows; ++j) {
        for (uint32_t i = 0; i < columns; ++i) {
            const uint8_t level = i == 13 || j == 11 ? 150 : 200;
            pixels[static_cast<size_t>(40 + 3 * j + 1) * width + 40 + 4 * i + 1] = level;
            pixels[static_cast<size_t>(40 + 3 * j + 1) * width + 40 + 4 * i + 2] = level;
        }
    }
    // The lens's blur, [1 4 6 4 1] / 16 across and down: it moves no edge.
    for (int pass = 0; pass < 2; ++pass) {
        const std::vector<uint8_t> sharp = pixels;
        const size_t step = pass == 0 ? 1 : width;
        for (size_t i = 2 * step; i + 2 * step < pixels.size(); ++i) {
            pixels[i] = static_cast<uint8_t>((sharp[i - 2 * step] + 4 * sharp[i - step] + 6 * sharp[i] +
                                              4 * sharp[i + step] + sharp[i + 2 * step] + 8) /
                                             16);
        }
    }
    const GrayPhoto photo(width, height, pixels);
    WallView view;
    std::string why;
    ASSERT_TRUE(FindWall(photo, columns, rows, view, why)) << why;
    const PointF truth[4] = {
        {40, 40}, {40 + 4.0 * columns, 40}, {40 + 4.0 * columns, 40 + 3.0 * rows}, {40, 40 + 3.0 * rows}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(truth[k].x, view.corners[k].x, 0.15) << k;
        EXPECT_NEAR(truth[k].y, view.corners[k].y, 0.15) << k;
    }
    WallMapping mapping;
    const PointF wall[4] = {{0, 0}, {48, 0}, {48, 36}, {0, 36}};
    ASSERT_TRUE(mapping.plane.Solve(wall, truth));
    mapping.lens = Lens::Straight(width, height);
    WallImage image;
    RectifyWall(photo, mapping, SrgbToLinearTable(), columns, rows, image);
    const double field = image.At(30, 25);
    EXPECT_NEAR(field, image.At(5, 30), 1e-3 * field);
    EXPECT_NEAR(image.At(13, 25), image.At(30, 11), 2e-3 * field); // alike, though 4 pixels across and 3 down
    EXPECT_LT(image.At(13, 25), 0.9 * field);
}

TEST(Photo, ALineRepeatedInEveryModuleIsAJoinTheGridDoesNotKnow) {
    // Modules of 64 x 20, 3 across and 3 down, with a little noise; two of them show every third line
    // 0.8 % brighter (moire), and every one shows its 12th column (offset 11) 7 % darker: twice the
    // threshold, though no module shows it three times over.
    const WallGrid grid{192, 60, 64, 20, 3, 3};
    WallImage image{grid.width, grid.height, std::vector<float>(192 * 60, 1.0f)};
    for (uint32_t y = 0; y < grid.height; ++y) {
        for (uint32_t x = 0; x < grid.width; ++x) {
            const uint32_t offset = x % 64, m = x / 64 + 3 * (y / 20);
            const double hash = std::sin(x * 12.9898 + y * 78.233) * 43758.5453;
            const float noise = static_cast<float>(0.0008 * (hash - std::floor(hash) - 0.5));
            const float moire = offset % 3 == 0 && m % 5 == 0 ? 0.008f : 0.0f;
            image.light[y * grid.width + x] = (offset == 11 ? 0.93f : 1.0f + moire) + noise;
        }
    }
    const StrayLines columns = FindStrayLines(image, grid, true, 1, 0.015);
    EXPECT_LE(11u, columns.worst_offset); // the bands of the next two lines hold it too
    EXPECT_GE(13u, columns.worst_offset);
    EXPECT_EQ(9u, columns.worst_count);
    EXPECT_NEAR(3.5, columns.worst_percent, 0.3);
    EXPECT_EQ(0u, FindStrayLines(image, grid, false, 1, 0.015).worst_count);
}

TEST(Photo, APhonesPhotoOfThePhotoModeCorrectsTheWallAndTheNextRefinesIt) {
    // A phone's photo (dots, lens, tone curve, Bayer, JPEG) of the photo mode, modules wider than high:
    // the calibration lines give the response, every join is cancelled; a photo of the corrected wall
    // with the cards on changes nothing that is right.
    const ScreenParams p = Params(384, 240, 32, 24);
    const std::vector<Join> joins = {{2, 3, false, 0.92f},
                                     {5, 1, true, 1.07f},
                                     {10, 4, false, 1.09f},
                                     {0, 7, false, 0.95f},
                                     {8, 8, true, 0.93f}};
    std::vector<SeamSegment> grid = FreshSeamGrid(p);
    const ledsim::CameraOptions phone;
    PhotoCorrection r =
        CorrectFromPhoto(Photograph(p, joins, phone, grid, true), Input(p, grid, ShownBy::PhotoMode));
    ASSERT_EQ(PhotoOutcome::Corrected, r.outcome) << r.why;
    EXPECT_EQ(ResponseSource::Calibrated, r.response);
    EXPECT_GT(r.slope, 1.0); // the S-shaped tone curve reads every contrast larger than sRGB would
    EXPECT_GE(r.changed_seams, joins.size());
    EXPECT_LE(r.changed_seams, joins.size() + 2); // a join its noise pushes past three deviations
    for (const Join& j : joins) {
        EXPECT_NEAR(1.0, Shows(r.gains, p, j), 0.012) << j.column << ", " << j.row;
    }
    for (uint32_t c = 0; c + 1 < 12; ++c) { // and none of the others made visible
        EXPECT_NEAR(1.0, Shows(r.gains, p, {c, 5, false, 1.0f}), 0.012) << c;
    }
    EXPECT_NEAR(9.0, r.largest_percent, 0.8);
    EXPECT_EQ("the join right of module (10, 4)", r.largest_where);
    for (size_t i = 0; i < grid.size(); ++i) {
        grid[i].gain = r.gains[i];
    }
    PhotoInput refine = Input(p, grid, ShownBy::Cards);
    refine.remembered_slope = r.slope;
    refine.previous = &r.readings;
    refine.applied.resize(grid.size());
    for (size_t i = 0; i < grid.size(); ++i) {
        refine.applied[i] = QuantiseGain(grid[i].gain) / 128.0f; // what the cards hold, as gains
    }
    const PhotoCorrection again = CorrectFromPhoto(Photograph(p, joins, phone, grid, false, &grid), refine);
    ASSERT_TRUE(again.outcome == PhotoOutcome::Corrected || again.outcome == PhotoOutcome::NoImprovement)
        << again.why;
    EXPECT_EQ(ResponseSource::Remembered, again.response);
    EXPECT_LE(again.changed_seams, 1u);
    EXPECT_LT(again.largest_percent, 1.2);
    EXPECT_EQ(again.readings.factor.size(), r.readings.factor.size());
}

TEST(Photo, RefusalsSayWhyAndWhatToDo) {
    const ScreenParams p = Params(256, 128, 32, 16);
    const std::vector<Join> joins = {{1, 1, false, 0.9f}, {4, 2, true, 0.9f}, {6, 5, false, 1.1f}};
    ledsim::CameraOptions ideal;
    ideal.ideal = true;
    const std::vector<SeamSegment> grid = FreshSeamGrid(p);
    // The fields' modules of 64 x 16 put the join right of column 6 (pixel 224) inside a module.
    const GrayPhoto photo = Photograph(p, joins, ideal, grid, false);
    ledsim::CameraOptions coarse = ideal, sharp;
    coarse.width = 300, coarse.height = 200;
    sharp.pixels_per_wall_pixel = 2.0, sharp.blur = 0.3, sharp.defocus = 0; // the dots alias on the sensor
    const GrayPhoto uniform(400, 300, std::vector<uint8_t>(400 * 300, 40));
    const GrayPhoto distant = Photograph(p, joins, coarse, grid, false);
    const GrayPhoto aliased = Photograph(p, joins, sharp, grid, true);
    // Sides bent into an S, as no lens bends them: each row shifted by up to eight photo pixels.
    std::vector<uint8_t> shifted(static_cast<size_t>(photo.Width()) * photo.Height());
    for (uint32_t y = 0; y < photo.Height(); ++y) {
        const int shift = static_cast<int>(std::lround(8 * std::sin(2 * 3.14159265 * y / photo.Height())));
        for (uint32_t x = 0; x < photo.Width(); ++x) {
            const int from = std::clamp(static_cast<int>(x) + shift, 0, static_cast<int>(photo.Width()) - 1);
            shifted[static_cast<size_t>(y) * photo.Width() + x] = photo.At(static_cast<uint32_t>(from), y);
        }
    }
    const GrayPhoto curved(photo.Width(), photo.Height(), shifted);
    const struct {
        const char* name;
        const GrayPhoto* photo;
        ScreenParams params;
        ShownBy shown;
        PhotoOutcome outcome;
        const char* says;
    } cases[] = {
        {"uniform", &uniform, p, ShownBy::Pattern, PhotoOutcome::NoWall, "找不到屏"},
        {"coarse", &distant, p, ShownBy::Pattern, PhotoOutcome::TooCoarse, "需要分 4 x 3 个区域拍摄"},
        {"other modules", &photo, Params(256, 128, 64, 16), ShownBy::Pattern, PhotoOutcome::GridMismatch,
         "模组是 64 x 16"},
        {"narrower screen", &photo, Params(256, 256, 32, 16), ShownBy::Pattern, PhotoOutcome::GridMismatch,
         "256 x 256"},
        {"wider screen", &photo, Params(512, 128, 32, 16), ShownBy::Pattern, PhotoOutcome::GridMismatch,
         "512 x 128"},
        {"tiny modules", &photo, Params(256, 128, 4, 4), ShownBy::Pattern, PhotoOutcome::UnusableGrid,
         "至少 8"},
        {"bent", &curved, p, ShownBy::Pattern, PhotoOutcome::Distortion, "变焦"},
        {"aliased dots", &aliased, p, ShownBy::PhotoMode, PhotoOutcome::Moire, "对焦"},
    };
    for (const auto& c : cases) {
        const PhotoCorrection r =
            CorrectFromPhoto(*c.photo, Input(c.params, FreshSeamGrid(c.params), c.shown));
        EXPECT_EQ(c.outcome, r.outcome) << c.name << ": " << r.why;
        EXPECT_NE(std::string::npos, r.why.find(c.says)) << c.name << ": " << r.why;
        EXPECT_TRUE(r.gains.empty()) << c.name;
    }
    // A wall cut by any of the frame's four edges is not measured.
    const uint32_t w = photo.Width(), h = photo.Height();
    const struct {
        uint32_t x, y, width, height;
    } crops[] = {{0, 0, w / 2, h}, {w / 2, 0, w - w / 2, h}, {0, 0, w, h / 2}, {0, h / 2, w, h - h / 2}};
    for (const auto& crop : crops) {
        std::vector<uint8_t> part;
        for (uint32_t y = crop.y; y < crop.y + crop.height; ++y) {
            part.insert(part.end(), photo.Pixels() + y * w + crop.x,
                        photo.Pixels() + y * w + crop.x + crop.width);
        }
        const PhotoCorrection r =
            CorrectFromPhoto(GrayPhoto(crop.width, crop.height, part), Input(p, grid, ShownBy::Pattern));
        EXPECT_EQ(PhotoOutcome::NoWall, r.outcome) << crop.x << ", " << crop.y;
        EXPECT_NE(std::string::npos, r.why.find("碰到了照片的边缘"))
            << crop.x << ", " << crop.y << ": " << r.why;
    }
}

TEST(Photo, PicturesAreDecodedWithinTheBudgetOrRefused) {
    const std::vector<uint8_t> rgb = {200, 100, 50, 10, 20, 30};
    std::vector<uint8_t> png;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<uint8_t>*>(context);
            out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        },
        &png, 2, 1, 3, rgb.data(), 6);
    GrayPhoto photo;
    std::string why;
    ASSERT_EQ(PictureStatus::Ok, DecodePhoto(png.data(), png.size(), kBudget, photo, why));
    EXPECT_EQ(2u, photo.Width());
    EXPECT_EQ(1u, photo.Height());
    EXPECT_EQ(100, photo.At(0, 0)); // the wall's white: its red and blue balanced to its green
    const uint64_t need = PhotoDecodeBytes(png.size(), 2, 1, 3);
    EXPECT_EQ(PictureStatus::TooLarge, DecodePhoto(png.data(), png.size(), need - 1, photo, why));
    EXPECT_NE(std::string::npos, why.find("现在只能用")) << why;
    EXPECT_EQ(PictureStatus::Ok, DecodePhoto(png.data(), png.size(), need, photo, why));
    EXPECT_EQ(UINT64_MAX, PhotoDecodeBytes(0, 0xFFFFFFFFu, 0xFFFFFFFFu, 4));
    // A header announcing 16,000,000 x 16,000,000 pixels is refused from the header, before any decoding.
    std::vector<uint8_t> huge = png;
    for (int i = 0; i < 2; ++i) {
        huge[16 + 4 * i] = 0x00, huge[17 + 4 * i] = 0xF4, huge[18 + 4 * i] = 0x24, huge[19 + 4 * i] = 0x00;
    }
    EXPECT_EQ(PictureStatus::TooLarge, DecodePhoto(huge.data(), huge.size(), kBudget, photo, why));
    EXPECT_NE(std::string::npos, why.find("16000000 x 16000000")) << why;
    uint32_t w = 0, h = 0;
    int channels = 0;
    const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0, 0,    4,    0,    0,    0xFF,
                            0xC0, 0,    11,   8,    0x0F, 0xA0, 0x17, 0x70, 3};
    EXPECT_TRUE(ReadPictureHeader(jpeg, sizeof(jpeg), w, h, channels));
    EXPECT_EQ(6000u, w);
    EXPECT_EQ(4000u, h);
    EXPECT_EQ(3, channels);
    // A JPEG whose Huffman table claims 272 codes (a decoder's table holds 256) never reaches the decoder.
    std::vector<uint8_t> bad_table = {0xFF, 0xD8, 0xFF, 0xC4, 0x01, 0x23, 0x00};
    bad_table.insert(bad_table.end(), 16, 17);
    bad_table.insert(bad_table.end(), 272, 0);
    bad_table.insert(bad_table.end(), {0xFF, 0xC0, 0, 11, 8, 0, 16, 0, 16, 1, 1, 0x11, 0, 0xFF, 0xD9});
    const std::vector<std::vector<uint8_t>> not_pictures = {
        {}, {'h', 'e', 'l', 'l', 'o'}, std::vector<uint8_t>(png.begin(), png.begin() + 40), bad_table};
    for (const std::vector<uint8_t>& bytes : not_pictures) {
        EXPECT_EQ(PictureStatus::NotAPicture, DecodePhoto(bytes.data(), bytes.size(), kBudget, photo, why))
            << bytes.size();
    }
}

TEST(Photo, ThePhotoModeDrawsKnownContrastsInACheckerboardOverTheJoins) {
    const GridIndex index{3, 2};
    const std::vector<int8_t> signs = CalibrationSigns(index);
    EXPECT_EQ(1, signs[index.Right(0, 0)]);
    EXPECT_EQ(1, signs[index.Left(1, 0)]);    // both edges of a join alike
    EXPECT_EQ(-1, signs[index.Right(1, 0)]);  // the next join along the other way
    EXPECT_EQ(-1, signs[index.Bottom(0, 0)]); // below a module, the other way from right of it
    EXPECT_EQ(1, signs[index.Top(1, 1)]);
    EXPECT_EQ(0, signs[index.Right(2, 1)]); // the wall's outer edges face no join
    EXPECT_EQ(0, signs[index.Top(2, 0)]);
    EXPECT_EQ(0, signs[index.Left(0, 1)]);
    EXPECT_FLOAT_EQ(1.04f * 1.1f, CalibratedGain(1.1f, 1));
    // Gray 128 at gamma 2.2 draws level 186 for the field and 182 for gain 0.96 (index 122).
    const PatternLight light(Params(64, 32, 16, 16));
    EXPECT_NEAR(std::pow(182 / 186.0, 2.2), light.Factor(0.96f), 1e-9);
    EXPECT_DOUBLE_EQ(1.0, light.Factor(1.0f));
    ScreenParams dark = Params(64, 32, 16, 16);
    dark.gamma = 0;
    EXPECT_DOUBLE_EQ(1.0, PatternLight(dark).Factor(1.3f)); // no gamma, nothing known
}

TEST(Photo, RegionsAreWholeModulesThatOverlapByOneAndCoverTheWall) {
    const struct {
        ScreenParams params;
        uint32_t camera, across, down, width, height;
    } cases[] = {
        {Params(3840, 2160, 64, 30), 4000, 3, 3, 1344, 1020}, // the 4K wall of a phone
        {Params(1920, 1080, 64, 30), 8000, 1, 1, 1920, 1080}, // one photo holds it all
        {Params(224, 72, 32, 24), 290, 3, 1, 96, 72},         // odd columns, one row
        {Params(224, 480, 32, 24), 189, 6, 19, 64, 48},       // two modules a photo, at the limit
        {Params(224, 480, 32, 24), 188, 0, 0, 0, 0},          // one past it: no overlap possible
        {Params(224, 480, 30, 24), 400, 0, 0, 0, 0},          // modules that do not tile the wall
        {Params(7, 5, 1, 1), 400, 1, 1, 7, 5},                // modules of one pixel
        {Params(32, 480, 32, 24), 189, 1, 19, 32, 48},        // one column of modules
        {Params(224, 24, 32, 24), 290, 3, 1, 96, 24},         // one row
        {Params(224, 480, 0, 24), 400, 0, 0, 0, 0},           // no module width
        {Params(224, 480, 32, 0), 400, 0, 0, 0, 0},           // no module height
    };
    for (const auto& c : cases) {
        const std::vector<PhotoRegion> regions = PhotoRegions(c.params, c.camera);
        ASSERT_EQ(static_cast<size_t>(c.across) * c.down, regions.size()) << c.camera;
        if (regions.empty()) {
            continue;
        }
        EXPECT_EQ(c.width, regions[0].width) << c.camera;
        EXPECT_EQ(c.height, regions[0].height) << c.camera;
        const PhotoRegion& last = regions.back();
        EXPECT_EQ(static_cast<uint32_t>(c.params.screen_width), last.x + last.width) << c.camera;
        EXPECT_EQ(static_cast<uint32_t>(c.params.screen_height), last.y + last.height) << c.camera;
        for (size_t k = 1; k < regions.size(); ++k) { // neighbours overlap by at least one module
            const PhotoRegion &a = regions[k - 1], &b = regions[k];
            if (b.y == a.y) {
                EXPECT_LE(b.x + static_cast<uint32_t>(c.params.mod_width), a.x + a.width) << k;
                EXPECT_GT(b.x, a.x) << k;
            }
            EXPECT_EQ(0u, b.x % static_cast<uint32_t>(c.params.mod_width)) << k;
            EXPECT_EQ(0u, b.y % static_cast<uint32_t>(c.params.mod_height)) << k;
        }
    }
}

TEST(Photo, RegionPhotosMakeOneCorrectionAndNameThePhotoThatCouldNotBeUsed) {
    // Twelve columns of modules wider than high in two regions of nine that share columns 3 to 8: one
    // join in each region alone, one below a shared module (read in both photos), one right of the
    // first region's last column (its outer edge there, read only in the second).
    const ScreenParams p = Params(384, 192, 32, 24);
    const std::vector<PhotoRegion> regions = PhotoRegions(p, 900);
    ASSERT_EQ(2u, regions.size());
    EXPECT_EQ(96u, regions[1].x);
    const std::vector<Join> joins = {
        {1, 3, false, 0.92f}, {10, 4, false, 1.09f}, {5, 1, true, 1.07f}, {8, 6, false, 0.93f}};
    const std::vector<SeamSegment> grid = FreshSeamGrid(p);
    std::vector<std::vector<uint8_t>> files(2);
    for (size_t k = 0; k < 2; ++k) {
        ledsim::CameraOptions phone;
        phone.width = 900, phone.height = 675, phone.seed = k + 7;
        Photograph(p, joins, phone, grid, true, nullptr, &regions[k], &files[k]);
    }
    PhotoInput input = Input(p, grid, ShownBy::PhotoMode);
    size_t asked = 0;
    const PhotoCorrection r =
        CorrectFromRegionPhotos(input, regions, [&](size_t k, std::vector<uint8_t>& b, std::string&) {
            ++asked;
            b = files[k];
            return true;
        });
    ASSERT_EQ(PhotoOutcome::Corrected, r.outcome) << r.why;
    EXPECT_EQ(2u, asked);
    EXPECT_TRUE(r.unusable.empty());
    EXPECT_EQ(ResponseSource::Calibrated, r.response);
    for (const Join& j : joins) {
        EXPECT_NEAR(1.0, Shows(r.gains, p, j), 0.015) << j.column << ", " << j.row; // below 1.5 %
    }
    EXPECT_EQ("the join right of module (10, 4)", r.largest_where);
    // The second photo lost: the first's joins are still corrected, the second's alone are not.
    const PhotoCorrection half =
        CorrectFromRegionPhotos(input, regions, [&](size_t k, std::vector<uint8_t>& b, std::string& why) {
            b = files[0];
            why = "打不开";
            return k == 0;
        });
    ASSERT_EQ(PhotoOutcome::Corrected, half.outcome) << half.why;
    ASSERT_EQ(1u, half.unusable.size());
    EXPECT_EQ("第 2 张照片（区域 2）不能用：打不开", half.unusable[0]);
    EXPECT_NEAR(1.0, Shows(half.gains, p, joins[0]), 0.015);
    EXPECT_NEAR(1.09, Shows(half.gains, p, joins[1]), 0.001);
    const PhotoCorrection none =
        CorrectFromRegionPhotos(input, regions, [](size_t, std::vector<uint8_t>& b, std::string&) {
            b.assign(10, 'x');
            return true;
        });
    EXPECT_EQ(PhotoOutcome::NotAPicture, none.outcome);
    EXPECT_NE(std::string::npos, none.why.find("第 2 张照片（区域 2）")) << none.why;
    EXPECT_TRUE(none.gains.empty());
}

TEST(Photo, AJoinSeenInTwoRegionsTakesBothReadingsByTheirCertainty) {
    // A wall of 3 x 2 modules of 16 x 8; the region of columns 1 and 2 read the join below module (1, 0)
    // (its own module (0, 0)) as 1.04 with 0.02; the wall's readings had 1.03 with 0.01.
    const auto readings = [](int32_t w, int32_t h, size_t joins) {
        PhotoReadings r;
        r.screen_width = w, r.screen_height = h, r.mod_width = 16, r.mod_height = 8;
        r.measured = r.factor = r.uncertainty = std::vector<float>(joins, NAN);
        r.shown = std::vector<float>(joins, 1.0f);
        return r;
    };
    PhotoReadings wall = readings(48, 16, 12), part = readings(32, 16, 8);
    const size_t wall_join = 6 + 1, part_join = 4 + 0; // below joins follow the right joins
    wall.factor[wall_join] = 1.03f, wall.uncertainty[wall_join] = 0.01f;
    part.factor[part_join] = 1.04f, part.uncertainty[part_join] = 0.02f, part.measured[part_join] = 0.5f;
    part.factor[2] = 0.98f, part.uncertainty[2] = 0.01f; // right of its (0, 1): the wall's (1, 1), read once
    ASSERT_TRUE(MergeRegionReadings(part, {16, 0, 32, 16}, wall));
    EXPECT_NEAR(1.032, wall.factor[wall_join], 1e-6);
    EXPECT_NEAR(0.01 / std::sqrt(1.25), wall.uncertainty[wall_join], 1e-6);
    EXPECT_TRUE(std::isnan(wall.measured[wall_join])); // the surer reading's stays
    EXPECT_FLOAT_EQ(0.98f, wall.factor[4]);
    EXPECT_EQ(2,
              std::count_if(wall.factor.begin(), wall.factor.end(), [](float f) { return !std::isnan(f); }));
    for (const PhotoRegion& off :
         {PhotoRegion{8, 0, 32, 16}, PhotoRegion{32, 0, 32, 16}, PhotoRegion{16, 0, 32, 8}}) {
        const PhotoReadings before = wall;
        EXPECT_FALSE(MergeRegionReadings(part, off, wall)) << off.x << " " << off.width << " " << off.height;
        EXPECT_EQ(0, std::memcmp(before.factor.data(), wall.factor.data(), 12 * sizeof(float)));
    }
}
