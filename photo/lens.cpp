#include "photo/lens.h"

#include <algorithm>
#include <cmath>

Lens Lens::Straight(double width, double height) {
    Lens lens;
    lens.cx = width / 2;
    lens.cy = height / 2;
    lens.radius = std::max(1.0, std::hypot(lens.cx, lens.cy));
    return lens;
}

PointF Lens::Distort(PointF p) const {
    const double dx = p.x - cx, dy = p.y - cy, rr = (dx * dx + dy * dy) / (radius * radius);
    const double f = 1 + k1 * rr + k2 * rr * rr;
    return {cx + dx * f, cy + dy * f};
}

PointF Lens::Undistort(PointF q) const {
    // A fixed point: the distortion changes a radius by a few per cent, so a handful of steps settle.
    PointF p = q;
    for (int i = 0; i < 8; ++i) {
        const double dx = p.x - cx, dy = p.y - cy, rr = (dx * dx + dy * dy) / (radius * radius);
        const double f = 1 + k1 * rr + k2 * rr * rr;
        if (f <= 0.05) {
            break;
        }
        p = {cx + (q.x - cx) / f, cy + (q.y - cy) / f};
    }
    return p;
}

Line FitLine(const std::vector<PointF>& points, double* rms) {
    Line l;
    if (points.empty()) {
        return l;
    }
    double mx = 0, my = 0;
    for (const PointF& p : points) {
        mx += p.x, my += p.y;
    }
    mx /= static_cast<double>(points.size()), my /= static_cast<double>(points.size());
    double sxx = 0, syy = 0, sxy = 0;
    for (const PointF& p : points) {
        sxx += (p.x - mx) * (p.x - mx), syy += (p.y - my) * (p.y - my), sxy += (p.x - mx) * (p.y - my);
    }
    const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy); // direction of the line
    l.nx = -std::sin(angle);
    l.ny = std::cos(angle);
    l.d = l.nx * mx + l.ny * my;
    if (rms != nullptr) {
        double sum = 0;
        for (const PointF& p : points) {
            const double e = l.nx * p.x + l.ny * p.y - l.d;
            sum += e * e;
        }
        *rms = std::sqrt(sum / static_cast<double>(points.size()));
    }
    return l;
}

namespace {

// The signed distances of the undistorted points from their fitted lines, all lines one after another.
std::vector<double> Distances(const std::vector<std::vector<PointF>>& lines, const Lens& lens) {
    std::vector<double> out;
    std::vector<PointF> straight;
    for (const std::vector<PointF>& line : lines) {
        straight.clear();
        for (const PointF& q : line) {
            straight.push_back(lens.Undistort(q));
        }
        const Line l = FitLine(straight);
        for (const PointF& p : straight) {
            out.push_back(l.nx * p.x + l.ny * p.y - l.d);
        }
    }
    return out;
}

double MeanSquare(const std::vector<double>& d) {
    double sum = 0;
    for (const double v : d) {
        sum += v * v;
    }
    return d.empty() ? 0 : sum / static_cast<double>(d.size());
}

} // namespace

void FitLens(const std::vector<std::vector<PointF>>& lines, Lens& lens, double& rms) {
    // Gauss-Newton on the points' distances from their lines: near the answer they change almost in
    // proportion to k1 and k2, so a few steps settle both at once (searching one and then the other
    // creeps along the valley the two make together).
    constexpr double kReach = 0.3, kStep = 1e-4;
    lens.k1 = lens.k2 = 0;
    std::vector<double> d = Distances(lines, lens);
    for (int round = 0; round < 8 && !d.empty(); ++round) {
        Lens l1 = lens, l2 = lens;
        l1.k1 += kStep, l2.k2 += kStep;
        const std::vector<double> d1 = Distances(lines, l1), d2 = Distances(lines, l2);
        double a11 = 0, a12 = 0, a22 = 0, b1 = 0, b2 = 0;
        for (size_t i = 0; i < d.size(); ++i) {
            const double j1 = (d1[i] - d[i]) / kStep, j2 = (d2[i] - d[i]) / kStep;
            a11 += j1 * j1, a12 += j1 * j2, a22 += j2 * j2, b1 -= j1 * d[i], b2 -= j2 * d[i];
        }
        // A little damping keeps k2 small where the points cannot tell it from k1.
        a11 *= 1 + 1e-6, a22 = a22 * (1 + 1e-3) + 1e-9;
        const double det = a11 * a22 - a12 * a12;
        if (!(std::fabs(det) > 0)) {
            break;
        }
        Lens next = lens;
        next.k1 = std::clamp(lens.k1 + (b1 * a22 - b2 * a12) / det, -kReach, kReach);
        next.k2 = std::clamp(lens.k2 + (a11 * b2 - a12 * b1) / det, -kReach, kReach);
        const std::vector<double> dn = Distances(lines, next);
        if (MeanSquare(dn) >= MeanSquare(d)) {
            break;
        }
        lens = next;
        d = dn;
    }
    rms = std::sqrt(MeanSquare(d));
}
