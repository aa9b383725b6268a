#include "lib/baselib/path.h"
#include "lib/uilib/layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(ArrangeLinear, FixedItemsFirstThenTheRestSharedEqually) {
    std::vector<LayoutItem> items(4);
    items[0].fixed_height = 30;
    items[2].fixed_height = 10;
    items[2].fixed_width = 50;
    items[2].padding = UiRect{5, 2, 0, 3};
    const auto r = ArrangeLinear(UiRect{0, 0, 200, 101}, UiRect{10, 1, 10, 0}, 2, false, items);
    // Height 100 inside the inset; fixed 30 + 10 + padding 5 + gaps 6 leaves 49: 24 and 25.
    EXPECT_EQ((UiRect{10, 1, 190, 31}), r[0]);
    EXPECT_EQ((UiRect{10, 33, 190, 57}), r[1]);
    EXPECT_EQ((UiRect{15, 61, 65, 71}), r[2]);
    EXPECT_EQ((UiRect{10, 76, 190, 101}), r[3]);
}

TEST(ArrangeLinear, HiddenItemsTakeNoSpaceAndOverfullRowsDoNotGoNegative) {
    std::vector<LayoutItem> items(3);
    items[0].fixed_width = 40;
    items[1].visible = false;
    const auto r = ArrangeLinear(UiRect{0, 0, 100, 20}, UiRect{}, 4, true, items);
    EXPECT_EQ((UiRect{0, 0, 40, 20}), r[0]);
    EXPECT_EQ(0, r[1].Width());
    EXPECT_EQ((UiRect{44, 0, 100, 20}), r[2]);

    items[0].fixed_width = 500;
    const auto tight = ArrangeLinear(UiRect{0, 0, 100, 20}, UiRect{}, 4, true, items);
    EXPECT_EQ(0, tight[2].Width());
    EXPECT_GE(tight[2].left, 0);
}

namespace {

// Parses from a buffer of exactly the text's size, so that a read past its end is seen.
template <typename Parse> auto Exact(Parse parse, const char* text) {
    const std::vector<char> buffer(text, text + std::strlen(text));
    return parse(std::string_view(buffer.data(), buffer.size()));
}

} // namespace

TEST(LayoutValues, ParseAttributeTexts) {
    EXPECT_EQ((UiRect{1, -2, 3, 4}), Exact(ParseRectValue, "1, -2,3 ,4"));
    EXPECT_FALSE(Exact(ParseRectValue, "1,2,3"));
    EXPECT_FALSE(Exact(ParseRectValue, "1,2,3,"));
    EXPECT_FALSE(Exact(ParseRectValue, "1,2,3,-"));
    EXPECT_FALSE(Exact(ParseRectValue, "1,2,3,4,5"));
    EXPECT_FALSE(Exact(ParseRectValue, "1,2,x,4"));
    EXPECT_EQ(std::make_pair(880, 609), *Exact(ParseSizeValue, "880,609 "));
    EXPECT_FALSE(Exact(ParseIntValue, ""));
    EXPECT_FALSE(Exact(ParseIntValue, "99999999999999999999"));
    EXPECT_EQ(1000000, *Exact(ParseIntValue, "1000000"));
    EXPECT_FALSE(Exact(ParseIntValue, "1000001"));
    EXPECT_EQ(0x22313Fu, *Exact(ParseColorValue, "#22313F"));
    EXPECT_EQ(0xABCDEFu, *Exact(ParseColorValue, "#FFabcdef"));
    EXPECT_EQ(0x09AFAFu, *Exact(ParseColorValue, "#09afAF"));
    EXPECT_FALSE(Exact(ParseColorValue, "22313F"));
    EXPECT_FALSE(Exact(ParseColorValue, "#12345G"));
}

// The save joins folder, "\\", name and ".chk": a chosen "a.chk" must come back as "a", any other
// name whole.
TEST(UtilPath, SplitsFolderAndNameWithoutTheSeamExtension) {
    EXPECT_EQ(L"C:\\wall\\seams", Util::Path::GetFileFolder(L"C:\\wall\\seams\\a.chk"));
    EXPECT_EQ(L"a", Util::Path::GetFileName(L"C:\\wall\\seams\\a.chk"));
    EXPECT_EQ(L"", Util::Path::GetFileFolder(L"a.chk"));
    EXPECT_EQ(L"b", Util::Path::GetFileName(L"b.CHK"));
    EXPECT_EQ(L"c.chk.txt", Util::Path::GetFileName(L"d:/c.chk.txt"));
    EXPECT_EQ(L"d.dat", Util::Path::GetFileName(L"d.dat"));
    EXPECT_EQ(L"chk", Util::Path::GetFileName(L"chk"));
    EXPECT_EQ(L"", Util::Path::GetFileName(L"C:\\wall\\"));
}
