#include "lib/uilib/xml_reader.h"

#include "lib/uilib/utf8.h"

#include <cstdint>

const std::string* XmlElement::Attribute(std::string_view key) const {
    for (const auto& a : attributes) {
        if (a.first == key) {
            return &a.second;
        }
    }
    return nullptr;
}

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == ':' || u >= 0x80;
}

class Parser {
public:
    Parser(std::string_view text, XmlError& error) : s_(text), error_(error) {}

    bool Document(XmlElement& root) {
        if (s_.substr(0, 3) == "\xEF\xBB\xBF") {
            pos_ = 3;
        }
        if (!Misc()) {
            return false;
        }
        if (At("<?")) {
            if (!SkipPast("?>")) {
                return Fail("unterminated declaration");
            }
            if (!Misc()) {
                return false;
            }
        }
        if (!At("<")) {
            return Fail("no root element");
        }
        if (!Element(root, 1)) {
            return false;
        }
        if (!Misc()) {
            return false;
        }
        if (pos_ != s_.size()) {
            return Fail("content after the root element");
        }
        return true;
    }

private:
    bool Fail(const char* message) {
        error_.line = line_;
        error_.message = message;
        return false;
    }

    bool At(std::string_view what) const { return s_.substr(pos_, what.size()) == what; }

    void Advance(size_t n) {
        for (size_t i = 0; i < n && pos_ < s_.size(); ++i, ++pos_) {
            if (s_[pos_] == '\n') {
                ++line_;
            }
        }
    }

    bool SkipPast(std::string_view end) {
        const size_t found = s_.find(end, pos_);
        if (found == std::string_view::npos) {
            return false;
        }
        Advance(found + end.size() - pos_);
        return true;
    }

    void SkipSpace() {
        while (pos_ < s_.size() && IsSpace(s_[pos_])) {
            Advance(1);
        }
    }

    // Whitespace and comments between elements.
    bool Misc() {
        for (;;) {
            SkipSpace();
            if (At("<!--")) {
                if (!SkipPast("-->")) {
                    return Fail("unterminated comment");
                }
                continue;
            }
            return true;
        }
    }

    bool Name(std::string& out) {
        const size_t start = pos_;
        while (pos_ < s_.size() && IsNameChar(s_[pos_])) {
            ++pos_;
        }
        if (pos_ == start) {
            return Fail("name expected");
        }
        out.assign(s_.substr(start, pos_ - start));
        return true;
    }

    bool Entity(std::string& out) {
        const size_t end = s_.find(';', pos_);
        if (end == std::string_view::npos || end - pos_ > 12) {
            return Fail("bad entity");
        }
        const std::string_view e = s_.substr(pos_ + 1, end - pos_ - 1);
        if (e == "amp") {
            out.push_back('&');
        } else if (e == "lt") {
            out.push_back('<');
        } else if (e == "gt") {
            out.push_back('>');
        } else if (e == "quot") {
            out.push_back('"');
        } else if (e == "apos") {
            out.push_back('\'');
        } else if (e.size() >= 2 && e[0] == '#') {
            const bool hex = e[1] == 'x' || e[1] == 'X';
            const std::string_view digits = e.substr(hex ? 2 : 1);
            if (digits.empty()) {
                return Fail("bad character reference");
            }
            uint32_t cp = 0;
            for (char c : digits) {
                uint32_t d;
                if (c >= '0' && c <= '9') {
                    d = static_cast<uint32_t>(c - '0');
                } else if (hex && c >= 'a' && c <= 'f') {
                    d = static_cast<uint32_t>(c - 'a' + 10);
                } else if (hex && c >= 'A' && c <= 'F') {
                    d = static_cast<uint32_t>(c - 'A' + 10);
                } else {
                    return Fail("bad character reference");
                }
                cp = cp * (hex ? 16 : 10) + d;
                if (cp > 0x10FFFF) {
                    return Fail("character reference out of range");
                }
            }
            if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) {
                return Fail("character reference out of range");
            }
            AppendUtf8(out, cp);
        } else {
            return Fail("unknown entity");
        }
        Advance(end + 1 - pos_);
        return true;
    }

    bool Value(std::string& out) {
        if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\'')) {
            return Fail("quoted value expected");
        }
        const char quote = s_[pos_];
        Advance(1);
        while (pos_ < s_.size() && s_[pos_] != quote) {
            if (s_[pos_] == '<') {
                return Fail("'<' in an attribute value");
            }
            if (s_[pos_] == '&') {
                if (!Entity(out)) {
                    return false;
                }
                continue;
            }
            out.push_back(s_[pos_]);
            Advance(1);
        }
        if (pos_ >= s_.size()) {
            return Fail("unterminated attribute value");
        }
        Advance(1);
        return true;
    }

    bool Element(XmlElement& e, int depth) {
        if (depth > kXmlMaxDepth) {
            return Fail("elements nested too deeply");
        }
        e.line = line_;
        Advance(1); // '<'
        if (!Name(e.name)) {
            return false;
        }
        for (;;) {
            const size_t before = pos_;
            SkipSpace();
            if (At("/>")) {
                Advance(2);
                return true;
            }
            if (At(">")) {
                Advance(1);
                break;
            }
            if (pos_ == before) {
                return Fail("space expected between attributes");
            }
            std::pair<std::string, std::string> attribute;
            if (!Name(attribute.first)) {
                return false;
            }
            SkipSpace();
            if (!At("=")) {
                return Fail("'=' expected");
            }
            Advance(1);
            SkipSpace();
            if (!Value(attribute.second)) {
                return false;
            }
            if (e.Attribute(attribute.first) != nullptr) {
                return Fail("duplicate attribute");
            }
            e.attributes.push_back(std::move(attribute));
        }
        // Content: child elements, comments and ignored text, up to the matching end tag.
        for (;;) {
            const size_t next = s_.find('<', pos_);
            if (next == std::string_view::npos) {
                return Fail("missing end tag");
            }
            Advance(next - pos_);
            if (At("<!--")) {
                if (!SkipPast("-->")) {
                    return Fail("unterminated comment");
                }
            } else if (At("</")) {
                Advance(2);
                std::string end;
                if (!Name(end)) {
                    return false;
                }
                if (end != e.name) {
                    return Fail("end tag does not match");
                }
                SkipSpace();
                if (!At(">")) {
                    return Fail("'>' expected");
                }
                Advance(1);
                return true;
            } else if (At("<!") || At("<?")) {
                return Fail("unsupported markup");
            } else {
                e.children.emplace_back();
                if (!Element(e.children.back(), depth + 1)) {
                    return false;
                }
            }
        }
    }

    std::string_view s_;
    XmlError& error_;
    size_t pos_ = 0;
    int line_ = 1;
};

} // namespace

bool ParseXml(std::string_view text, XmlElement& root, XmlError& error) {
    root = XmlElement{};
    return Parser(text, error).Document(root);
}
