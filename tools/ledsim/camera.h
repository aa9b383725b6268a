#pragma once

// What a camera records of the wall. By default a phone or a small camera as a technician holds it: each
// wall pixel is a small emitter with black around it, seen a little off axis through a lens that bends
// straight lines, blurs more towards the frame's corners and darkens them; a Bayer sensor with shot and
// read noise; automatic exposure; white balance, demosaicing, an S-shaped tone curve, sharpening and an
// RGB JPEG with 4:2:0 chroma. Nothing is painted on: moire appears where the emitters' grid beats against
// the sensor's. The seam correction from a photo is tried on these pictures. The old ideal camera
// (uniformly lit squares, a pinhole, exact sRGB, gray) stays available.

#include <cstdint>
#include <string>
#include <vector>

namespace ledsim {

struct CameraOptions {
    uint32_t width = 0; // 0: a frame that holds the lit part with a margin at `pixels_per_wall_pixel`
    uint32_t height = 0;
    double pixels_per_wall_pixel = 2.5; // used when no frame size is given
    double tilt = 3.0;                  // degrees about the wall's horizontal axis
    double turn = -4.0;                 // degrees about its vertical axis
    double roll = 1.0;                  // degrees about the line of sight
    double emitter = 0.3;               // an emitter's side as a share of the pixel pitch
    double k1 = -0.03;                  // radial distortion, r in half-diagonals of the frame (barrel < 0)
    double k2 = 0.0;
    double blur = 0.6;           // lens blur in the frame's centre, standard deviation in camera pixels
    double defocus = 1.0;        // blur added in the frame's corners (growing with r squared)
    double vignetting = 0.2;     // light lost in the frame's corners
    double room = 0.04;          // the lit room around the wall, relative to the wall's white
    double glare = 0.015;        // veiling glare: this share of the frame's mean light over every pixel
    double noise = 1.0;          // sensor noise, 1 a phone's small pixels (shot and read noise)
    double white_balance = 0.04; // how far the white balance is off (red up, blue down)
    double tone = 1.0;           // strength of the S-shaped tone curve over sRGB; 0 exact sRGB
    double exposure = 0.0;       // stops added to the automatic exposure
    double sharpen = 0.6;        // unsharp-mask amount
    int quality = 90;            // JPEG quality; up to 90 the chroma is stored at half resolution
    bool colour = true;          // Bayer sensor and RGB picture; false: a gray sensor
    bool ideal = false;          // the ideal camera: lit squares, pinhole, sRGB, gray, no room, no glare
    uint64_t seed = 1;
    // The lit rectangle of the wall (x, y, width, height) that the camera frames; empty: the whole wall.
    uint32_t lit[4] = {0, 0, 0, 0};
};

struct CameraPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 1;       // 1 gray, 3 RGB
    std::vector<uint8_t> pixels; // row-major, `channels` bytes a pixel
    double pixels_per_wall_pixel = 0;
};

// The frame size the options give for a wall of width x height pixels (what TakePhoto will make).
void CameraFrame(const CameraOptions& options, uint32_t width, uint32_t height, uint32_t& frame_width,
                 uint32_t& frame_height);

// The bytes TakePhoto holds at once for a frame of this size.
uint64_t CameraBytes(uint32_t frame_width, uint32_t frame_height);

// `levels`: the wall's output levels 0..255 (row-major, width x height), as the render computes them.
// Pixels outside `options.lit` are dark (level 0) whatever `levels` holds there.
CameraPicture TakePhoto(const std::vector<float>& levels, uint32_t width, uint32_t height,
                        const CameraOptions& options);

// The antiderivative of the standard normal distribution function: x Phi(x) + phi(x). Exposed for the
// tests of the emitters' footprint.
double IntegratedNormal(double x);

} // namespace ledsim
