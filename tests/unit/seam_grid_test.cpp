// The seam grid, the selection of a click and of the arrow keys, the selection label and the check of the
// screen fields. Most cases use 4 x 3 modules of 64 x 32: n = 12, top edges 0-11, bottom 12-23, left
// 24-35, right 36-47, each block row by row.
#include "seam/screen_params_check.h"
#include "seam/seam_grid.h"
#include "seam/seam_selection.h"
#include "tests/unit/support.h"

#include <gtest/gtest.h>

#include <cstring>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELTRA_ASAN 1
#endif
#endif
#ifndef VELTRA_ASAN
#define VELTRA_ASAN 0
#endif

namespace {

const ScreenParams kWall = Screen(256, 96, 64, 32);

std::vector<int64_t> Selected(const SeamGrid& grid) {
    std::vector<int64_t> out;
    for (size_t i = 0; i < grid.Size(); ++i) {
        if (grid.Segments()[i].selected != 0) {
            out.push_back(static_cast<int64_t>(i));
        }
    }
    return out;
}

std::vector<int64_t> ClickAt(SeamGrid& grid, uint16_t x, uint16_t y) {
    EXPECT_EQ(kGridOk, grid.SelectSeamAt(256, 96, 64, 32, x, y));
    return Selected(grid);
}

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

class Grid : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(kGridOk, grid.BuildSeamGrid(kWall, cache)); }
    SeamGridCache cache;
    SeamGrid grid;
};

} // namespace

TEST_F(Grid, RecordsStandInBlockOrderRowByRow) {
    ASSERT_EQ(48u, grid.Size());
    const struct {
        size_t index;
        SeamSegment record;
    } cases[] = {
        {0, {0, 0, 63, 0, 0, 1, 1.0f}},       {9, {64, 64, 127, 64, 0, 1, 1.0f}},   // top: (0, 0), (1, 2)
        {14, {128, 31, 191, 31, 0, 1, 1.0f}}, {19, {192, 63, 255, 63, 0, 1, 1.0f}}, // bottom: (2, 0), (3, 1)
        {30, {128, 32, 128, 63, 0, 0, 1.0f}}, {35, {192, 64, 192, 95, 0, 0, 1.0f}}, // left: (2, 1), (3, 2)
        {37, {127, 0, 127, 31, 0, 0, 1.0f}},  {44, {63, 64, 63, 95, 0, 0, 1.0f}},   // right: (1, 0), (0, 2)
    };
    for (const auto& c : cases) {
        EXPECT_EQ(0, std::memcmp(&c.record, &grid.Segments()[c.index], sizeof(SeamSegment))) << c.index;
    }
}

TEST_F(Grid, PointsSelectTheFacingEdgesAndRefusalsClearTheSelection) {
    const struct {
        uint16_t x, y;
        std::vector<int64_t> selected; // the first one is the one that blinks
    } cases[] = {
        {66, 16, {25, 36}},  // left edge of (1, 0), right edge of (0, 0)
        {190, 48, {31, 42}}, // right edge of (2, 1), left edge of (3, 1)
        {224, 66, {11, 19}}, // top edge of (3, 2), bottom edge of (3, 1)
        {96, 62, {9, 17}},   // bottom edge of (1, 1), top edge of (1, 2)
        {160, 1, {2}},       // the top border: one edge only
        {96, 94, {21}},      // the bottom border
        {2, 48, {28}},       // the left border
        {254, 80, {47}},     // the right border
        {32, 16, {0}},       // a module's centre ties into the top triangle
        {0, 0, {0}},         // so does its top-left pixel
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.selected, ClickAt(grid, c.x, c.y)) << c.x << "," << c.y;
        EXPECT_EQ(c.selected[0], grid.FirstSelectedIndex());
    }
    const struct {
        uint32_t w, h, mw, mh;
        uint16_t x, y;
        int result;
    } refused[] = {{256, 96, 64, 32, 256, 10, kSelectOutside},  {256, 96, 64, 32, 10, 96, kSelectOutside},
                   {200, 96, 64, 32, 10, 10, kSelectOutside},   {256, 90, 64, 32, 10, 10, kSelectOutside},
                   {256, 96, 0, 32, 10, 10, kSelectZeroModule}, {256, 96, 64, 0, 10, 10, kSelectZeroModule}};
    for (const auto& c : refused) {
        ClickAt(grid, 66, 16);
        EXPECT_EQ(c.result, grid.SelectSeamAt(c.w, c.h, c.mw, c.mh, c.x, c.y)) << c.w << "x" << c.h;
        EXPECT_EQ(-1, grid.FirstSelectedIndex());
    }
    // One module wide: a side edge has no neighbour. A grid shorter than its sizes: nothing past it.
    ASSERT_EQ(kGridOk, grid.BuildSeamGrid(Screen(64, 64, 64, 32), cache));
    ASSERT_EQ(kGridOk, grid.SelectSeamAt(64, 64, 64, 32, 2, 16));
    EXPECT_EQ(std::vector<int64_t>{4}, Selected(grid));
    ASSERT_EQ(kGridOk, grid.SelectSeamAt(64, 64, 64, 32, 62, 16));
    EXPECT_EQ(std::vector<int64_t>{6}, Selected(grid));
    grid.ReplaceSeamGrid(std::vector<SeamSegment>(4, SeamSegment{0, 0, 0, 0, 0, 1, 1.0f}));
    EXPECT_EQ(kGridOk, grid.SelectSeamAt(128, 64, 64, 32, 32, 30)); // would be records 2 and 4
    EXPECT_EQ(std::vector<int64_t>{2}, Selected(grid));
    EXPECT_EQ(4u, grid.Size());
}

// The memory check before the pattern window opens asks what a build would allocate: nothing when the
// grid is kept or refused, and the bound on the record count is exact.
TEST_F(Grid, BuildBytesAreWhatARebuildWouldAllocate) {
    const struct {
        int32_t w, h, mw, mh;
        uint64_t bytes;
    } cases[] = {
        {256, 96, 64, 32, 0}, // kept as it is
        {256, 64, 64, 32, 32 * 28},
        {200, 96, 64, 32, 0},
        {256, 90, 64, 32, 0},
        {256, 96, 0, 32, 0},
        {3, 357913941, 1, 1, 4ull * 1073741823 * 28}, // 2^30 - 1 modules: the most that 32 bits count
        {3, 357913942, 1, 1, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.bytes, SeamGridBuildBytes(Screen(c.w, c.h, c.mw, c.mh), cache)) << c.w << "x" << c.h;
    }
}

TEST_F(Grid, RebuildsOnlyWhenASizeChangesAndKeepsWhatItRefuses) {
    ClickAt(grid, 96, 62); // records 9 and 17
    grid.StepSelectedGains(true);
    // Fields the grid does not depend on keep it, gains and selection included.
    ScreenParams other = kWall;
    other.gray_scale = 200;
    other.gamma = 1.0;
    other.start_x = 640;
    other.box_width = 128;
    EXPECT_EQ(kGridOk, grid.BuildSeamGrid(other, cache));
    EXPECT_EQ(1.005f, grid.Segments()[9].gain);
    // Each size on its own rebuilds: gains back to 1.0, a record that existed keeps its selected flag.
    const std::pair<int32_t ScreenParams::*, int32_t> changes[] = {{&ScreenParams::screen_width, 128},
                                                                   {&ScreenParams::screen_height, 192},
                                                                   {&ScreenParams::mod_width, 32},
                                                                   {&ScreenParams::mod_height, 16}};
    for (const auto& [size, value] : changes) {
        ScreenParams changed = kWall;
        changed.*size = value;
        for (const ScreenParams& p : {changed, kWall}) {
            grid.StepSelectedGains(true);
            ASSERT_EQ(kGridOk, grid.BuildSeamGrid(p, cache)) << value;
            EXPECT_EQ(1.0f, grid.Segments()[9].gain) << value;
            EXPECT_EQ(1, grid.Segments()[17].selected) << value;
        }
    }
    // Sizes that do not divide: refused, the grid untouched, but the cache now holds them, so that the
    // sizes before rebuild.
    grid.StepSelectedGains(true);
    EXPECT_EQ(kGridRefused, grid.BuildSeamGrid(Screen(256, 90, 64, 32), cache));
    EXPECT_EQ(48u, grid.Size());
    EXPECT_EQ(90u, cache.screen_height);
    EXPECT_EQ(1.005f, grid.Segments()[9].gain);
    ASSERT_EQ(kGridOk, grid.BuildSeamGrid(kWall, cache));
    EXPECT_EQ(1.0f, grid.Segments()[9].gain);

    SeamGridCache fresh; // all zero, like a fresh process: a zero module is refused all the same
    SeamGrid empty;
    EXPECT_EQ(kGridRefused, empty.BuildSeamGrid(Screen(0, 0, 0, 0), fresh));
    EXPECT_EQ(0u, empty.Size());
}

TEST_F(Grid, UnusableSizesAreRefusedWithoutTouchingTheGrid) {
    const struct {
        const char* name;
        ScreenParams params;
    } cases[] = {
        {"module width 0", Screen(256, 96, 0, 32)},
        {"module height 0", Screen(256, 96, 64, 0)},
        {"count over 32 bits", Screen(65536, 65536, 1, 1)},
        {"negative width as a huge unsigned size", Screen(-64, 4096, 1, 1)},
#if !VELTRA_ASAN
        // Fits the 32-bit count but needs about 120 GB: the allocation fails. AddressSanitizer aborts
        // on a failed operator new instead of throwing, so this case runs in the Wine build only.
        {"allocation fails", Screen(32768, 32767, 1, 1)},
#endif
    };
    grid.StepAllGains(1);
    for (const auto& c : cases) {
        EXPECT_EQ(kGridRefused, grid.BuildSeamGrid(c.params, cache)) << c.name;
        EXPECT_EQ(48u, grid.Size()) << c.name;
        EXPECT_EQ(static_cast<uint32_t>(c.params.mod_width), cache.mod_width) << c.name;
        EXPECT_NE(1.0f, grid.Segments()[0].gain) << c.name;
    }
    // Growing keeps the flags of the records that were there and zeroes the new ones.
    ASSERT_EQ(kGridOk, grid.BuildSeamGrid(Screen(64, 32, 64, 32), cache));
    ASSERT_EQ(kGridOk, grid.SelectSeamAt(64, 32, 64, 32, 32, 2));
    ASSERT_EQ(kGridOk, grid.BuildSeamGrid(kWall, cache));
    EXPECT_EQ(std::vector<int64_t>{0}, Selected(grid));
}

// The wheel steps the selection in single precision and snaps to a bound once it has passed it. The keys
// step every record in double precision against double bounds and never snap: a gain the wheel left at
// 1.4f (just below the double 1.4) takes one more key step up.
TEST_F(Grid, TheWheelPassesItsBoundByLessThanAStepThenSnapsAndTheKeysDoNot) {
    ClickAt(grid, 66, 16); // records 25 and 36
    const struct {
        int wheel, keys, times; // each time one notch (+1 up, -1 down) or one key step (any direction)
        size_t record;
        float gain;
    } steps[] = {
        {+1, 0, 80, 25, 1.3999996f}, {+1, 0, 1, 25, 1.4049996f},  {+1, 0, 1, 36, 1.4f},
        {+1, 0, 1, 36, 1.4f},        {0, 0, 0, 0, 1.0f}, // at the bound it stays; record 0 is not selected
        {0, 0, -1, 25, 1.0f},        {-1, 0, 60, 25, 0.7000003f}, {-1, 0, 1, 25, 0.6950003f},
        {-1, 0, 1, 36, 0.7f},        {-1, 0, 1, 36, 0.7f},        {0, 0, -1, 47, 1.0f},
        {0, +1, 81, 0, 1.4049996f},  {0, +5, 1, 47, 1.4049996f},  {0, 0, -1, 7, 1.0f},
        {0, -1, 61, 7, 0.6950003f},  {0, 0, 1, 7, 0.6950003f},
    };
    for (const auto& s : steps) {
        if (s.times < 0) {
            grid.ResetGains();
        }
        for (int i = 0; i < s.times; ++i) {
            s.wheel != 0 ? grid.StepSelectedGains(s.wheel > 0) : grid.StepAllGains(s.keys);
        }
        EXPECT_EQ(Bits(s.gain), Bits(grid.Segments()[s.record].gain)) << s.times << " to record " << s.record;
    }
    EXPECT_EQ(2u, Selected(grid).size()); // a reset keeps the selection
    grid.ReplaceSeamGrid({SeamSegment{0, 0, 9, 0, 1, 1, 1.4f}});
    grid.StepAllGains(1);
    EXPECT_EQ(Bits(static_cast<float>(static_cast<double>(1.4f) + 0.005)), Bits(grid.Segments()[0].gain));
}

TEST_F(Grid, CopiesReplaceTheListAndLeaveTheCache) {
    std::vector<SeamSegment> copy = grid.CopySeamGrid();
    ASSERT_EQ(48u, copy.size());
    copy.resize(3);
    copy[1].selected = 1;
    grid.ReplaceSeamGrid(copy);
    EXPECT_EQ(3u, grid.Size());
    EXPECT_EQ(1, grid.FirstSelectedIndex());
    EXPECT_EQ(256u, cache.screen_width);
    std::vector<SeamSegment> out{SeamSegment{}};
    EXPECT_TRUE(grid.CollectSelected(out));
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(copy[1].x0, out[0].x0);
    grid.ClearSelection();
    EXPECT_FALSE(grid.CollectSelected(out));
    EXPECT_TRUE(out.empty());
}

TEST_F(Grid, ArrowKeysMoveToTheNeighbouringSeamAsAClickThereWould) {
    const struct {
        const char* name;
        uint16_t from_x, from_y; // a click that selects the starting seam
        SeamMove move;
        std::vector<int64_t> selected; // what a click at the returned point selects; empty: no move
    } cases[] = {{"vertical seam, right across the row", 66, 16, SeamMove::Right, {26, 37}},
                 {"vertical seam, left to the border", 66, 16, SeamMove::Left, {24}},
                 {"vertical seam, down its column", 66, 16, SeamMove::Down, {29, 40}},
                 {"vertical seam in the top row, up: nothing", 66, 16, SeamMove::Up, {}},
                 {"vertical seam in the bottom row, down: nothing", 66, 80, SeamMove::Down, {}},
                 {"right border, right: nothing", 254, 16, SeamMove::Right, {}},
                 {"right border, left", 254, 16, SeamMove::Left, {27, 38}},
                 {"vertical seam, right to the border", 190, 48, SeamMove::Right, {43}},
                 {"horizontal seam, right along the row", 32, 30, SeamMove::Right, {5, 13}},
                 {"horizontal seam, up to the top border", 32, 30, SeamMove::Up, {0}},
                 {"horizontal seam, down to the next", 32, 30, SeamMove::Down, {8, 16}},
                 {"horizontal seam in the first column, left: nothing", 32, 30, SeamMove::Left, {}},
                 {"horizontal seam in the last column, right: nothing", 224, 30, SeamMove::Right, {}},
                 {"the last row's seam, down to the bottom border", 32, 62, SeamMove::Down, {20}},
                 {"the bottom border, up", 96, 94, SeamMove::Up, {9, 17}}};
    for (const auto& c : cases) {
        ASSERT_FALSE(ClickAt(grid, c.from_x, c.from_y).empty()) << c.name;
        uint16_t x = 0;
        uint16_t y = 0;
        const bool moved = NeighbourSeamPoint(grid, kWall, c.move, x, y);
        EXPECT_EQ(!c.selected.empty(), moved) << c.name;
        if (moved) {
            EXPECT_EQ(c.selected, ClickAt(grid, x, y)) << c.name;
        }
    }
}

TEST_F(Grid, TheLabelNamesTheModuleTheEdgeAndBothGainsWhenTheyDiffer) {
    EXPECT_EQ(L"未选择", SelectionText(grid, kWall));
    ClickAt(grid, 190, 48); // left edge of module (3, 1) and right edge of module (2, 1)
    grid.StepSelectedGains(true);
    EXPECT_EQ(L"模组 (2, 1) 右侧的缝隙 增益 1.005", SelectionText(grid, kWall));
    grid.Records()[42].gain = 0.995f;
    EXPECT_EQ(L"模组 (2, 1) 右侧的缝隙：(2, 1) 右边 增益 0.995，(3, 1) 左边 增益 1.005",
              SelectionText(grid, kWall));
    ClickAt(grid, 96, 94);
    EXPECT_EQ(L"模组 (1, 2) 下边（屏幕边缘）增益 1.000", SelectionText(grid, kWall));
    ClickAt(grid, 160, 1);
    EXPECT_EQ(L"模组 (2, 0) 上边（屏幕边缘）增益 1.000", SelectionText(grid, kWall));
    ClickAt(grid, 96, 66); // the bottom edge of module (1, 1) and the top edge of module (1, 2)
    EXPECT_EQ(L"模组 (1, 1) 下方的缝隙 增益 1.000", SelectionText(grid, kWall));
    ClickAt(grid, 254, 80);
    EXPECT_EQ(L"模组 (3, 2) 右边（屏幕边缘）增益 1.000", SelectionText(grid, kWall));
    // A grid of other sizes (an imported file's) is named by record, and no arrow key moves on it.
    ScreenParams other = kWall;
    other.mod_height = 16;
    EXPECT_EQ(L"模组边记录 47 增益 1.000", SelectionText(grid, other));
    uint16_t x = 0;
    uint16_t y = 0;
    EXPECT_FALSE(NeighbourSeamPoint(grid, other, SeamMove::Up, x, y));
    const struct {
        int32_t w, h;
        bool ok;
        uint32_t x, y;
    } centres[] = {{256, 96, true, 128, 48},
                   {131071, 96, true, 65535, 48},
                   {131072, 96, false, 0, 0},
                   {96, 131072, false, 0, 0}};
    for (const auto& c : centres) {
        x = y = 0;
        EXPECT_EQ(c.ok, CentrePoint(Screen(c.w, c.h), x, y)) << c.w << "x" << c.h;
        EXPECT_EQ(c.x + c.y * 65536, x + y * 65536u) << c.w << "x" << c.h;
    }
}

TEST(ScreenParamsCheck, NamesTheFirstUnusableField) {
    const ScreenParams usable = Screen(320, 240, 64, 48);
    EXPECT_EQ(nullptr, UnusableScreenParam(usable));
    const struct {
        int32_t ScreenParams::*field;
        int32_t value;
        const char* named; // nullptr: usable
    } cases[] = {{&ScreenParams::screen_width, -1, "edt_screen_width"},
                 {&ScreenParams::screen_width, 0, nullptr},
                 {&ScreenParams::screen_height, -1, "edt_screen_height"},
                 {&ScreenParams::screen_height, 0, nullptr},
                 {&ScreenParams::box_width, -1, "edt_box_width"},
                 {&ScreenParams::box_width, 0, nullptr},
                 {&ScreenParams::box_height, -1, "edt_box_height"},
                 {&ScreenParams::box_height, 0, nullptr},
                 {&ScreenParams::mod_width, 0, "edt_mod_width"},
                 {&ScreenParams::mod_width, 1, nullptr},
                 {&ScreenParams::mod_height, 0, "edt_mod_height"},
                 {&ScreenParams::mod_height, 1, nullptr},
                 {&ScreenParams::gray_scale, -1, "edt_gray_scale"},
                 {&ScreenParams::gray_scale, 0, nullptr},
                 {&ScreenParams::gray_scale, 256, "edt_gray_scale"},
                 {&ScreenParams::gray_scale, 255, nullptr},
                 {&ScreenParams::start_x, -1920, nullptr}};
    for (const auto& c : cases) {
        ScreenParams p = usable;
        p.*(c.field) = c.value;
        const char* message = UnusableScreenParam(p);
        if (c.named == nullptr) {
            EXPECT_EQ(nullptr, message) << c.value;
        } else {
            ASSERT_NE(nullptr, message) << c.named;
            EXPECT_NE(std::string::npos, std::string(message).find(c.named)) << message;
        }
    }
    ScreenParams two = usable;
    two.mod_width = 0;
    two.gray_scale = 300;
    EXPECT_NE(std::string::npos, std::string(UnusableScreenParam(two)).find("edt_mod_width"));
}

TEST(ScreenParamsCheck, ThePatternOnlyWhereTheDesktopShowsIt) {
    const DesktopRect desktop{-1280, -200, 3200, 1280}; // two monitors: right 1920, bottom 1080
    const struct {
        int32_t x, y, width, height;
        bool on;
    } cases[] = {{-1280, -200, 3200, 1280, true}, {-1281, 0, 320, 240, false}, {1600, 0, 320, 240, true},
                 {1601, 0, 320, 240, false},      {0, 840, 320, 240, true},    {0, 841, 320, 240, false},
                 {0, -201, 320, 240, false},      {0, 0, 0, 240, false},       {0, 0, 320, 0, false},
                 {INT32_MAX, 0, 320, 240, false}, {0, 0, 320, -5, false},      {0, 0, 1, 1, true}};
    for (const auto& c : cases) {
        ScreenParams p = Screen(c.width, c.height, 64, 48);
        p.start_x = c.x;
        p.start_y = c.y;
        EXPECT_EQ(c.on, ScreenLiesOnDesktop(p, desktop))
            << c.x << ", " << c.y << ", " << c.width << " x " << c.height;
    }
}
