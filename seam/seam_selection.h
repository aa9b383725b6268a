#pragma once

#include "seam/screen_params.h"
#include "seam/seam_grid.h"

#include <cstdint>
#include <string>

// The selected seam for the operator: where it is and what its gains are, and the seams around it for
// the arrow keys.

enum class SeamMove { Left, Right, Up, Down };

// A client point of the pattern window whose click selects the seam next to the selected one in that
// direction; false when nothing is selected, the grid does not match the sizes, or there is no seam
// there. From a horizontal seam Left and Right go along its row and Up and Down to the seams above and
// below; from a vertical seam Up and Down go along its column and Left and Right to its neighbours.
bool NeighbourSeamPoint(const SeamGrid& grid, const ScreenParams& params, SeamMove move, uint16_t& x,
                        uint16_t& y);

// The centre of the screen, where a click selects the seam nearest to it; false when it lies beyond
// the 16 bits of a click.
bool CentrePoint(const ScreenParams& params, uint16_t& x, uint16_t& y);

// "模块 列1 行0 左边 增益 1.010", with the facing edge's gain too when it differs; "未选择" when
// nothing is selected.
std::wstring SelectionText(const SeamGrid& grid, const ScreenParams& params);
