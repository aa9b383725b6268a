#pragma once

// One gain per screen pixel, row-major (column x, row y at y x width + x), 1.0 neutral: the module edges'
// gains spread over the pixels they cover, as the cards apply them.

#include "seam/seam_grid.h"

#include <cstdint>
#include <vector>

struct GainMap {
    int64_t width = 0;
    int64_t height = 0;
    std::vector<float> cells;

    float At(int64_t x, int64_t y) const { return cells[static_cast<size_t>(y * width + x)]; }
};

// Bytes a map of width x height takes; false for negative sizes or a count that overflows.
bool GainMapBytes(int64_t width, int64_t height, uint64_t& bytes);

// A map of width x height cells, all 1.0; false (and the map empty) when negative sizes were given or
// the map would exceed the memory budget.
bool MakeGainMap(int64_t width, int64_t height, uint64_t memory_budget, GainMap& map);

// Sets the cells each segment covers to its gain, in grid order, so a later segment wins a shared cell.
// A segment runs from its first end point up to, not including, its second, and stops at the first
// cell outside the map; one whose row (or column) lies outside the map changes nothing.
void RasteriseSegments(GainMap& map, const std::vector<SeamSegment>& segments);
