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

bool Intersect(const Line& a, const Line& b, PointF& p) {
    const double det = a.nx * b.ny - a.ny * b.nx;
    if (std::fabs(det) < 1e-9) {
        return false;
    }
    p.x = (a.d * b.ny - a.ny * b.d) / det;
    p.y = (a.nx * b.d - a.d * b.nx) / det;
    return true;
}

float Median(std::vector<float>& v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Where the light crosses halfway between the wall and its surround, along many normals of the side
// from corner a to corner b (clockwise on the screen, so that the outward normal is (dy, -dx)). Each
// profile is the mean of profiles spread over three pitches along the side, then averaged across over
// one pitch: the emitters' dots and the dark between them become the light of whole pixels, and the
// wall's outer edge the point where that light falls to half.
std::vector<PointF> SideCrossings(const GrayPhoto& photo, PointF a, PointF b, double pitch, double reach) {
    const float* table = SrgbToLinearTable();
    const double dx = b.x - a.x, dy = b.y - a.y, length = std::hypot(dx, dy);
    std::vector<PointF> crossings;
    if (length < 8) {
        return crossings;
    }
    const double ux = dx / length, uy = dy / length, nx = uy, ny = -ux;
    const double step = 0.25;
    const int steps = static_cast<int>(2 * reach / step) + 1;
    const int box = std::max(1, static_cast<int>(std::lround(pitch / step)));
    std::vector<float> profile(static_cast<size_t>(steps)), smooth(static_cast<size_t>(steps));
    std::vector<double> prefix(static_cast<size_t>(steps) + 1);
    const int samples = 128, spread = 7;
    for (int s = 0; s < samples; ++s) {
        const double t = 0.04 + 0.92 * s / (samples - 1.0);
        const double px = a.x + dx * t, py = a.y + dy * t;
        std::fill(profile.begin(), profile.end(), 0.0f);
        for (int k = 0; k < spread; ++k) {
            const double along = (k - (spread - 1) / 2.0) / ((spread - 1) / 2.0) * 1.5 * pitch;
            for (int i = 0; i < steps; ++i) {
                const double o = -reach + i * step; // negative: inside the wall
                profile[static_cast<size_t>(i)] +=
                    SampleLinear(photo, table, px + ux * along + nx * o, py + uy * along + ny * o) / spread;
            }
        }
        // One pitch across, as a running mean of the samples within half a pitch of each.
        double sum = 0;
        prefix[0] = 0;
        for (int i = 0; i < steps; ++i) {
            sum += profile[static_cast<size_t>(i)];
            prefix[static_cast<size_t>(i + 1)] = sum;
        }
        for (int i = 0; i < steps; ++i) {
            const int from = std::max(0, i - box / 2), to = std::min(steps, i + box / 2 + 1);
            smooth[static_cast<size_t>(i)] = static_cast<float>(
                (prefix[static_cast<size_t>(to)] - prefix[static_cast<size_t>(from)]) / (to - from));
        }
        const int third = steps / 3;
        std::vector<float> inside(smooth.begin(), smooth.begin() + third);
        std::vector<float> outside(smooth.end() - third, smooth.end());
        const float lit = Median(inside), dark = Median(outside);
        if (lit <= dark * 1.5f) {
            continue;
        }
        const float mid = 0.5f * (lit + dark);
        // The crossing nearest the rough side.
        double best = 1e9;
        for (int i = 0; i + 1 < steps; ++i) {
            const float v0 = smooth[static_cast<size_t>(i)], v1 = smooth[static_cast<size_t>(i + 1)];
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
    return crossings;
}

// The points of a side that lie on its line, the strays (specks, a corner's rounding) left out.
std::vector<PointF> Straighten(std::vector<PointF> points, const Lens& lens) {
    for (int round = 0; round < 3; ++round) {
        if (points.size() < 12) {
            return {};
        }
        std::vector<PointF> straight;
        for (const PointF& p : points) {
            straight.push_back(lens.Undistort(p));
        }
        const Line side = FitLine(straight);
        std::vector<PointF> kept;
        for (size_t i = 0; i < points.size(); ++i) {
            const double e = side.nx * straight[i].x + side.ny * straight[i].y - side.d;
            if (std::fabs(e) <= (round == 0 ? 3.0 : 1.0)) {
                kept.push_back(points[i]);
            }
        }
        points.swap(kept);
    }
    return points.size() >= 12 ? points : std::vector<PointF>{};
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

// Rough corners: the region's extremes along the two diagonals; false when it touches the frame's edge.
bool RoughCorners(const Reduced& r, const std::vector<uint32_t>& region, PointF rough[4]) {
    double best[4] = {1e18, -1e18, -1e18, 1e18}; // min x+y, max x-y, max x+y, min x-y
    bool touches_edge = false;
    for (uint32_t i : region) {
        const uint32_t xi = i % r.width, yi = i / r.width;
        touches_edge |= xi == 0 || yi == 0 || xi + 1 == r.width || yi + 1 == r.height;
        const double x = (xi + 0.5) * r.k, y = (yi + 0.5) * r.k;
        const double sum = x + y, difference = x - y;
        if (sum < best[0]) {
            best[0] = sum, rough[0] = {x, y};
        }
        if (difference > best[1]) {
            best[1] = difference, rough[1] = {x, y};
        }
        if (sum > best[2]) {
            best[2] = sum, rough[2] = {x, y};
        }
        if (difference < best[3]) {
            best[3] = difference, rough[3] = {x, y};
        }
    }
    return !touches_edge;
}

// What the lens does not explain, over every edge point but the strays: the points the sides' lines
// left out for straying a pixel or so count here.
double Bending(const std::vector<std::vector<PointF>>& sides, const Lens& lens, const Line lines[4],
               double pitch) {
    double squares = 0;
    size_t count = 0;
    for (int i = 0; i < 4; ++i) {
        for (const PointF& q : sides[static_cast<size_t>(i)]) {
            const PointF p = lens.Undistort(q);
            const double e = lines[i].nx * p.x + lines[i].ny * p.y - lines[i].d;
            if (std::fabs(e) <= 3 + pitch) {
                squares += e * e, ++count;
            }
        }
    }
    return count == 0 ? 0 : std::sqrt(squares / static_cast<double>(count));
}

} // namespace

bool FindWall(const GrayPhoto& photo, uint32_t columns, uint32_t rows, WallView& view, std::string& why) {
    why = "照片里找不到屏：照片应拍下整块点亮的屏，屏比周围亮。";
    if (photo.Width() < 16 || photo.Height() < 16 || columns == 0 || rows == 0) {
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
    PointF rough[4];
    if (!RoughCorners(r, region, rough)) {
        why = "屏碰到了照片的边缘：拍照时让整块屏都在画面里，四周留出一些暗的背景。";
        return false;
    }
    const double area = QuadArea(rough), pixels = static_cast<double>(region.size()) * r.k * r.k;
    if (area <= 0 || area < 0.8 * pixels || area > 1.2 * pixels) {
        why = "照片里找不到屏：最亮的区域不是四边形。";
        return false;
    }
    // Each side's edge points; the lens that makes the four sides straight; the sides' lines as a
    // pinhole would show them, and the corners where they meet.
    view.lens = Lens::Straight(photo.Width(), photo.Height());
    const double pitch = 0.5 * (std::hypot(rough[1].x - rough[0].x, rough[1].y - rough[0].y) / columns +
                                std::hypot(rough[3].x - rough[0].x, rough[3].y - rough[0].y) / rows);
    const double reach = std::max(3.0 * r.k + 8, 0.04 * view.lens.radius) + pitch;
    std::vector<std::vector<PointF>> sides(4);
    for (int i = 0; i < 4; ++i) {
        sides[static_cast<size_t>(i)] = SideCrossings(photo, rough[i], rough[(i + 1) % 4], pitch, reach);
    }
    double bent = 0;
    FitLens(sides, view.lens, bent);
    view.bent = 0;
    for (const std::vector<PointF>& side : sides) {
        double rms = 0;
        FitLine(side, &rms);
        view.bent = std::max(view.bent, rms);
    }
    Line lines[4];
    std::vector<std::vector<PointF>> kept(4);
    for (int i = 0; i < 4; ++i) {
        kept[static_cast<size_t>(i)] = Straighten(sides[static_cast<size_t>(i)], view.lens);
        if (kept[static_cast<size_t>(i)].empty()) {
            why = "照片里找不到屏：屏的边缘不够直、不够清晰。";
            return false;
        }
    }
    FitLens(kept, view.lens, view.bending);
    for (int i = 0; i < 4; ++i) {
        std::vector<PointF> straightened;
        for (const PointF& p : kept[static_cast<size_t>(i)]) {
            straightened.push_back(view.lens.Undistort(p));
        }
        lines[i] = FitLine(straightened);
    }
    view.bending = Bending(sides, view.lens, lines, pitch);
    for (int i = 0; i < 4; ++i) {
        if (!Intersect(lines[(i + 3) % 4], lines[i], view.corners[i])) {
            return false;
        }
        const PointF seen = view.lens.Distort(view.corners[i]);
        if (std::hypot(seen.x - rough[i].x, seen.y - rough[i].y) > 4.0 * r.k + 8 + 2 * pitch) {
            why = "照片里找不到屏：最亮区域的角不清晰。";
            return false;
        }
    }
    return true;
}
