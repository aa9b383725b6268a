#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The subset of XML our layout files use: one root element, nested elements with attributes,
// comments, an optional declaration and BOM. Text between elements is ignored. Texts stay UTF-8.
struct XmlElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<XmlElement> children;
    int line = 0;

    const std::string* Attribute(std::string_view key) const;
};

struct XmlError {
    int line = 0;
    std::string message;
};

// Returns false with a line and message on malformed input; never reads past the text.
bool ParseXml(std::string_view text, XmlElement& root, XmlError& error);

// Nesting deeper than this is refused, so hostile files cannot exhaust the stack.
constexpr int kXmlMaxDepth = 64;
