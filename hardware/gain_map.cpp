#include "hardware/gain_map.h"

#include "lib/baselib/memory_budget.h"

#include <algorithm>
#include <new>

bool GainMapBytes(int64_t width, int64_t height, uint64_t& bytes) {
    if (width < 0 || height < 0) {
        return false;
    }
    uint64_t cells = 0;
    return MultiplyBytes(static_cast<uint64_t>(width), static_cast<uint64_t>(height), cells) &&
           MultiplyBytes(cells, sizeof(float), bytes);
}

bool MakeGainMap(int64_t width, int64_t height, uint64_t memory_budget, GainMap& map) {
    map = GainMap{};
    uint64_t bytes = 0;
    if (!GainMapBytes(width, height, bytes) || bytes > memory_budget) {
        return false;
    }
    try {
        map.cells.assign(static_cast<size_t>(width * height), 1.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    map.width = width;
    map.height = height;
    return true;
}

void RasteriseSegments(GainMap& map, const std::vector<SeamSegment>& segments) {
    const int64_t w = map.width;
    const int64_t h = map.height;
    float* cells = map.cells.data();
    // Each segment is one span of cells: from its first end point, which must lie inside the map or
    // nothing is covered, up to its second end point or the map's edge, whichever comes first.
    for (const SeamSegment& s : segments) {
        if (s.horizontal == 1) {
            if (s.y0 < 0 || s.y0 >= h || s.x0 < 0) {
                continue;
            }
            const int64_t end = std::min<int64_t>(s.x1, w);
            float* row = cells + s.y0 * w;
            for (int64_t x = s.x0; x < end; ++x) {
                row[x] = s.gain;
            }
        } else {
            if (s.x0 < 0 || s.x0 >= w || s.y0 < 0) {
                continue;
            }
            const int64_t end = std::min<int64_t>(s.y1, h);
            float* cell = cells + s.y0 * w + s.x0;
            for (int64_t y = s.y0; y < end; ++y, cell += w) {
                *cell = s.gain;
            }
        }
    }
}
