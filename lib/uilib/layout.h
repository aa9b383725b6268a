#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

struct UiRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const UiRect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

struct LayoutItem {
    int fixed_width = 0; // 0: fill the container across, or share the rest along the axis
    int fixed_height = 0;
    UiRect padding; // margins around the item
    bool visible = true;
};

// Places the items of a vertical or horizontal container: along the axis, fixed sizes first and the
// rest shared equally by the items without one (the last takes the odd pixels); across, a fixed size
// or the full width. Invisible items get an empty rectangle and take no space.
std::vector<UiRect> ArrangeLinear(const UiRect& area, const UiRect& inset, int child_gap, bool horizontal,
                                  const std::vector<LayoutItem>& items);

// Attribute values of the layout files. Each returns nothing for malformed text.
std::optional<UiRect> ParseRectValue(std::string_view text);              // "l,t,r,b"
std::optional<std::pair<int, int>> ParseSizeValue(std::string_view text); // "w,h"
std::optional<int> ParseIntValue(std::string_view text);
std::optional<uint32_t> ParseColorValue(std::string_view text); // "#RRGGBB" or "#AARRGGBB" -> 0xRRGGBB
