#pragma once

// The wall as the photo shows it: one value of linear light per wall pixel, from the photo around that
// pixel. A pixel of an LED wall is a small emitter with black around it; at two or three photo pixels
// per wall pixel the emitters' grid beats against the sensor's (moire), so a few samples per pixel read
// more or less of the dot depending on where they fall. A weight that spreads every emitter's light
// over the wall pixels near it, adding up to one for each emitter, reads them all alike.

#include "photo/homography.h"
#include "photo/lens.h"
#include "photo/photo_picture.h"

#include <cstdint>
#include <vector>

// Where a point of the wall (pixel coordinates, pixel (x, y) covering x..x+1 and y..y+1) lies in the
// photo: the plane's projection, then the lens.
struct WallMapping {
    Homography plane;
    Lens lens;
    PointF Map(double x, double y) const { return lens.Distort(plane.Map(x, y)); }
};

struct WallImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<float> light; // row-major
    float At(uint32_t x, uint32_t y) const { return light[static_cast<size_t>(y) * width + x]; }
};

// The bytes RectifyWall holds for a wall of width x height pixels.
uint64_t RectifyBytes(uint32_t width, uint32_t height);

// Every wall pixel's light: the photo's values taken through `linear` (256 entries), weighted by a tent
// one wall pixel wide either side of the pixel's centre.
void RectifyWall(const GrayPhoto& photo, const WallMapping& mapping, const float* linear, uint32_t width,
                 uint32_t height, WallImage& out);
