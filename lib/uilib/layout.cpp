#include "lib/uilib/layout.h"

#include <algorithm>

std::vector<UiRect> ArrangeLinear(const UiRect& area, const UiRect& inset, int child_gap, bool horizontal,
                                  const std::vector<LayoutItem>& items) {
    const UiRect inner{area.left + inset.left, area.top + inset.top, area.right - inset.right,
                       area.bottom - inset.bottom};
    const int length = horizontal ? inner.Width() : inner.Height();

    int used = 0;
    int stretchy = 0;
    int shown = 0;
    for (const LayoutItem& item : items) {
        if (!item.visible) {
            continue;
        }
        ++shown;
        const int fixed = horizontal ? item.fixed_width : item.fixed_height;
        used += horizontal ? item.padding.left + item.padding.right : item.padding.top + item.padding.bottom;
        if (fixed > 0) {
            used += fixed;
        } else {
            ++stretchy;
        }
    }
    used += std::max(0, shown - 1) * child_gap;
    const int rest = std::max(0, length - used);

    std::vector<UiRect> out(items.size());
    int cursor = horizontal ? inner.left : inner.top;
    int stretched = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const LayoutItem& item = items[i];
        if (!item.visible) {
            out[i] = UiRect{cursor, cursor, cursor, cursor};
            continue;
        }
        int along = horizontal ? item.fixed_width : item.fixed_height;
        if (along <= 0) {
            ++stretched;
            along = stretched == stretchy ? rest - (rest / stretchy) * (stretchy - 1) : rest / stretchy;
        }
        UiRect r;
        if (horizontal) {
            r.left = cursor + item.padding.left;
            r.right = r.left + along;
            r.top = inner.top + item.padding.top;
            r.bottom = item.fixed_height > 0 ? r.top + item.fixed_height : inner.bottom - item.padding.bottom;
            cursor = r.right + item.padding.right + child_gap;
        } else {
            r.top = cursor + item.padding.top;
            r.bottom = r.top + along;
            r.left = inner.left + item.padding.left;
            r.right = item.fixed_width > 0 ? r.left + item.fixed_width : inner.right - item.padding.right;
            cursor = r.bottom + item.padding.bottom + child_gap;
        }
        r.right = std::max(r.left, r.right);
        r.bottom = std::max(r.top, r.bottom);
        out[i] = r;
    }
    return out;
}

namespace {

std::optional<std::vector<int>> ParseInts(std::string_view text, size_t count) {
    std::vector<int> values;
    size_t pos = 0;
    while (values.size() < count) {
        while (pos < text.size() && text[pos] == ' ') {
            ++pos;
        }
        bool negative = false;
        if (pos < text.size() && text[pos] == '-') {
            negative = true;
            ++pos;
        }
        const size_t start = pos;
        long long v = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            v = v * 10 + (text[pos] - '0');
            if (v > 1000000) {
                return std::nullopt; // no layout needs more; keeps the arithmetic far from overflow
            }
            ++pos;
        }
        if (pos == start) {
            return std::nullopt;
        }
        values.push_back(static_cast<int>(negative ? -v : v));
        while (pos < text.size() && text[pos] == ' ') {
            ++pos;
        }
        if (values.size() < count) {
            if (pos >= text.size() || text[pos] != ',') {
                return std::nullopt;
            }
            ++pos;
        }
    }
    if (pos != text.size()) {
        return std::nullopt;
    }
    return values;
}

} // namespace

std::optional<UiRect> ParseRectValue(std::string_view text) {
    const auto v = ParseInts(text, 4);
    if (!v) {
        return std::nullopt;
    }
    return UiRect{(*v)[0], (*v)[1], (*v)[2], (*v)[3]};
}

std::optional<std::pair<int, int>> ParseSizeValue(std::string_view text) {
    const auto v = ParseInts(text, 2);
    if (!v) {
        return std::nullopt;
    }
    return std::make_pair((*v)[0], (*v)[1]);
}

std::optional<int> ParseIntValue(std::string_view text) {
    const auto v = ParseInts(text, 1);
    if (!v) {
        return std::nullopt;
    }
    return (*v)[0];
}

std::optional<uint32_t> ParseColorValue(std::string_view text) {
    if (text.empty() || text[0] != '#' || (text.size() != 7 && text.size() != 9)) {
        return std::nullopt;
    }
    uint32_t v = 0;
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        uint32_t d;
        if (c >= '0' && c <= '9') {
            d = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            d = static_cast<uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            d = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        v = (v << 4) | d;
    }
    return v & 0xFFFFFFu; // the alpha byte of "#AARRGGBB" is not drawn
}
