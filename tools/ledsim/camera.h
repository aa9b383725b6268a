#pragma once

// What a camera sees of the wall: the wall's light on a dark surround, seen from a pose a little off
// its axis, through a lens that blurs and darkens towards the corners, by a sensor that adds noise and
// stores sRGB. The seam correction from a photo is tried on these pictures.

#include <cstdint>
#include <string>
#include <vector>

namespace ledsim {

struct CameraOptions {
    uint32_t width = 0; // 0: a frame that holds the wall with a margin at `pixels_per_wall_pixel`
    uint32_t height = 0;
    double pixels_per_wall_pixel = 2.5; // used when no frame size is given
    double tilt = 3.0;                  // degrees about the wall's horizontal axis
    double turn = -4.0;                 // degrees about its vertical axis
    double roll = 1.0;                  // degrees about the line of sight
    double blur = 0.8;                  // lens blur, standard deviation in camera pixels
    double noise = 1.0;                 // sensor noise, standard deviation in 8-bit sRGB levels
    double vignetting = 0.2;            // light lost in the frame's corners
    uint64_t seed = 1;
};

struct CameraPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels; // sRGB gray levels, row-major
    double pixels_per_wall_pixel = 0;
};

// The frame size the options give for a wall of width x height pixels (what TakePhoto will make).
void CameraFrame(const CameraOptions& options, uint32_t width, uint32_t height, uint32_t& frame_width,
                 uint32_t& frame_height);

// `levels`: the wall's output levels 0..255 (row-major, width x height), as the render computes them.
CameraPicture TakePhoto(const std::vector<float>& levels, uint32_t width, uint32_t height,
                        const CameraOptions& options);

} // namespace ledsim
