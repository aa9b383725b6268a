// The stand-in libraries: the layout reader and values, UTF-8, paths and byte counts.
#include "lib/baselib/memory_budget.h"
#include "lib/baselib/path.h"
#include "lib/uilib/layout.h"
#include "lib/uilib/utf8.h"
#include "lib/uilib/xml_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

TEST(XmlReader, ReadsLayoutsWithCommentsEntitiesAndChinese) {
    const char text[] =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<!-- head -->\n"
        "<Window size='10,20'>\n"
        "  <Label text=\"连接 &amp; &lt;x&gt; &#65;&#x4E2D;&quot;&apos;\" />\n"
        "  <AZ09az_-.:一 edge=\"&#39;&#xaf;&#xAF;&#x10FFFF;&#xD7FF;&#xE000;&#0000000065;\"/>\n"
        "  <!-- <Button name=\"ignored\"/> -->\n"
        "  <VerticalLayout>text is ignored<Edit name=\"e\"/></VerticalLayout >\n"
        "</Window>\n<!-- tail -->\n";
    XmlElement root;
    XmlError error;
    ASSERT_TRUE(ParseXml(text, root, error)) << error.line << ": " << error.message;
    EXPECT_EQ("Window", root.name);
    EXPECT_EQ(3, root.line);
    ASSERT_NE(nullptr, root.Attribute("size"));
    EXPECT_EQ("10,20", *root.Attribute("size"));
    ASSERT_EQ(3u, root.children.size());
    EXPECT_EQ("连接 & <x> A中\"'", *root.children[0].Attribute("text"));
    EXPECT_EQ(4, root.children[0].line);
    // Every edge of the name characters and of the character references.
    EXPECT_EQ("AZ09az_-.:一", root.children[1].name);
    EXPECT_EQ("'\xC2\xAF\xC2\xAF\xF4\x8F\xBF\xBF\xED\x9F\xBF\xEE\x80\x80"
              "A",
              *root.children[1].Attribute("edge"));
    ASSERT_EQ(1u, root.children[2].children.size());
    EXPECT_EQ("e", *root.children[2].children[0].Attribute("name"));
    EXPECT_EQ(nullptr, root.Attribute("missing"));
}

TEST(XmlReader, RefusesMalformedInputWithTheLine) {
    struct Case {
        const char* text;
        int line;
        const char* message;
    };
    const Case cases[] = {{"", 1, "no root element"},
                          {"<a>", 1, "missing end tag"},
                          {"<a>\n</b>", 2, "end tag does not match"},
                          {"<a x=\"1\" x=\"2\"/>", 1, "duplicate attribute"},
                          {"<a x=1/>", 1, "quoted value expected"},
                          {"<a x=\"1\"y=\"2\"/>", 1, "space expected between attributes"},
                          {"<a x=\"&bogus;\"/>", 1, "unknown entity"},
                          {"<a x=\"&#0;\"/>", 1, "character reference out of range"},
                          {"<a x=\"&#xD800;\"/>", 1, "character reference out of range"},
                          {"<a x=\"&#xDFFF;\"/>", 1, "character reference out of range"},
                          {"<a x=\"&#x110000;\"/>", 1, "character reference out of range"},
                          {"<a x=\"<\"/>", 1, "'<' in an attribute value"},
                          {"<a/><b/>", 1, "content after the root element"},
                          {"<a>\n\n<!-- open", 3, "unterminated comment"},
                          {"<a><![CDATA[x]]></a>", 1, "unsupported markup"},
                          {"<a x=\"unterminated", 1, "unterminated attribute value"},
                          {"<a x=\"&#00000000065;\"/>", 1, "bad entity"},
                          {"<a x=\"&#;\"/>", 1, "unknown entity"},
                          {"<a\x7F/>", 1, "space expected between attributes"},
                          {"<a", 1, "space expected between attributes"},
                          {"<a ", 1, "name expected"},
                          {"<a x=", 1, "quoted value expected"}};
    for (const Case& c : cases) {
        XmlElement root;
        XmlError error;
        // From a buffer of exactly the text's size, so that a read past its end is seen.
        const std::vector<char> exact(c.text, c.text + std::strlen(c.text));
        EXPECT_FALSE(ParseXml(std::string_view(exact.data(), exact.size()), root, error)) << c.text;
        EXPECT_EQ(c.line, error.line) << c.text;
        EXPECT_EQ(c.message, error.message) << c.text;
    }
}

TEST(XmlReader, DeepNestingIsRefusedNotRecursedInto) {
    std::string deep;
    for (int i = 0; i < 100000; ++i) {
        deep += "<a>";
    }
    XmlElement root;
    XmlError error;
    EXPECT_FALSE(ParseXml(deep, root, error));
    EXPECT_EQ("elements nested too deeply", error.message);

    std::string ok;
    for (int i = 0; i < kXmlMaxDepth; ++i) {
        ok += "<a>";
    }
    for (int i = 0; i < kXmlMaxDepth; ++i) {
        ok += "</a>";
    }
    EXPECT_TRUE(ParseXml(ok, root, error)) << error.message;
    EXPECT_FALSE(ParseXml("<a>" + ok + "</a>", root, error)); // one level more is refused
}

TEST(Utf8, RoundTripsAndReplacesIllFormedSequences) {
    EXPECT_EQ(u"连接 A", Utf8ToUtf16("连接 A"));
    EXPECT_EQ(u"\U0001F600", Utf8ToUtf16("\xF0\x9F\x98\x80"));
    EXPECT_EQ("\xF0\x9F\x98\x80", Utf16ToUtf8(u"\U0001F600"));
    EXPECT_EQ("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", Utf16ToUtf8(u"\u007F\u0080\u07FF\u0800\uFFFF"));
    EXPECT_EQ("使用文档 -Korvane.pdf", Utf16ToUtf8(Utf8ToUtf16("使用文档 -Korvane.pdf")));

    struct Case {
        const char* bytes;
        std::u16string expected;
    };
    const Case bad[] = {
        {"\xC0\x80", u"\uFFFD"},     // overlong NUL
        {"\xED\xA0\x80", u"\uFFFD"}, // a surrogate
        {"\xE4\xB8", u"\uFFFD"},     // truncated at the end
        {"\xE4"
         "A",
         u"\uFFFDA"}, // truncated, resynchronised at the next character
        {"\xFF"
         "b",
         u"\uFFFDb"},                    // never a lead byte
        {"\xF4\x90\x80\x80", u"\uFFFD"}, // above U+10FFFF
        {"\xED\xBF\xBF", u"\uFFFD"},     // the last surrogate
        {"\xE0\x9F\xBF", u"\uFFFD"},     // U+07FF in three bytes: overlong
        {"\xE0\xA0\x80", u"\u0800"},     // the first character that needs three
    };
    for (const Case& c : bad) {
        EXPECT_EQ(c.expected, Utf8ToUtf16(c.bytes)) << c.bytes;
    }
    EXPECT_EQ("\xEF\xBF\xBD", Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))));
}

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
    items[2].padding = UiRect{1, 2, 3, 4};
    const auto r = ArrangeLinear(UiRect{0, 0, 100, 20}, UiRect{}, 4, true, items);
    EXPECT_EQ((UiRect{0, 0, 40, 20}), r[0]);
    EXPECT_EQ(0, r[1].Width());
    EXPECT_EQ((UiRect{45, 2, 97, 16}), r[2]); // 100 less 40, the gap and the padding: 52 wide

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
    EXPECT_EQ(L"", Util::Path::GetFileName(L"C:\\wall\\.CHK"));
}

TEST(MemoryBudget, BytesAreNamedInTheLargestUnitBelow1024AndProductsNeverWrap) {
    const struct {
        uint64_t bytes;
        const char* text;
    } cases[] = {{1023, "1023 bytes"},   {1024, "1.0 KB"},    {1536, "1.5 KB"},
                 {1048575, "1024.0 KB"}, {1048576, "1.0 MB"}, {25ull << 30, "25.0 GB"},
                 {UINT64_MAX, "16.0 EB"}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, FormatBytes(c.bytes)) << c.bytes;
    }
    uint64_t product = 7;
    EXPECT_TRUE(MultiplyBytes(1ull << 32, (1ull << 32) - 1, product));
    EXPECT_EQ(UINT64_MAX - (1ull << 32) + 1, product);
    EXPECT_FALSE(MultiplyBytes(1ull << 32, 1ull << 32, product));
    EXPECT_TRUE(MultiplyBytes(0, UINT64_MAX, product));
    EXPECT_EQ(0u, product);
}
