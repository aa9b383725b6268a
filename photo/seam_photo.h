#pragma once

// Seam correction from a photo of the wall showing a uniform gray: every join of two modules is
// measured against the field beside it, and the gains of its two edges become what cancels it, in the
// wheel's terms (steps of 0.005 within 0.7 .. 1.4). The photo is read as a real camera records it:
// emitters as dots, a lens that bends and blurs, a tone curve other than sRGB.

#include "photo/photo_picture.h"
#include "seam/photo_layout.h"
#include "seam/screen_params.h"
#include "seam/seam_grid.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class PhotoOutcome {
    Corrected,
    NoImprovement, // measured, but the gains found would not make the wall look better: nothing changes
    NotAPicture,
    TooLarge,
    NoWall,
    GridMismatch,
    TooCoarse,
    UnusableGrid,
    Moire,
    Distortion,
};

// What set the wall's edge lines apart from the field when the photo was taken.
enum class ShownBy {
    Pattern,   // the pattern window, drawing each edge at its gain (the cards' correction off)
    PhotoMode, // the pattern window's photo mode: the same with its calibration lines
    Cards,     // the cards' coefficients (their correction on) on a uniform gray
};

// Where the camera's response came from.
enum class ResponseSource {
    Assumed,    // none known: the photo read as exact sRGB
    Calibrated, // the photo mode's calibration lines
    FromChange, // the coefficients changed since the last photo, and the light that changed with them
    Remembered, // an earlier photo's calibration
};

// What one photo read of every join: the next photo of the same wall learns the camera's response from
// how the readings changed with what the wall was given. Per join, right joins and then below joins,
// each in row-major module order; NaN where a join was not measured.
struct PhotoReadings {
    int32_t screen_width = 0;
    int32_t screen_height = 0;
    int32_t mod_width = 0;
    int32_t mod_height = 0;
    std::vector<float> measured;    // the deviation as read through sRGB
    std::vector<float> shown;       // the factor the wall gave the join's lines
    std::vector<float> factor;      // the join's own factor, as far as this and the earlier photos tell
    std::vector<float> uncertainty; // how far the photos' noise may have moved it
};

struct PhotoInput {
    ScreenParams params;
    std::vector<SeamSegment> grid; // the grid of the fields' sizes, with the operator's gains
    // Per record: the gain the wall applied when the photo was taken (the pattern window's gains, or the
    // cards' coefficients as gains). Empty: the grid's gains.
    std::vector<float> applied;
    ShownBy shown = ShownBy::Pattern;
    double remembered_slope = 0;             // an earlier photo's calibration of this camera; 0: none
    const PhotoReadings* previous = nullptr; // the last photo's readings of this wall, if any
    uint64_t budget = 0;
    // A region photo: the fields' sizes are the region's, which begins at this module of the wall (the
    // photo mode's calibration lines follow the wall's modules, not the region's).
    bool region = false;
    uint32_t first_column = 0;
    uint32_t first_row = 0;
};

struct PhotoCorrection {
    PhotoOutcome outcome = PhotoOutcome::UnusableGrid;
    std::string why;          // the operator's message when refused (UTF-8)
    std::vector<float> gains; // one per record of the grid, in grid order, when corrected
    uint32_t changed_seams = 0;
    double largest_percent = 0; // the largest deviation of a join from its field, as the wall showed it
    bool largest_brighter = false;
    std::string largest_where;  // "the join below module (1, 12)"; empty when no join deviates
    bool largest_below = false; // that join: below module (column, row), or right of it
    uint32_t largest_column = 0;
    uint32_t largest_row = 0;
    double predicted_percent = 0; // the largest deviation the new gains leave, as far as the photo tells
    double photo_pixels_per_wall_pixel = 0;
    ResponseSource response = ResponseSource::Assumed;
    double slope = 1;
    PhotoReadings readings;
    // Region photos that could not be used, each with why: "第 2 张照片（区域 2）不能用：…".
    std::vector<std::string> unusable;
};

// The gains of `input.grid` from the photo.
PhotoCorrection CorrectFromPhoto(const GrayPhoto& photo, const PhotoInput& input);

// The same from a picture file's bytes, decoded within `input.budget`.
PhotoCorrection CorrectFromPhotoFile(const uint8_t* bytes, size_t size, const PhotoInput& input);

// Gives photo `k` (from 0) of a region layout as its file's bytes, or false and why not. Photos are
// asked for one at a time, each after the last was measured and let go.
using RegionPhotoSource = std::function<bool(size_t k, std::vector<uint8_t>& bytes, std::string& why)>;

// The gains of `input.grid` (the whole wall) from photos of its regions, photo k showing `regions[k]`
// alone: each measured as a photo of the whole wall would be, within its region, with the camera's
// response of its own; a join seen in two photos takes both readings by their certainty. Photos that
// cannot be used are named in `unusable`; refused only when none can.
PhotoCorrection CorrectFromRegionPhotos(const PhotoInput& input, const std::vector<PhotoRegion>& regions,
                                        const RegionPhotoSource& photos);

// Adds what a photo of `region` read (`part`, in the region's own join order) to the whole wall's
// readings `into`: a join read before takes the two readings' mean weighted by their certainty. False,
// and nothing added, when the region is not whole modules of that wall.
bool MergeRegionReadings(const PhotoReadings& part, const PhotoRegion& region, PhotoReadings& into);

// The wheel's gain (a step of 0.005 within 0.7 .. 1.4) whose card coefficient best cancels a join that
// shows `factor` times the field's light.
float GainCancelling(double factor);
