#include "seam/gamma_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(GammaTable, ReferenceEntries) {
    struct Case {
        float gamma;
        int index;
        int level;
    };
    const Case cases[] = {
        {2.2f, 0, 0},     {2.2f, 1, 21},     {2.2f, 2, 28},
        {2.2f, 8, 53},    {2.2f, 16, 72},    {2.2f, 32, 99},
        {2.2f, 64, 136},  {2.2f, 100, 167},  {2.2f, 128, 186},
        {2.2f, 192, 224}, {2.2f, 254, 255},  {2.2f, 255, 255},
        {0.5f, 1, 0},     {0.5f, 16, 1},     {0.5f, 64, 16},
        {0.5f, 128, 64},  {0.5f, 192, 145},  {0.5f, 254, 253},
        {0.5f, 255, 255}, {1.35f, 207, 218}, // 218.5 exactly: a half rounds down
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "gamma " << c.gamma << " entry " << c.index);
        GammaTable t{};
        BuildGammaTable(c.gamma, t);
        EXPECT_EQ(c.level, t[c.index]);
    }
}

TEST(GammaTable, GammaOneIsIdentityAndEndsAreFixed) {
    GammaTable t{};
    BuildGammaTable(1.0f, t);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(i, t[i]);
    }
    for (float g : {0.1f, 0.7f, 1.8f, 2.2f, 3.0f, 10.0f}) {
        t.fill(7);
        BuildGammaTable(g, t);
        EXPECT_EQ(0, t[0]) << g;
        EXPECT_EQ(255, t[255]) << g;
    }
}

TEST(GammaTable, UsableGammaMustBePositiveInSinglePrecision) {
    EXPECT_TRUE(GammaUsable(2.2));
    EXPECT_FALSE(GammaUsable(0.0));
    EXPECT_FALSE(GammaUsable(-1.0));
    EXPECT_FALSE(GammaUsable(1e-50)); // positive as a double, zero as a float
    EXPECT_FALSE(GammaUsable(std::numeric_limits<double>::quiet_NaN()));
}

TEST(LineLevels, ProductIsTruncatedAndLimited) {
    GammaTable t{};
    BuildGammaTable(1.0f, t); // identity: the level is the index itself
    const struct {
        int gray;
        float gain;
        int all, list, background;
    } cases[] = {
        {128, 1.005f, 128, 128, 128},
        {128, 1.01f, 129, 129, 128},
        {128, 0.995f, 127, 127, 128},
        {255, 0.7f, 178, 178, 255},
        {255, 1.0f, 255, 255, 255},
        {254, 1.0f, 254, 254, 254},
        {255, 0.998f, 254, 254, 255}, // 254.49: one level below the top, not the top
        {200, 1.4f, 255, 255, 200},
        {0, 1.4f, 0, 0, 0},
        // Above 255 the two drawings differ: one limits the product, the other the gray level first.
        {256, 0.7f, 179, 178, 255},
        {300, 0.7f, 210, 178, 255},
        // Hostile gains from a file never index outside the table.
        {128, -1.0f, 0, 0, 128},
        {128, std::numeric_limits<float>::quiet_NaN(), 0, 0, 128},
        {128, std::numeric_limits<float>::infinity(), 255, 255, 128},
        {-5, 1.0f, 0, 0, 0},
        {-1, 1.0f, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "gray " << c.gray << " gain " << c.gain);
        EXPECT_EQ(c.all, AllSegmentsLineLevel(t, c.gray, c.gain));
        EXPECT_EQ(c.list, SegmentListLineLevel(t, c.gray, c.gain));
        EXPECT_EQ(c.background, BackgroundLevel(t, c.gray));
    }
    BuildGammaTable(2.2f, t);
    EXPECT_EQ(186, BackgroundLevel(t, 128));
    EXPECT_EQ(186, AllSegmentsLineLevel(t, 128, 1.005f)); // same as the field: invisible
    EXPECT_EQ(t[129], AllSegmentsLineLevel(t, 128, 1.01f));
}
