#include "seam/seam_selection.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Three columns and three rows of 64 x 32 modules.
ScreenParams Sizes() {
    ScreenParams p;
    p.screen_width = 192;
    p.screen_height = 96;
    p.mod_width = 64;
    p.mod_height = 32;
    return p;
}

std::vector<int64_t> SelectedAt(SeamGrid& grid, uint16_t x, uint16_t y) {
    grid.SelectSeamAt(192, 96, 64, 32, x, y);
    std::vector<int64_t> out;
    for (size_t i = 0; i < grid.Size(); ++i) {
        if (grid.Segments()[i].selected != 0) {
            out.push_back(static_cast<int64_t>(i));
        }
    }
    return out;
}

} // namespace

TEST(SeamSelection, ArrowKeysMoveToTheNeighbouringSeamAsAClickThereWould) {
    // n = 9 modules: top 0-8, bottom 9-17, left 18-26, right 27-35.
    struct Case {
        const char* name;
        uint16_t from_x, from_y; // a click that selects the starting seam
        SeamMove move;
        std::vector<int64_t> selected; // what the click at the returned point selects; empty: no move
    } cases[] = {
        {"vertical seam, right along the row", 70, 10, SeamMove::Right, {19 + 1, 27 + 1}},
        {"vertical seam, left to the border", 70, 10, SeamMove::Left, {18}},
        {"right border, right: nothing", 190, 16, SeamMove::Right, {}},
        {"vertical seam, down its column", 70, 10, SeamMove::Down, {18 + 4, 27 + 3}},
        {"horizontal seam, right along the row", 32, 30, SeamMove::Right, {1 + 3, 9 + 1}},
        {"horizontal seam in the last column, right: nothing", 160, 30, SeamMove::Right, {}},
        {"horizontal seam, down to the next", 32, 30, SeamMove::Down, {0 + 6, 9 + 3}},
        {"last row's seam, down to the bottom border", 32, 66, SeamMove::Down, {9 + 6}},
        {"right border, left", 190, 16, SeamMove::Left, {18 + 2, 27 + 1}},
    };
    for (const Case& c : cases) {
        SeamGrid grid;
        SeamGridCache cache;
        ASSERT_EQ(kGridOk, grid.BuildSeamGrid(Sizes(), cache));
        ASSERT_FALSE(SelectedAt(grid, c.from_x, c.from_y).empty()) << c.name;
        uint16_t x = 0;
        uint16_t y = 0;
        const bool moved = NeighbourSeamPoint(grid, Sizes(), c.move, x, y);
        EXPECT_EQ(!c.selected.empty(), moved) << c.name;
        if (moved) {
            EXPECT_EQ(c.selected, SelectedAt(grid, x, y)) << c.name;
        }
    }
}

TEST(SeamSelection, TheLabelNamesTheModuleTheEdgeAndBothGainsWhenTheyDiffer) {
    SeamGrid grid;
    SeamGridCache cache;
    ASSERT_EQ(kGridOk, grid.BuildSeamGrid(Sizes(), cache));
    EXPECT_EQ(L"未选择", SelectionText(grid, Sizes()));
    SelectedAt(grid, 70, 10); // left edge of module (1, 0) and right edge of module (0, 0)
    grid.StepSelectedGains(true);
    EXPECT_EQ(L"模组 (0, 0) 右侧的缝隙 增益 1.005", SelectionText(grid, Sizes()));
    grid.Records()[27].gain = 0.995f;
    EXPECT_EQ(L"模组 (0, 0) 右侧的缝隙：(0, 0) 右边 增益 0.995，(1, 0) 左边 增益 1.005",
              SelectionText(grid, Sizes()));
    SelectedAt(grid, 32, 66); // the bottom edge of module (0, 1) and the top edge of module (0, 2)
    EXPECT_EQ(L"模组 (0, 1) 下方的缝隙 增益 1.000", SelectionText(grid, Sizes()));
    SelectedAt(grid, 32, 95);
    EXPECT_EQ(L"模组 (0, 2) 下边（屏幕边缘）增益 1.000", SelectionText(grid, Sizes()));
    // A grid of other sizes (an imported file's) is named by record, and no arrow key moves on it.
    ScreenParams other = Sizes();
    other.mod_height = 16;
    EXPECT_EQ(L"模组边记录 15 增益 1.000", SelectionText(grid, other));
    uint16_t x = 0;
    uint16_t y = 0;
    EXPECT_FALSE(NeighbourSeamPoint(grid, other, SeamMove::Up, x, y));
    ASSERT_TRUE(CentrePoint(Sizes(), x, y));
    EXPECT_EQ(96 + 48 * 65536, x + y * 65536);
}
