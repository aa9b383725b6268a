#pragma once

// What the wall shows now: whether the cards' seam correction is on, and, when it is, the gain every
// module edge has in their coefficient memory. A photo correction refines from what the photo showed,
// not from what the main window's check box happens to say.

#include "lib/devicecomm/devicecomm.h"
#include "seam/seam_grid.h"

#include <cstdint>
#include <vector>

enum class CardsCorrection { Off, On, Unreadable };

struct CardEdgeGains {
    CardsCorrection correction = CardsCorrection::Unreadable;
    // Per record of the grid: the coefficient at the middle of its line over 128 (a gain that
    // quantises to that coefficient); 1.0 where no card covers that pixel. Empty unless On.
    std::vector<float> gains;
};

// Reads the switch of the first card that answers (as the store copies it) and, when it is on, the
// rows of every card's coefficient memory that hold the middle of an edge line, nearby rows in one
// read, the device library's deadline on each. Unreadable when the device cannot be opened, no card answers,
// a read fails, or a read would need more than `budget`.
CardEdgeGains ReadCardEdgeGains(ICommInterfaceMan& manager, const std::vector<SeamSegment>& grid,
                                uint64_t budget);
