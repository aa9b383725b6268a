// Attribute values of a layout file, as the layout builder reads them and places the controls: any text
// is refused or read, and any values read place items without overflow.
#include "lib/uilib/layout.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Fields separated by '|': area, inset, gap, then per item its size and padding.
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '|') {
            fields.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    ParseColorValue(text);
    const UiRect area =
        fields.size() > 0 ? ParseRectValue(fields[0]).value_or(UiRect{0, 0, 800, 600}) : UiRect{};
    const UiRect inset = fields.size() > 1 ? ParseRectValue(fields[1]).value_or(UiRect{}) : UiRect{};
    const int gap = fields.size() > 2 ? ParseIntValue(fields[2]).value_or(0) : 0;
    std::vector<LayoutItem> items;
    for (size_t i = 3; i + 1 < fields.size() && items.size() < 64; i += 2) {
        LayoutItem item;
        if (const auto s = ParseSizeValue(fields[i])) {
            item.fixed_width = s->first;
            item.fixed_height = s->second;
        }
        item.padding = ParseRectValue(fields[i + 1]).value_or(UiRect{});
        item.visible = (i / 2) % 3 != 2;
        items.push_back(item);
    }
    for (const bool horizontal : {false, true}) {
        const std::vector<UiRect> placed = ArrangeLinear(area, inset, gap, horizontal, items);
        if (placed.size() != items.size()) {
            __builtin_trap();
        }
    }
    return 0;
}
