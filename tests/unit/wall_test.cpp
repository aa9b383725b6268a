// The simulator's wall: join factors on the facing edge lines, the picture, the residual.
#include "tools/ledsim/topology.h"
#include "tools/ledsim/wall.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace ledsim;

namespace {

// 2 x 2 modules of 4 x 2 pixels: the join right of module (0, 0) at 1.25, below module (1, 0) at 0.5.
Wall SmallWall() {
    WallDescription described;
    described.module_width = 4;
    described.module_height = 2;
    described.joins = {JoinFactor{0, 0, false, 1.25f}, JoinFactor{1, 0, true, 0.5f},
                       JoinFactor{1, 1, false, 3.0f}};
    return MakeWall(described, 8, 4);
}

} // namespace

TEST(Wall, JoinFactorsLieOnBothFacingEdgeLines) {
    const Wall wall = SmallWall();
    ASSERT_EQ(2u, wall.columns);
    ASSERT_EQ(2u, wall.rows);
    const struct {
        uint32_t x, y;
        float factor;
    } cases[] = {{3, 0, 1.25f}, {4, 0, 1.25f}, {3, 1, 1.25f}, {4, 1, 0.625f}, {5, 1, 0.5f}, {5, 2, 0.5f},
                 {2, 0, 1.0f},  {3, 2, 1.0f},  {7, 3, 1.0f},  {7, 0, 1.0f},   {9, 9, 1.0f}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.factor, wall.Factor(c.x, c.y)) << c.x << "," << c.y; // the border faces no join
    }
    Wall back;
    std::vector<uint8_t> bytes = EncodeWall(wall);
    ASSERT_TRUE(DecodeWall(bytes, back));
    EXPECT_EQ(wall.right, back.right);
    EXPECT_EQ(wall.below, back.below);
    bytes.pop_back();
    EXPECT_FALSE(DecodeWall(bytes, back));

    // Module sizes must come with modules, each of the two; a wall of none is 16 bytes exactly.
    WallDescription ones;
    ones.module_width = ones.module_height = 1;
    std::vector<uint8_t> no_width = EncodeWall(wall), no_height = no_width;
    no_width[3] = 0;
    no_height[7] = 0;
    const struct {
        std::vector<uint8_t> bytes;
        bool decoded;
    } walls[] = {{EncodeWall(Wall{}), true},
                 {std::vector<uint8_t>(15), false},
                 {no_width, false},
                 {no_height, false},
                 {EncodeWall(MakeWall(ones, 2, 1)), true},
                 {EncodeWall(MakeWall(ones, 4, 2)), true}, // eight modules: the count is bytes / 8 exactly
                 // 2^31 x 2^31 modules in a bare head: eight bytes each would wrap around to no bytes at all.
                 {{0, 0, 0, 1, 0, 0, 0, 1, 0x80, 0, 0, 0, 0x80, 0, 0, 0}, false}};
    for (const auto& w : walls) {
        EXPECT_EQ(w.decoded, DecodeWall(w.bytes, back)) << w.bytes.size();
    }
}

TEST(Wall, ThePictureMultipliesGrayFactorAndCoefficientThroughTheGamma) {
    const Wall wall = SmallWall();
    CardPicture card;
    card.rows = 4;
    card.columns = 8;
    card.correction_on = true;
    card.memory.assign(32, 128);
    // Columns 3 and 4 of rows 0 and 1 at 102 (0.797): each 32-bit word is held reversed.
    for (uint32_t y : {0u, 1u}) {
        for (uint32_t x : {3u, 4u}) {
            card.memory[y * 8 + (x ^ 3u)] = 102;
        }
    }
    Picture p = RenderWall(wall, {card}, 8, 4, 100, 1.0);
    EXPECT_EQ(100, p.pixels[0 * 8 + 3]); // 100 x 1.25 x 102 / 128 = 99.6
    EXPECT_EQ(50, p.pixels[1 * 8 + 4]);  // and x 0.5 below: 49.8
    EXPECT_EQ(50, p.pixels[2 * 8 + 6]);  // 0.5 alone
    EXPECT_EQ(100, p.pixels[3 * 8 + 0]);
    // The worst line: below module (1, 0), row 1, columns 4 to 7: 49.8, 50, 50, 50 against 100.
    EXPECT_NEAR(50.05, p.residual_percent, 0.01);
    EXPECT_EQ("the join below module (1, 0)", p.residual_join);
    EXPECT_EQ("the bottom edge of module (1, 0) and the top edge of module (1, 1)", p.residual_edges);
    EXPECT_EQ(6u + 2u * 100u, p.residual_click_x + p.residual_click_y * 100u);

    card.correction_on = false; // the coefficients do nothing while the switch is off
    p = RenderWall(wall, {card}, 8, 4, 100, 1.0);
    EXPECT_EQ(125, p.pixels[3]);
    p = RenderWall(Wall{}, {}, 3, 1, 64, 2.0); // no seams: sqrt(64 / 255) x 255 = 127.7
    EXPECT_EQ(128, p.pixels[1]);
    EXPECT_EQ(0.0, p.residual_percent);
    EXPECT_TRUE(p.residual_join.empty());
    p = RenderWall(wall, {}, 8, 4, 250, 1.0); // clipped at 255
    EXPECT_EQ(255, p.pixels[3]);
}

TEST(Wall, ASeedGivesTheSameWallEverywhereAndTopologiesCarryIt) {
    Topology t;
    std::string error;
    ASSERT_TRUE(ParseTopology(R"({"ports": [{"cards": [{"rows": 64, "columns": 128}]}],
        "wall": {"module_width": 32, "module_height": 16, "random": {"seed": 7, "low": 0.9, "high": 1.1,
                 "share": 0.5}, "joins": [{"column": 1, "row": 2, "side": "below", "factor": 1.05}]}})",
                              t, error))
        << error;
    uint32_t w = 0, h = 0;
    TopologyExtent(t, w, h);
    EXPECT_EQ(2u * 128 * 64 + 8 * 4 * 4,
              TopologyMemory(t)); // memory and its stored copy, two factors a module
    const Wall a = MakeWall(t.wall, w, h);
    const Wall b = MakeWall(t.wall, w, h);
    EXPECT_EQ(a.right, b.right);
    EXPECT_EQ(1.05f, a.Below(1, 2));
    size_t drawn = 0;
    for (size_t i = 0; i < a.right.size(); ++i) {
        EXPECT_TRUE(a.right[i] >= 0.9f && a.right[i] <= 1.1f);
        drawn += a.right[i] != 1.0f;
    }
    EXPECT_EQ(5u, drawn); // the fixed seed's draws, the same on every machine (4 x 4 modules)
    t.wall.seed = 8;
    EXPECT_NE(a.right, MakeWall(t.wall, w, h).right);
    // Every limit is inclusive; no wall description gives no module term.
    ASSERT_TRUE(
        ParseTopology(R"({"ports": [{"cards": [{"rows": 2, "columns": 3}]}], "wall": {"module_width": 1,
        "module_height": 1, "random": {"seed": 0, "low": 0.1, "high": 10, "share": 1}}})",
                      t, error))
        << error;
    EXPECT_EQ(2u * 4 * 2 + 8 * 3 * 2, TopologyMemory(t));
    for (const auto& [width, height] : {std::pair<uint16_t, uint16_t>{0, 0}, {4, 0}, {0, 4}}) {
        t.wall.module_width = width;
        t.wall.module_height = height;
        EXPECT_EQ(2u * 4 * 2, TopologyMemory(t)) << width << " x " << height;
    }
    EXPECT_TRUE(ParseTopology(R"({"ports": [], "wall": {"module_width": 0, "module_height": 0}})", t, error));
    for (const char* bad : {R"("wall": {"module_width": 4})", R"("wall": {"module_height": 4})",
                            R"("wall": {"module_width": 4, "module_height": 4,
                              "joins": [{"column": 0, "row": 0, "side": "left", "factor": 1}]})",
                            R"("wall": {"module_width": 4, "module_height": 4, "random": {"share": 2}})"}) {
        EXPECT_FALSE(ParseTopology(std::string(R"({"ports": [], )") + bad + "}", t, error)) << bad;
    }
}
