// Seam correction from a photo: pictures made by the simulator's camera from walls whose joins are
// known, and the refusals.
#include "hardware/coefficient_block.h"
#include "hardware/gain_map.h"
#include "photo/homography.h"
#include "photo/photo_picture.h"
#include "photo/seam_photo.h"
#include "tools/ledsim/camera.h"
#include "tools/ledsim/wall.h"

#include <gtest/gtest.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cmath>

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
    p.gray_scale = 128, p.gamma = 2.2;
    return p;
}

std::vector<SeamSegment> Grid(const ScreenParams& p, float gain = 1.0f) {
    SeamGrid grid;
    SeamGridCache cache;
    grid.BuildSeamGrid(p, cache);
    std::vector<SeamSegment> segments = grid.CopySeamGrid();
    for (SeamSegment& s : segments) {
        s.gain = gain;
    }
    return segments;
}

// The photo a camera takes of a wall of gray 128 with these joins, and with the cards applying the
// gains of `applied` when it is given.
GrayPhoto Photograph(const ScreenParams& p, const std::vector<Join>& joins, ledsim::CameraOptions camera = {},
                     const std::vector<SeamSegment>* applied = nullptr) {
    ledsim::WallDescription described;
    described.module_width = static_cast<uint16_t>(p.mod_width);
    described.module_height = static_cast<uint16_t>(p.mod_height);
    for (const Join& j : joins) {
        described.joins.push_back({j.column, j.row, j.below, j.factor});
    }
    const ledsim::Wall wall = ledsim::MakeWall(described, p.screen_width, p.screen_height);
    std::vector<ledsim::CardPicture> cards;
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
    }
    const ledsim::Picture picture =
        ledsim::RenderWall(wall, cards, p.screen_width, p.screen_height, 128, 1.0);
    const ledsim::CameraPicture shot =
        ledsim::TakePhoto(picture.levels, picture.width, picture.height, camera);
    return GrayPhoto(shot.width, shot.height, shot.pixels);
}

// The records of the two edges facing a join, in grid order.
void EdgesOf(const ScreenParams& p, const Join& j, size_t& a, size_t& b) {
    const size_t cols = p.screen_width / p.mod_width, n = cols * (p.screen_height / p.mod_height);
    const size_t m = j.row * cols + j.column;
    a = j.below ? n + m : 3 * n + m;
    b = j.below ? m + cols : 2 * n + m + 1;
}

std::vector<uint8_t> Png(uint32_t w, uint32_t h, const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> out;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            auto* bytes = static_cast<std::vector<uint8_t>*>(context);
            bytes->insert(bytes->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        },
        &out, static_cast<int>(w), static_cast<int>(h), 1, pixels.data(), static_cast<int>(w));
    return out;
}

} // namespace

TEST(Photo, GainCancellingTakesTheWheelsStepThatTheCardsShowBest) {
    const struct {
        double factor;
        float gain;
    } cases[] = {{1.0, 1.0f}, {0.9055, 1.105f}, {1.0944, 0.915f}, {0.5, 1.4f}, {2.0, 0.7f}, {0.0, 1.0f}};
    for (const auto& c : cases) {
        EXPECT_FLOAT_EQ(c.gain, GainCancelling(c.factor)) << c.factor;
        const float g = GainCancelling(c.factor);
        EXPECT_NEAR(0, std::fmod(std::lround(g * 1000.0), 5), 0) << "a step of 0.005: " << g;
    }
    // Within the bounds the cards' quantised coefficient is off by at most half its step.
    for (double f = 0.75; f < 1.4; f += 0.0137) {
        EXPECT_LE(std::fabs(QuantiseGain(GainCancelling(f)) / 128.0 * f - 1.0), 0.5 / 128 * 1.41) << f;
    }
}

TEST(Photo, HomographyTakesTheCornersWhereTheyBelong) {
    const PointF from[4] = {{0, 0}, {1024, 0}, {1024, 512}, {0, 512}};
    const PointF to[4] = {{100, 80}, {2600, 140}, {2550, 1400}, {90, 1330}};
    Homography h;
    ASSERT_TRUE(h.Solve(from, to));
    for (int i = 0; i < 4; ++i) {
        const PointF p = h.Map(from[i].x, from[i].y);
        EXPECT_NEAR(to[i].x, p.x, 1e-6);
        EXPECT_NEAR(to[i].y, p.y, 1e-6);
    }
    const PointF line[4] = {{0, 0}, {1, 1}, {2, 2}, {0, 5}};
    EXPECT_FALSE(h.Solve(line, to));
}

TEST(Photo, EveryJoinIsMeasuredAndCancelledWhateverThePose) {
    const ScreenParams p = Params(384, 192, 32, 32);
    const std::vector<Join> joins = {
        {2, 3, false, 0.92f}, {5, 1, true, 1.06f}, {10, 4, false, 1.09f}, {0, 4, true, 0.95f}};
    const struct {
        double tilt, turn, roll, noise;
    } poses[] = {{3, -4, 1, 1}, {10, -6, 2, 2}, {-5, 8, -3, 0.5}};
    for (const auto& pose : poses) {
        ledsim::CameraOptions camera;
        camera.tilt = pose.tilt, camera.turn = pose.turn, camera.roll = pose.roll, camera.noise = pose.noise;
        const std::vector<SeamSegment> grid = Grid(p);
        const PhotoCorrection r = CorrectFromPhoto(Photograph(p, joins, camera), p, grid, false, kBudget);
        ASSERT_EQ(PhotoOutcome::Corrected, r.outcome) << r.why;
        EXPECT_EQ(joins.size(), r.changed_seams);
        std::vector<float> expected(grid.size(), 1.0f);
        for (const Join& j : joins) {
            size_t a = 0, b = 0;
            EdgesOf(p, j, a, b);
            expected[a] = expected[b] = GainCancelling(j.factor);
        }
        for (size_t i = 0; i < grid.size(); ++i) {
            EXPECT_NEAR(expected[i], r.gains[i], 0.0101) << "record " << i << " tilt " << pose.tilt;
        }
        EXPECT_NEAR(9.0, r.largest_percent, 0.6);
        EXPECT_TRUE(r.largest_brighter);
        EXPECT_EQ("the join right of module (10, 4)", r.largest_where);
        EXPECT_GT(r.photo_pixels_per_wall_pixel, 2.0);
    }
}

TEST(Photo, RefiningACorrectedWallKeepsItsGains) {
    // The cards hold 1.09 on both edges of a join of 0.92: the photo shows 0.92 x 139 / 128 = 0.9991.
    const ScreenParams p = Params(256, 128, 32, 32);
    const Join join{3, 2, false, 0.92f};
    std::vector<SeamSegment> grid = Grid(p);
    size_t a = 0, b = 0;
    EdgesOf(p, join, a, b);
    grid[a].gain = grid[b].gain = 1.09f;
    grid[0].gain = 1.2f; // the outer border, not measured, keeps what it has
    ledsim::CameraOptions camera;
    camera.noise = 0.5;
    const GrayPhoto photo = Photograph(p, {join}, camera, &grid);
    PhotoCorrection r = CorrectFromPhoto(photo, p, grid, true, kBudget);
    ASSERT_EQ(PhotoOutcome::Corrected, r.outcome) << r.why;
    for (size_t i = 0; i < grid.size(); ++i) {
        EXPECT_EQ(grid[i].gain, r.gains[i]) << i;
    }
    EXPECT_EQ(0u, r.changed_seams);
    EXPECT_LT(r.largest_percent, 0.5);
    // Unticked, the same photo is taken as the bare wall: everything starts again from 1.0.
    r = CorrectFromPhoto(photo, p, grid, false, kBudget);
    ASSERT_EQ(PhotoOutcome::Corrected, r.outcome) << r.why;
    EXPECT_EQ(1.0f, r.gains[a]);
    EXPECT_EQ(1.0f, r.gains[0]);
    EXPECT_EQ(1u, r.changed_seams);
}

TEST(Photo, RefusalsSayWhy) {
    const ScreenParams p = Params(256, 128, 32, 16);
    const std::vector<Join> joins = {{1, 1, false, 0.9f}, {4, 2, true, 0.9f}, {6, 5, false, 1.1f}};
    // The fields' modules of 64 x 16 put the seam right of column 6 (pixel 224) inside a module.
    const GrayPhoto photo = Photograph(p, joins);
    ledsim::CameraOptions coarse;
    coarse.width = 300, coarse.height = 200;
    const GrayPhoto uniform(400, 300, std::vector<uint8_t>(400 * 300, 40));
    const GrayPhoto distant = Photograph(p, joins, coarse);
    const struct {
        const char* name;
        const GrayPhoto* photo;
        ScreenParams params;
        PhotoOutcome outcome;
        const char* says;
    } cases[] = {
        {"uniform", &uniform, p, PhotoOutcome::NoWall, "No wall was found"},
        {"coarse", &distant, p, PhotoOutcome::TooCoarse, "photo pixels per wall pixel"},
        {"other modules", &photo, Params(256, 128, 64, 16), PhotoOutcome::GridMismatch, "modules of 64 x 16"},
        {"narrower screen", &photo, Params(256, 256, 32, 16), PhotoOutcome::GridMismatch, "256 x 256"},
        {"wider screen", &photo, Params(512, 128, 32, 16), PhotoOutcome::GridMismatch, "512 x 128"},
        {"tiny modules", &photo, Params(256, 128, 4, 4), PhotoOutcome::UnusableGrid, "at least 8"},
    };
    for (const auto& c : cases) {
        const PhotoCorrection r = CorrectFromPhoto(*c.photo, c.params, Grid(c.params), false, kBudget);
        EXPECT_EQ(c.outcome, r.outcome) << c.name << ": " << r.why;
        EXPECT_NE(std::string::npos, r.why.find(c.says)) << c.name << ": " << r.why;
        EXPECT_TRUE(r.gains.empty()) << c.name;
    }
    // A wall cut by the frame's edge is not measured.
    std::vector<uint8_t> pixels(photo.Pixels(), photo.Pixels() + photo.Width() * photo.Height());
    const GrayPhoto cropped(photo.Width() / 2, photo.Height(), [&] {
        std::vector<uint8_t> half;
        for (uint32_t y = 0; y < photo.Height(); ++y) {
            half.insert(half.end(), pixels.begin() + y * photo.Width(),
                        pixels.begin() + y * photo.Width() + photo.Width() / 2);
        }
        return half;
    }());
    const PhotoCorrection r = CorrectFromPhoto(cropped, p, Grid(p), false, kBudget);
    EXPECT_EQ(PhotoOutcome::NoWall, r.outcome);
    EXPECT_NE(std::string::npos, r.why.find("edge of the photo")) << r.why;
}

TEST(Photo, PicturesAreDecodedWithinTheBudgetOrRefused) {
    const ScreenParams p = Params(256, 128, 32, 32);
    const GrayPhoto photo = Photograph(p, {{1, 1, true, 0.9f}});
    const std::vector<uint8_t> pixels(photo.Pixels(), photo.Pixels() + photo.Width() * photo.Height());
    const std::vector<uint8_t> png = Png(photo.Width(), photo.Height(), pixels);
    PhotoCorrection r = CorrectFromPhotoFile(png.data(), png.size(), p, Grid(p), false, kBudget);
    ASSERT_EQ(PhotoOutcome::Corrected, r.outcome) << r.why;
    size_t a = 0, b = 0;
    EdgesOf(p, {1, 1, true, 0.9f}, a, b);
    EXPECT_NEAR(GainCancelling(0.9), r.gains[a], 0.0101); // a step more may make up for a corner
    EXPECT_NEAR(GainCancelling(0.9), r.gains[b], 0.0101);

    const uint64_t need = PhotoDecodeBytes(png.size(), photo.Width(), photo.Height(), 1);
    r = CorrectFromPhotoFile(png.data(), png.size(), p, Grid(p), false, need - 1);
    EXPECT_EQ(PhotoOutcome::TooLarge, r.outcome);
    EXPECT_NE(std::string::npos, r.why.find("can be used now")) << r.why;
    EXPECT_EQ(UINT64_MAX, PhotoDecodeBytes(0, 0xFFFFFFFFu, 0xFFFFFFFFu, 4));
    // A header announcing 16,000,000 x 16,000,000 pixels is refused from the header, before any decoding.
    std::vector<uint8_t> huge = png;
    for (int i = 0; i < 2; ++i) {
        huge[16 + 4 * i] = 0x00, huge[17 + 4 * i] = 0xF4, huge[18 + 4 * i] = 0x24, huge[19 + 4 * i] = 0x00;
    }
    r = CorrectFromPhotoFile(huge.data(), huge.size(), p, Grid(p), false, kBudget);
    EXPECT_EQ(PhotoOutcome::TooLarge, r.outcome);
    EXPECT_NE(std::string::npos, r.why.find("16000000 x 16000000")) << r.why;
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
        r = CorrectFromPhotoFile(bytes.data(), bytes.size(), p, Grid(p), false, kBudget);
        EXPECT_EQ(PhotoOutcome::NotAPicture, r.outcome) << bytes.size();
    }
}
