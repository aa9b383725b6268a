#include "photo/homography.h"

#include <cmath>
#include <utility>

bool Homography::Solve(const PointF from[4], const PointF to[4]) {
    // Eight equations in h0..h7 (h8 = 1), solved by elimination with partial pivoting.
    double a[8][9] = {};
    for (int i = 0; i < 4; ++i) {
        const double x = from[i].x, y = from[i].y, u = to[i].x, v = to[i].y;
        double* r = a[2 * i];
        r[0] = x, r[1] = y, r[2] = 1, r[6] = -u * x, r[7] = -u * y, r[8] = u;
        r = a[2 * i + 1];
        r[3] = x, r[4] = y, r[5] = 1, r[6] = -v * x, r[7] = -v * y, r[8] = v;
    }
    for (int c = 0; c < 8; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 8; ++r) {
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) {
                pivot = r;
            }
        }
        if (std::fabs(a[pivot][c]) < 1e-12) {
            return false;
        }
        std::swap(a[c], a[pivot]);
        for (int r = 0; r < 8; ++r) {
            if (r != c) {
                const double f = a[r][c] / a[c][c];
                for (int k = c; k < 9; ++k) {
                    a[r][k] -= f * a[c][k];
                }
            }
        }
    }
    for (int i = 0; i < 8; ++i) {
        h_[i] = a[i][8] / a[i][i];
    }
    h_[8] = 1;
    // Degenerate corners (three on a line) leave a mapping that folds the plane somewhere inside.
    for (int i = 0; i < 4; ++i) {
        if (h_[6] * from[i].x + h_[7] * from[i].y + 1 <= 1e-9) {
            return false;
        }
    }
    return true;
}

PointF Homography::Map(double x, double y) const {
    const double w = h_[6] * x + h_[7] * y + h_[8];
    return {(h_[0] * x + h_[1] * y + h_[2]) / w, (h_[3] * x + h_[4] * y + h_[5]) / w};
}
