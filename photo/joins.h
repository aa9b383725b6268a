#pragma once

// Each join of two modules, measured on the wall's image: the light its two facing edge lines show
// beyond the field beside them. The lens spreads a one-pixel line over its neighbours, more towards
// the photo's corners; the light it moves stays near the line, so a join is read as the light of a
// band of four lines (its two edges and one on either side) against the field two lines further out,
// whatever the blur. A band and its field hold as many even as odd lines, so that a moire alternating
// from line to line cancels in both.

#include "photo/rectify.h"

#include <cstdint>
#include <vector>

struct WallGrid {
    uint32_t width = 0; // wall pixels
    uint32_t height = 0;
    uint32_t mod_width = 0;
    uint32_t mod_height = 0;
    uint32_t columns = 0; // modules
    uint32_t rows = 0;
};

struct JoinReading {
    float deviation = 0;   // of each of the join's two lines from the field (0.05: 5 % brighter)
    float uncertainty = 0; // how far the photo's noise may have moved it
    bool measured = false;
};

// Per module (row-major), the join right of it and the join below it; the wall's outer edges are no
// joins and stay unmeasured.
struct JoinReadings {
    std::vector<JoinReading> right;
    std::vector<JoinReading> below;
};

// The bands' readings; `margin` pixels at either end of each join (where the crossing joins' light
// spreads) are left out.
JoinReadings MeasureJoins(const WallImage& image, const WallGrid& grid, uint32_t margin);

// Lines inside the modules that show like a join. A wall whose modules are not the sizes the grid says
// shows its real joins inside the modules, at the same place in each module where a join shows; moire
// and noise show everywhere a little. A line counts when it stands out of its own noise, and at its
// place inside the modules either two modules show it beyond twice `threshold` and three times what
// is usual at any place, or one shows it beyond three times the threshold and five times that.
struct StrayLines {
    bool vertical = false;
    uint32_t worst_offset = 0; // the line inside the modules (from a module's first) that counts most
    uint32_t worst_count = 0;  // modules where it shows beyond the threshold; 0 when no line counts
    uint32_t joins_count = 0;  // modules whose real join counts by the same rule
    double worst_percent = 0;  // the largest deviation there
    double spread_percent = 0; // the median size of every inside line's deviation: the moire's level
    double tail_percent = 0;   // the size that one inside line in a hundred exceeds
    // How much larger the inside lines' deviations are than their own noise estimates say (at least 1):
    // neighbouring samples along a line are not independent, so the estimates come out small.
    double noise_scale = 1;
};
StrayLines FindStrayLines(const WallImage& image, const WallGrid& grid, bool vertical, uint32_t margin,
                          double threshold);
