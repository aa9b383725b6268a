#pragma once

// How the camera turns the wall's light into the photo's values near the field's level. A camera does
// not store exact sRGB: its tone curve, its sharpening and its lens make a join's deviation read
// larger or smaller than the light's. Read through sRGB, a deviation is `slope` times the light's; the
// slope is measured where the photo shows a contrast the tool knows (the photo mode's calibration
// lines, or the coefficients it changed since the last photo), and assumed 1 where it shows none.

#include <cstddef>
#include <vector>

struct SlopeFit {
    double slope = 0;
    double uncertainty = 0;
    size_t used = 0; // points with a known contrast
};

// The slope of y = slope * x + noise, where a few y are far off (the wall's own seams, which the known
// contrasts do not explain): iteratively reweighted least squares with Cauchy weights, started from the
// median ratio. Points with |x| below `least` carry no contrast and are left out.
SlopeFit FitSlope(const std::vector<double>& x, const std::vector<double>& y, double least);

// Whether a fitted slope is one a camera can have, held firmly enough by its points to be used.
bool UsableSlope(const SlopeFit& fit);

// A slope that changes smoothly across the photo: the lens blurs more and the vignetting darkens
// towards the corners, so a line keeps less of its contrast there and the tone curve's steepness
// changes with the level. A quadratic in the place (u, v), each from -1 to 1 across the wall.
struct SlopeField {
    double a[6] = {1, 0, 0, 0, 0, 0}; // 1, u, v, u^2, u v, v^2
    SlopeFit fit;                     // its value in the middle, with the points and uncertainty
    double At(double u, double v) const {
        return a[0] + a[1] * u + a[2] * v + a[3] * u * u + a[4] * u * v + a[5] * v * v;
    }
};

// The field of y = slope(u, v) * x + noise, fitted as FitSlope fits one slope; a field that would fall
// outside what a camera can have anywhere on the wall is flattened to the single slope.
SlopeField FitSlopeField(const std::vector<double>& x, const std::vector<double>& y,
                         const std::vector<double>& u, const std::vector<double>& v, double least);
