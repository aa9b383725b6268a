#include "photo/wall_finder.h"

#include "photo/linear_light.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// A reduced copy (box averages of k x k pixels) is enough to find the wall's rough outline quickly.
struct Reduced {
    uint32_t k = 1;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;
};

Reduced Reduce(const GrayPhoto& photo) {
    Reduced r;
    r.k = std::max<uint32_t>(1, (std::max(photo.Width(), photo.Height()) + 1023) / 1024);
    r.width = photo.Width() / r.k;
    r.height = photo.Height() / r.k;
    r.pixels.assign(static_cast<size_t>(r.width) * r.height, 0);
    std::vector<uint32_t> sums(r.width);
    for (uint32_t y = 0; y < r.height; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (uint32_t dy = 0; dy < r.k; ++dy) {
            const uint8_t* row = photo.Pixels() + static_cast<size_t>(y * r.k + dy) * photo.Width();
            for (uint32_t x = 0; x < r.width; ++x) {
                for (uint32_t dx = 0; dx < r.k; ++dx) {
                    sums[x] += row[x * r.k + dx];
                }
            }
        }
        for (uint32_t x = 0; x < r.width; ++x) {
            r.pixels[static_cast<size_t>(y) * r.width + x] = static_cast<uint8_t>(sums[x] / (r.k * r.k));
        }
    }
    return r;
}

// Otsu's threshold: the level that best splits the histogram into two classes.
int OtsuThreshold(const std::vector<uint8_t>& pixels, double& dark_mean, double& bright_mean) {
    uint64_t histogram[256] = {};
    for (uint8_t v : pixels) {
        ++histogram[v];
    }
    const double total = static_cast<double>(pixels.size());
    double sum_all = 0;
    for (int i = 0; i < 256; ++i) {
        sum_all += static_cast<double>(i) * histogram[i];
    }
    double best = -1, weight_dark = 0, sum_dark = 0;
    int threshold = 0;
    for (int t = 0; t < 255; ++t) {
        weight_dark += static_cast<double>(histogram[t]);
        sum_dark += static_cast<double>(t) * histogram[t];
        const double weight_bright = total - weight_dark;
        if (weight_dark == 0 || weight_bright == 0) {
            continue;
        }
        const double m0 = sum_dark / weight_dark, m1 = (sum_all - sum_dark) / weight_bright;
        const double between = weight_dark * weight_bright * (m0 - m1) * (m0 - m1);
        if (between > best) {
            best = between;
            threshold = t;
            dark_mean = m0;
            bright_mean = m1;
        }
    }
    return threshold;
}

// The largest 4-connected region above the threshold; its pixel indices.
std::vector<uint32_t> LargestRegion(const Reduced& r, int threshold) {
    std::vector<uint8_t> seen(r.pixels.size(), 0);
    std::vector<uint32_t> best, current, stack;
    for (uint32_t start = 0; start < r.pixels.size(); ++start) {
        if (seen[start] || r.pixels[start] <= threshold) {
            continue;
        }
        current.clear();
        stack.assign(1, start);
        seen[start] = 1;
        while (!stack.empty()) {
            const uint32_t i = stack.back();
            stack.pop_back();
            current.push_back(i);
            const uint32_t x = i % r.width, y = i / r.width;
            const uint32_t next[4] = {x > 0 ? i - 1 : i, x + 1 < r.width ? i + 1 : i, y > 0 ? i - r.width : i,
                                      y + 1 < r.height ? i + r.width : i};
            for (uint32_t n : next) {
                if (!seen[n] && r.pixels[n] > threshold) {
                    seen[n] = 1;
                    stack.push_back(n);
                }
            }
        }
        if (current.size() > best.size()) {
            best.swap(current);
        }
    }
    return best;
}

struct Line {
    // Points p with n . p = d, |n| = 1.
    double nx = 0, ny = 0, d = 0;
};

// Least-squares line through the points (the direction of largest spread).
Line FitLine(const std::vector<PointF>& points) {
    double mx = 0, my = 0;
    for (const PointF& p : points) {
        mx += p.x, my += p.y;
    }
    mx /= points.size(), my /= points.size();
    double sxx = 0, syy = 0, sxy = 0;
    for (const PointF& p : points) {
        sxx += (p.x - mx) * (p.x - mx), syy += (p.y - my) * (p.y - my), sxy += (p.x - mx) * (p.y - my);
    }
    const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy); // direction of the line
    Line l;
    l.nx = -std::sin(angle);
    l.ny = std::cos(angle);
    l.d = l.nx * mx + l.ny * my;
    return l;
}

bool Intersect(const Line& a, const Line& b, PointF& p) {
    const double det = a.nx * b.ny - a.ny * b.nx;
    if (std::fabs(det) < 1e-9) {
        return false;
    }
    p.x = (a.d * b.ny - a.ny * b.d) / det;
    p.y = (a.nx * b.d - a.d * b.nx) / det;
    return true;
}

// The side from corner a to corner b, located exactly: along many normals, where the light crosses
// halfway between the wall and the surround; a line through those crossings.
bool RefineSide(const GrayPhoto& photo, PointF a, PointF b, double reach, Line& side) {
    const float* table = SrgbToLinearTable();
    const double dx = b.x - a.x, dy = b.y - a.y, length = std::hypot(dx, dy);
    if (length < 8) {
        return false;
    }
    // Outward normal for corners in clockwise order on the screen (y down).
    const double ux = dx / length, uy = dy / length, nx = uy, ny = -ux;
    const double step = 0.25;
    const int steps = static_cast<int>(2 * reach / step) + 1;
    std::vector<float> profile(static_cast<size_t>(steps));
    std::vector<PointF> crossings;
    const int samples = 96;
    for (int s = 0; s < samples; ++s) {
        const double t = 0.1 + 0.8 * s / (samples - 1.0);
        const double px = a.x + dx * t, py = a.y + dy * t;
        for (int i = 0; i < steps; ++i) {
            const double o = -reach + i * step; // negative: inside the wall
            profile[static_cast<size_t>(i)] = SampleLinear(photo, table, px + nx * o, py + ny * o);
        }
        const int quarter = steps / 4;
        std::vector<float> inside(profile.begin(), profile.begin() + quarter);
        std::vector<float> outside(profile.end() - quarter, profile.end());
        std::nth_element(inside.begin(), inside.begin() + quarter / 2, inside.end());
        std::nth_element(outside.begin(), outside.begin() + quarter / 2, outside.end());
        const float lit = inside[static_cast<size_t>(quarter / 2)],
                    dark = outside[static_cast<size_t>(quarter / 2)];
        if (lit <= dark * 1.5f) {
            continue;
        }
        const float mid = 0.5f * (lit + dark);
        // The crossing nearest the rough side.
        double best = 1e9;
        for (int i = 0; i + 1 < steps; ++i) {
            const float v0 = profile[static_cast<size_t>(i)], v1 = profile[static_cast<size_t>(i + 1)];
            if (v0 >= mid && v1 < mid) {
                const double o = -reach + (i + (v0 - mid) / (v0 - v1)) * step;
                if (std::fabs(o) < std::fabs(best)) {
                    best = o;
                }
            }
        }
        if (best < 1e8) {
            crossings.push_back({px + nx * best, py + ny * best});
        }
    }
    for (int round = 0; round < 3; ++round) {
        if (crossings.size() < 12) {
            return false;
        }
        side = FitLine(crossings);
        std::vector<PointF> kept;
        for (const PointF& p : crossings) {
            if (std::fabs(side.nx * p.x + side.ny * p.y - side.d) <= (round == 0 ? 3.0 : 1.0)) {
                kept.push_back(p);
            }
        }
        crossings.swap(kept);
    }
    return crossings.size() >= 12;
}

double QuadArea(const PointF c[4]) {
    double area = 0;
    for (int i = 0; i < 4; ++i) {
        const PointF& p = c[i];
        const PointF& q = c[(i + 1) % 4];
        area += p.x * q.y - q.x * p.y;
    }
    return 0.5 * area;
}

} // namespace

bool FindWall(const GrayPhoto& photo, WallQuad& quad, std::string& why) {
    why = "No wall was found in the photo: it should show the whole lit wall, brighter than its surround.";
    if (photo.Width() < 16 || photo.Height() < 16) {
        return false;
    }
    const Reduced r = Reduce(photo);
    double dark = 0, bright = 0;
    const int threshold = OtsuThreshold(r.pixels, dark, bright);
    if (bright - dark < 24) {
        return false;
    }
    const std::vector<uint32_t> region = LargestRegion(r, threshold);
    if (region.size() < r.pixels.size() / 50 || region.size() < 64) {
        return false;
    }
    // Rough corners: the region's extremes along the two diagonals.
    double best[4] = {1e18, -1e18, -1e18, 1e18}; // min x+y, max x-y, max x+y, min x-y
    PointF rough[4];
    bool touches_edge = false;
    for (uint32_t i : region) {
        const uint32_t xi = i % r.width, yi = i / r.width;
        touches_edge |= xi == 0 || yi == 0 || xi + 1 == r.width || yi + 1 == r.height;
        const double x = (xi + 0.5) * r.k, y = (yi + 0.5) * r.k;
        const double sum = x + y, difference = x - y;
        if (sum < best[0])
            best[0] = sum, rough[0] = {x, y};
        if (difference > best[1])
            best[1] = difference, rough[1] = {x, y};
        if (sum > best[2])
            best[2] = sum, rough[2] = {x, y};
        if (difference < best[3])
            best[3] = difference, rough[3] = {x, y};
    }
    if (touches_edge) {
        why =
            "The wall reaches the edge of the photo: take it with the whole wall inside the picture and some "
            "dark surround on every side.";
        return false;
    }
    const double area = QuadArea(rough), pixels = static_cast<double>(region.size()) * r.k * r.k;
    if (area <= 0 || area < 0.85 * pixels || area > 1.2 * pixels) {
        why = "No wall was found in the photo: its brightest region is not a quadrilateral.";
        return false;
    }
    Line sides[4];
    for (int i = 0; i < 4; ++i) {
        if (!RefineSide(photo, rough[i], rough[(i + 1) % 4], 3.0 * r.k + 6, sides[i])) {
            why =
                "No wall was found in the photo: the edges of its bright region are not straight and sharp.";
            return false;
        }
    }
    for (int i = 0; i < 4; ++i) {
        if (!Intersect(sides[(i + 3) % 4], sides[i], quad.corners[i])) {
            return false;
        }
        if (std::hypot(quad.corners[i].x - rough[i].x, quad.corners[i].y - rough[i].y) > 4.0 * r.k + 8) {
            why = "No wall was found in the photo: the corners of its bright region are not sharp.";
            return false;
        }
    }
    return true;
}
