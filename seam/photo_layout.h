#pragma once

// What the pattern window shows for a photo, and what a photo of it can know from that. In the photo
// mode every join's two edge lines are drawn a known step brighter or darker than their gains ask, in
// a checkerboard over the joins: the photo then carries contrasts the tool knows, which tell how the
// camera turns light into its values.

#include "seam/screen_params.h"
#include "seam/seam_grid.h"

#include <cstdint>
#include <vector>

// One region of the wall photographed alone, in wall pixels: whole modules.
struct PhotoRegion {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// How many photo pixels a wall pixel wants, and how much of a photo's frame the region may fill: a
// technician frames the lit part with some dark around it.
constexpr double kPhotoPixelsPerWallPixel = 2.5;
constexpr double kFramedShare = 0.85;

// The regions a wall is photographed in with a camera whose photos are `camera_width` pixels wide (and
// three quarters as high): as few as fit one photo each at kPhotoPixelsPerWallPixel, each a whole
// number of modules overlapping its neighbours by at least one module, row by row from the top left.
// One region, the whole wall, when it fits; none when the sizes describe no grid or one module alone
// does not fit.
std::vector<PhotoRegion> PhotoRegions(const ScreenParams& params, uint32_t camera_width);

// The calibration lines' step: large enough to stand out of a photo's noise on every join, small
// enough to stay within the gains' range.
constexpr float kCalibrationStep = 0.04f;

// +1 or -1: the photo mode draws the join right of (or below) module (column, row) brighter or darker.
int CalibrationSign(uint64_t column, uint64_t row, bool below);

// For each record of a grid: the sign of the join its edge faces, 0 for the grid's outer edges. A grid
// that is a region of the wall from module (first_column, first_row) on has the wall's signs.
std::vector<int8_t> CalibrationSigns(const GridIndex& index, uint64_t first_column = 0,
                                     uint64_t first_row = 0);

// The gain at which the photo mode draws an edge of this gain and sign.
float CalibratedGain(float gain, int sign);

// The light the pattern window gives an edge line of some gain, relative to the field around it: the
// drawn level (the gray level times the gain, truncated, through the gamma table) as the wall shows it
// when its gamma is the one the fields give. 1 for every gain when the fields give no usable gamma.
class PatternLight {
public:
    explicit PatternLight(const ScreenParams& params);
    double Factor(float gain) const;

private:
    int32_t gray_ = 0;
    double field_ = 0;
    double light_[256] = {};
};
