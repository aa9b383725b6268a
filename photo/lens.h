#pragma once

// A camera lens's radial distortion about the frame's centre: a point at distance r from the centre
// (in half-diagonals of the frame) is seen at r (1 + k1 r^2 + k2 r^4). Phones' wide lenses bend the
// wall's straight sides outwards (barrel, k1 < 0); fitting k1 and k2 to those sides undoes it.

#include "photo/homography.h"

#include <vector>

struct Lens {
    double cx = 0; // the frame's centre
    double cy = 0;
    double radius = 1; // the frame's half-diagonal
    double k1 = 0;
    double k2 = 0;

    // The lens of a frame of width x height with no distortion.
    static Lens Straight(double width, double height);
    // Where the lens shows a point that a pinhole would show at `p`.
    PointF Distort(PointF p) const;
    // Its inverse: where a pinhole would have shown what the lens shows at `q`.
    PointF Undistort(PointF q) const;
};

// A straight line: points p with nx p.x + ny p.y = d, |(nx, ny)| = 1.
struct Line {
    double nx = 0;
    double ny = 0;
    double d = 0;
};

// The least-squares line through the points (the direction of their largest spread), and the root
// mean square of their distances from it.
Line FitLine(const std::vector<PointF>& points, double* rms = nullptr);

// The distortion that makes each group of points (photo positions of one straight line of the wall)
// straightest, searched within |k| <= 0.3. `lens` brings the frame's centre and radius and receives k1
// and k2; `rms` is what remains: the root mean square distance of the undistorted points from their
// lines, in photo pixels.
void FitLens(const std::vector<std::vector<PointF>>& lines, Lens& lens, double& rms);
