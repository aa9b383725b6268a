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
    const Case cases[] = {
        {"", 1, "no root element"},
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
        {"<a x=", 1, "quoted value expected"},
    };
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
    };
    for (const Case& c : bad) {
        EXPECT_EQ(c.expected, Utf8ToUtf16(c.bytes)) << c.bytes;
    }
    EXPECT_EQ("\xEF\xBF\xBD", Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))));
}
