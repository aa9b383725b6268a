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

std::wstring Describe(const SeamGrid& grid, uint64_t index, bool shaped, uint64_t cols, uint64_t rows) {
    wchar_t text[128];
    const double gain = grid.Segments()[static_cast<size_t>(index)].gain;
    if (shaped) {
        const uint64_t n = cols * rows;
        std::swprintf(text, 128, L"列%llu 行%llu %ls 增益 %.3f",
                      static_cast<unsigned long long>(index % n % cols),
                      static_cast<unsigned long long>(index % n / cols), EdgeName(index / n), gain);
    } else {
        std::swprintf(text, 128, L"记录%llu 增益 %.3f", static_cast<unsigned long long>(index), gain);
    }
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
    std::wstring text = L"模块 " + Describe(grid, static_cast<uint64_t>(first), shaped, cols, rows);
    // The facing edge across the seam: shown only when its gain differs, which is what the operator
    // must know (the wheel moves both alike).
    const std::vector<SeamSegment>& s = grid.Segments();
    for (size_t i = static_cast<size_t>(first) + 1; i < s.size(); ++i) {
        if (s[i].selected != 0) {
            if (s[i].gain != s[static_cast<size_t>(first)].gain) {
                text += L"，对面 " + Describe(grid, i, shaped, cols, rows);
            }
            break;
        }
    }
    return text;
}
