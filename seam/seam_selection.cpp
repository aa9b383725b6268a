#include "seam/seam_selection.h"

#include <cwchar>

namespace {

// Columns and rows of a grid that matches the sizes it was built for; false for anything else (an
// imported grid of other sizes, sizes that do not divide).
bool Shape(const SeamGrid& grid, const ScreenParams& params, uint64_t& cols, uint64_t& rows) {
    const uint32_t w = static_cast<uint32_t>(params.screen_width);
    const uint32_t h = static_cast<uint32_t>(params.screen_height);
    const uint32_t mw = static_cast<uint32_t>(params.mod_width);
    const uint32_t mh = static_cast<uint32_t>(params.mod_height);
    if (mw == 0 || mh == 0 || w % mw != 0 || h % mh != 0) {
        return false;
    }
    cols = w / mw;
    rows = h / mh;
    return cols > 0 && rows > 0 && 4 * cols * rows == grid.Size();
}

// A seam as the line between modules: a horizontal one lies on row boundary `line` (0 the top border,
// rows the bottom) in module column `along`; a vertical one on column boundary `line` in module row
// `along`.
struct SeamPlace {
    bool horizontal;
    uint64_t line;
    uint64_t along;
};

SeamPlace PlaceOf(uint64_t index, uint64_t cols, uint64_t rows) {
    const uint64_t n = cols * rows;
    const uint64_t block = index / n;
    const uint64_t c = index % n % cols;
    const uint64_t r = index % n / cols;
    switch (block) {
    case 0:
        return SeamPlace{true, r, c};
    case 1:
        return SeamPlace{true, r + 1, c};
    case 2:
        return SeamPlace{false, c, r};
    default:
        return SeamPlace{false, c + 1, r};
    }
}

// The middle of the edge that faces the seam from the module after it (the one before it on the
// bottom or right border): a click there falls into that edge's triangle.
bool PointOf(const SeamPlace& s, uint64_t cols, uint64_t rows, const ScreenParams& p, uint16_t& x,
             uint16_t& y) {
    const uint64_t mw = static_cast<uint32_t>(p.mod_width);
    const uint64_t mh = static_cast<uint32_t>(p.mod_height);
    uint64_t px = 0;
    uint64_t py = 0;
    if (s.horizontal) {
        px = s.along * mw + mw / 2;
        py = s.line < rows ? s.line * mh : s.line * mh - 1;
    } else {
        px = s.line < cols ? s.line * mw : s.line * mw - 1;
        py = s.along * mh + mh / 2;
    }
    if (px > UINT16_MAX || py > UINT16_MAX) {
        return false;
    }
    x = static_cast<uint16_t>(px);
    y = static_cast<uint16_t>(py);
    return true;
}

const wchar_t* EdgeName(uint64_t block) {
    static const wchar_t* const kNames[4] = {L"上边", L"下边", L"左边", L"右边"};
    return kNames[block < 4 ? block : 3];
}

// One edge: "(1, 12) 下边", or by its record when the grid does not match the sizes.
std::wstring EdgeText(uint64_t index, bool shaped, uint64_t cols, uint64_t rows) {
    wchar_t text[96];
    if (shaped) {
        const uint64_t n = cols * rows;
        std::swprintf(text, 96, L"(%llu, %llu) %ls", static_cast<unsigned long long>(index % n % cols),
                      static_cast<unsigned long long>(index % n / cols), EdgeName(index / n));
    } else {
        std::swprintf(text, 96, L"模组边记录 %llu", static_cast<unsigned long long>(index));
    }
    return text;
}

// The seam the edge faces, named as the simulator and the photo correction name it: by the module above
// it or left of it ("模组 (1, 12) 下方的缝隙" is also the top edge of module (1, 13)); an edge on the
// screen's border faces no other module.
std::wstring SeamName(uint64_t index, bool shaped, uint64_t cols, uint64_t rows) {
    if (!shaped) {
        return EdgeText(index, false, cols, rows);
    }
    const SeamPlace s = PlaceOf(index, cols, rows);
    const uint64_t last = s.horizontal ? rows : cols;
    if (s.line == 0 || s.line == last) {
        return L"模组 " + EdgeText(index, true, cols, rows) + L"（屏幕边缘）";
    }
    wchar_t text[96];
    const uint64_t c = s.horizontal ? s.along : s.line - 1;
    const uint64_t r = s.horizontal ? s.line - 1 : s.along;
    std::swprintf(text, 96, L"模组 (%llu, %llu) %ls的缝隙", static_cast<unsigned long long>(c),
                  static_cast<unsigned long long>(r), s.horizontal ? L"下方" : L"右侧");
    return text;
}

std::wstring GainText(float gain) {
    wchar_t text[32];
    std::swprintf(text, 32, L"增益 %.3f", static_cast<double>(gain));
    return text;
}

} // namespace

bool NeighbourSeamPoint(const SeamGrid& grid, const ScreenParams& params, SeamMove move, uint16_t& x,
                        uint16_t& y) {
    uint64_t cols = 0;
    uint64_t rows = 0;
    const int64_t first = grid.FirstSelectedIndex();
    if (first < 0 || !Shape(grid, params, cols, rows)) {
        return false;
    }
    SeamPlace s = PlaceOf(static_cast<uint64_t>(first), cols, rows);
    // Along the seam's own direction the step is a module; across it, to the next line of modules.
    const bool along = s.horizontal == (move == SeamMove::Left || move == SeamMove::Right);
    const bool back = move == SeamMove::Left || move == SeamMove::Up;
    uint64_t& v = along ? s.along : s.line;
    const uint64_t last = along ? (s.horizontal ? cols : rows) - 1 : (s.horizontal ? rows : cols);
    if (back ? v == 0 : v == last) {
        return false;
    }
    v = back ? v - 1 : v + 1;
    return PointOf(s, cols, rows, params, x, y);
}

bool CentrePoint(const ScreenParams& params, uint16_t& x, uint16_t& y) {
    const uint32_t cx = static_cast<uint32_t>(params.screen_width) / 2;
    const uint32_t cy = static_cast<uint32_t>(params.screen_height) / 2;
    if (cx > UINT16_MAX || cy > UINT16_MAX) {
        return false;
    }
    x = static_cast<uint16_t>(cx);
    y = static_cast<uint16_t>(cy);
    return true;
}

std::wstring SelectionText(const SeamGrid& grid, const ScreenParams& params) {
    const int64_t first = grid.FirstSelectedIndex();
    if (first < 0) {
        return L"未选择";
    }
    uint64_t cols = 0;
    uint64_t rows = 0;
    const bool shaped = Shape(grid, params, cols, rows);
    const std::vector<SeamSegment>& s = grid.Segments();
    const size_t a = static_cast<size_t>(first);
    std::wstring text = SeamName(a, shaped, cols, rows);
    // Both edges across the seam, by name, only when their gains differ: that is what the operator
    // must know (the wheel moves both alike). The module above or left of the seam first, as its name
    // says: its edge lies later in the grid (bottom and right edges follow top and left ones).
    for (size_t i = a + 1; i < s.size(); ++i) {
        if (s[i].selected != 0) {
            if (s[i].gain != s[a].gain) {
                return text + L"：" + EdgeText(i, shaped, cols, rows) + L" " + GainText(s[i].gain) + L"，" +
                       EdgeText(a, shaped, cols, rows) + L" " + GainText(s[a].gain);
            }
            break;
        }
    }
    return text + (text.back() == L'）' ? L"" : L" ") + GainText(s[a].gain);
}
