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

// The selected seam named by the module above it or left of it, as the simulator names a join:
// "模组 (1, 12) 下方的缝隙 增益 1.010"; with both edges' gains when they differ ("模组 (0, 0) 右侧的缝隙：
// (0, 0) 右边 增益 0.995，(1, 0) 左边 增益 1.005"); "未选择" when nothing is selected.
std::wstring SelectionText(const SeamGrid& grid, const ScreenParams& params);
