#pragma once

// Photos are sRGB-encoded; every comparison of brightness is made in linear light, where a seam's
// factor multiplies what the camera received.

#include "photo/photo_picture.h"

#include <cmath>

// The linear light of each 8-bit sRGB value, 0..1.
const float* SrgbToLinearTable();
// The sRGB value (0..255, unrounded) of linear light 0..1.
double LinearToSrgb(double linear);

// Bilinear interpolation of linear light at photo point (x, y), pixel (i, j) covering i..i+1 and
// j..j+1; points outside take the nearest pixel.
inline float SampleLinear(const GrayPhoto& photo, const float* table, double x, double y) {
    double fx = x - 0.5, fy = y - 0.5;
    const double maxx = photo.Width() - 1.0, maxy = photo.Height() - 1.0;
    fx = fx < 0 ? 0 : (fx > maxx ? maxx : fx);
    fy = fy < 0 ? 0 : (fy > maxy ? maxy : fy);
    const uint32_t x0 = static_cast<uint32_t>(fx), y0 = static_cast<uint32_t>(fy);
    const uint32_t x1 = x0 + 1 < photo.Width() ? x0 + 1 : x0, y1 = y0 + 1 < photo.Height() ? y0 + 1 : y0;
    const float ax = static_cast<float>(fx - x0), ay = static_cast<float>(fy - y0);
    const uint8_t* row0 = photo.Pixels() + static_cast<size_t>(y0) * photo.Width();
    const uint8_t* row1 = photo.Pixels() + static_cast<size_t>(y1) * photo.Width();
    const float top = table[row0[x0]] + (table[row0[x1]] - table[row0[x0]]) * ax;
    const float bottom = table[row1[x0]] + (table[row1[x1]] - table[row1[x0]]) * ax;
    return top + (bottom - top) * ay;
}
