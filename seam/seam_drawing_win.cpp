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

template <class Level> void DrawLines(HDC dc, const std::vector<SeamSegment>& segments, Level level) {
    PenCache pens(dc);
    for (const SeamSegment& s : segments) {
        pens.Use(level(s));
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

void InvertSegment(HDC dc, const SeamSegment& segment) {
    const int previous = ::SetROP2(dc, R2_NOT);
    ::MoveToEx(dc, segment.x0, segment.y0, nullptr);
    ::LineTo(dc, segment.x1, segment.y1);
    ::SetROP2(dc, previous);
}
