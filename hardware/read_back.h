#pragma once

// The read-back: one gain per segment again, the mean of the gain map's cells the segment covers.

#include "hardware/gain_map.h"
#include "seam/seam_grid.h"

#include <vector>

// Sets each segment's gain to the mean of the map cells from its first end point up to, not including,
// its second, summed in single precision in ascending order. Cells outside the map are left out; a
// segment that covers no cell of the map gets 1.0. Every other field is kept.
void AverageSegmentGains(const GainMap& map, std::vector<SeamSegment>& segments);
