#pragma once

// The plane-to-plane mapping of a camera: the wall's pixel coordinates to the photo's.

struct PointF {
    double x = 0;
    double y = 0;
};

class Homography {
public:
    // The mapping that takes from[i] to to[i] for the four points; false when three of either lie on a
    // line (no such mapping).
    bool Solve(const PointF from[4], const PointF to[4]);
    PointF Map(double x, double y) const;
    // The row-major 3 x 3 matrix, its last element 1.
    const double* Matrix() const { return h_; }

private:
    double h_[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
};
