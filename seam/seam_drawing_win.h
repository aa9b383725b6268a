#pragma once

// GDI drawing of the seam pattern on any device context: the pattern window paints through these, and
// so does the benchmark.

#include "lib/baselib/raii_win.h"
#include "seam/gamma_table.h"
#include "seam/photo_layout.h"
#include "seam/seam_grid.h"

#include <windows.h>

#include <optional>
#include <vector>

// Solid one-pixel pens of the gray levels, created on first use and selected only when the level
// changes: a grid of 130,000 edges needs a handful of pens, not one per edge.
class PenCache {
public:
    explicit PenCache(HDC dc) : dc_(dc) {}
    PenCache(const PenCache&) = delete;
    PenCache& operator=(const PenCache&) = delete;
    void Use(uint8_t level);

private:
    HDC dc_;
    GdiObject<HPEN> pens_[256];
    std::optional<SelectedObject> original_; // gives the context its pen back before the pens go
    int current_ = -1;
};

inline COLORREF GrayColor(uint8_t v) {
    return RGB(v, v, v);
}

void FillField(HDC dc, const RECT& rect, uint8_t level);

// Every segment as a line from its first end point up to, not including, its second: the level of
// the whole-grid drawing (the product of gray level and gain is limited to 255).
void DrawGrid(HDC dc, const std::vector<SeamSegment>& segments, int32_t gray_scale, const GammaTable& table);

// The same for a list of selected segments, at the level of the redrawing after a wheel step (the gray
// level is limited to 255 first).
void DrawSegmentList(HDC dc, const std::vector<SeamSegment>& segments, int32_t gray_scale,
                     const GammaTable& table);

// The photo mode's picture of one region: its field, and the segments inside it each drawn at its gain
// stepped by its calibration sign (`signs`, per record). What lies outside the region is not touched.
void DrawPhotoRegion(HDC dc, const std::vector<SeamSegment>& segments, const std::vector<int8_t>& signs,
                     const PhotoRegion& region, int32_t gray_scale, const GammaTable& table);

// Inverts the pixels of one segment's line (R2_NOT, the context's default pen).
void InvertSegment(HDC dc, const SeamSegment& segment);
