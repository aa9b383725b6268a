#pragma once

// Seam correction from a photo of the whole wall showing a uniform gray: every module edge of the grid
// is measured against the field beside it, and its gain becomes what cancels its deviation, in the
// wheel's terms (steps of 0.005 within 0.7 .. 1.4).

#include "photo/photo_picture.h"
#include "seam/screen_params.h"
#include "seam/seam_grid.h"

#include <cstdint>
#include <string>
#include <vector>

enum class PhotoOutcome { Corrected, NotAPicture, TooLarge, NoWall, GridMismatch, TooCoarse, UnusableGrid };

struct PhotoCorrection {
    PhotoOutcome outcome = PhotoOutcome::UnusableGrid;
    std::string why;          // the operator's message when refused (UTF-8)
    std::vector<float> gains; // one per record of the grid, in grid order, when corrected
    uint32_t changed_seams = 0;
    double largest_percent = 0; // the largest deviation of an edge line from its field
    bool largest_brighter = false;
    std::string largest_where;  // "the join below module (1, 12)"; empty when no edge deviates
    bool largest_below = false; // that join: below module (column, row), or right of it
    uint32_t largest_column = 0;
    uint32_t largest_row = 0;
    double photo_pixels_per_wall_pixel = 0;
};

// The gains of `grid` (built for `params`) from the photo. With `refine` the photo shows the wall with
// the cards holding the grid's gains, which are refined; otherwise it shows the bare wall and the gains
// start from 1.0. `budget` bounds the working memory.
PhotoCorrection CorrectFromPhoto(const GrayPhoto& photo, const ScreenParams& params,
                                 const std::vector<SeamSegment>& grid, bool refine, uint64_t budget);

// The same from a picture file's bytes, decoded within `budget`.
PhotoCorrection CorrectFromPhotoFile(const uint8_t* bytes, size_t size, const ScreenParams& params,
                                     const std::vector<SeamSegment>& grid, bool refine, uint64_t budget);

// The wheel's gain (a step of 0.005 within 0.7 .. 1.4) whose card coefficient best cancels a join that
// shows `factor` times the field's light.
float GainCancelling(double factor);
