#include "seam/seam_drawing_win.h"

void PenCache::Use(uint8_t level) {
    if (current_ == level) {
        return;
    }
    if (pens_[level].get() == nullptr) {
        pens_[level].Reset(::CreatePen(PS_SOLID, 1, GrayColor(level)));
    }
    if (!original_) {
        original_.emplace(dc_, pens_[level].get());
    } else {
        ::SelectObject(dc_, pens_[level].get());
    }
    current_ = level;
}

void FillField(HDC dc, const RECT& rect, uint8_t level) {
    const GdiObject<HBRUSH> brush(::CreateSolidBrush(GrayColor(level)));
    ::FillRect(dc, &rect, brush.get());
}

namespace {

// `level` gives each segment's level, or -1 for a segment not to draw.
template <class Level> void DrawLines(HDC dc, const std::vector<SeamSegment>& segments, Level level) {
    PenCache pens(dc);
    for (const SeamSegment& s : segments) {
        const int v = level(s);
        if (v < 0) {
            continue;
        }
        pens.Use(static_cast<uint8_t>(v));
        ::MoveToEx(dc, s.x0, s.y0, nullptr);
        ::LineTo(dc, s.x1, s.y1);
    }
}

} // namespace

void DrawGrid(HDC dc, const std::vector<SeamSegment>& segments, int32_t gray_scale, const GammaTable& table) {
    DrawLines(dc, segments,
              [&](const SeamSegment& s) { return AllSegmentsLineLevel(table, gray_scale, s.gain); });
}

void DrawSegmentList(HDC dc, const std::vector<SeamSegment>& segments, int32_t gray_scale,
                     const GammaTable& table) {
    DrawLines(dc, segments,
              [&](const SeamSegment& s) { return SegmentListLineLevel(table, gray_scale, s.gain); });
}

void DrawPhotoRegion(HDC dc, const std::vector<SeamSegment>& segments, const std::vector<int8_t>& signs,
                     const PhotoRegion& region, int32_t gray_scale, const GammaTable& table) {
    const RECT rect{static_cast<LONG>(region.x), static_cast<LONG>(region.y),
                    static_cast<LONG>(region.x + region.width), static_cast<LONG>(region.y + region.height)};
    FillField(dc, rect, BackgroundLevel(table, gray_scale));
    const auto inside = [&](int32_t x, int32_t y) {
        return x >= rect.left && y >= rect.top && x < rect.right && y < rect.bottom;
    };
    size_t i = 0;
    DrawLines(dc, segments, [&](const SeamSegment& s) {
        const int sign = i < signs.size() ? signs[i] : 0;
        ++i;
        return inside(s.x0, s.y0) && inside(s.x1, s.y1)
                   ? AllSegmentsLineLevel(table, gray_scale, CalibratedGain(s.gain, sign))
                   : -1;
    });
}

void InvertSegment(HDC dc, const SeamSegment& segment) {
    const int previous = ::SetROP2(dc, R2_NOT);
    ::MoveToEx(dc, segment.x0, segment.y0, nullptr);
    ::LineTo(dc, segment.x1, segment.y1);
    ::SetROP2(dc, previous);
}
