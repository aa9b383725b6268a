#include "photo/rectify.h"

#include <algorithm>
#include <cmath>

uint64_t RectifyBytes(uint32_t width, uint32_t height) {
    return static_cast<uint64_t>(width) * height * sizeof(float) + 3 * (width + 2ull) * sizeof(PointF);
}

namespace {

// The photo's mean around one wall pixel, weighted by a tent over the wall's coordinates: full at the
// pixel's centre, nothing one pixel away in either direction. Every wall pixel then counts each emitter
// near it by how close it is, so that the weights of all pixels add up to one whatever the place of
// the emitters against the sensor's pixels; and a tent, unlike a box, leaves little of the sensor's
// own grid in the result. `centre` and the columns of the mapping's derivative `dx`, `dy` (photo pixels
// per wall pixel) are the pixel's; weights are taken at the photo pixels' centres.
float TentMean(const GrayPhoto& photo, const float* linear, PointF centre, PointF dx, PointF dy) {
    const double det = dx.x * dy.y - dy.x * dx.y;
    if (std::fabs(det) < 1e-9) {
        return 0;
    }
    // The inverse of the derivative: photo offsets to wall offsets.
    const double ux = dy.y / det, uy = -dy.x / det, vx = -dx.y / det, vy = dx.x / det;
    const double reach_x = std::fabs(dx.x) + std::fabs(dy.x), reach_y = std::fabs(dx.y) + std::fabs(dy.y);
    const int64_t i0 = std::max<int64_t>(0, static_cast<int64_t>(std::floor(centre.x - reach_x)));
    const int64_t i1 =
        std::min<int64_t>(photo.Width() - 1, static_cast<int64_t>(std::ceil(centre.x + reach_x)));
    const int64_t j0 = std::max<int64_t>(0, static_cast<int64_t>(std::floor(centre.y - reach_y)));
    const int64_t j1 =
        std::min<int64_t>(photo.Height() - 1, static_cast<int64_t>(std::ceil(centre.y + reach_y)));
    double sum = 0, weights = 0;
    for (int64_t j = j0; j <= j1; ++j) {
        const uint8_t* row = photo.Pixels() + static_cast<size_t>(j) * photo.Width();
        const double oy = j + 0.5 - centre.y;
        for (int64_t i = i0; i <= i1; ++i) {
            const double ox = i + 0.5 - centre.x;
            const double u = std::fabs(ux * ox + uy * oy), v = std::fabs(vx * ox + vy * oy);
            if (u < 1 && v < 1) {
                const double w = (1 - u) * (1 - v);
                sum += w * linear[row[i]];
                weights += w;
            }
        }
    }
    return weights > 0 ? static_cast<float>(sum / weights) : 0.0f;
}

// [1 2 1] / 4 along rows and along columns: nothing is left of a pattern that alternates from one wall
// pixel to the next, which is where the sensor's grid leaves what it has not averaged.
void SmoothHalfPixel(WallImage& image) {
    const uint32_t w = image.width, h = image.height;
    std::vector<float> line(std::max(w, h));
    for (uint32_t y = 0; y < h; ++y) {
        float* row = &image.light[static_cast<size_t>(y) * w];
        for (uint32_t x = 0; x < w; ++x) {
            line[x] = 0.25f * (row[x == 0 ? 0 : x - 1] + 2 * row[x] + row[x + 1 < w ? x + 1 : x]);
        }
        std::copy(line.begin(), line.begin() + w, row);
    }
    for (uint32_t x = 0; x < w; ++x) {
        for (uint32_t y = 0; y < h; ++y) {
            line[y] = 0.25f * (image.At(x, y == 0 ? 0 : y - 1) + 2 * image.At(x, y) +
                               image.At(x, y + 1 < h ? y + 1 : y));
        }
        for (uint32_t y = 0; y < h; ++y) {
            image.light[static_cast<size_t>(y) * w + x] = line[y];
        }
    }
}

} // namespace

void RectifyWall(const GrayPhoto& photo, const WallMapping& mapping, const float* linear, uint32_t width,
                 uint32_t height, WallImage& out) {
    out.width = width;
    out.height = height;
    out.light.assign(static_cast<size_t>(width) * height, 0.0f);
    // The centres of three rows of wall pixels at a time, with one more pixel at either end, for the
    // mapping's derivative at each centre.
    std::vector<PointF> rows[3];
    const auto centres = [&](std::vector<PointF>& row, double y) {
        row.resize(width + 2ull);
        for (uint32_t x = 0; x < width + 2; ++x) {
            row[x] = mapping.Map(x - 0.5, y + 0.5);
        }
    };
    centres(rows[0], -1);
    centres(rows[1], 0);
    for (uint32_t y = 0; y < height; ++y) {
        centres(rows[2], y + 1.0);
        float* light = &out.light[static_cast<size_t>(y) * width];
        for (uint32_t x = 0; x < width; ++x) {
            const PointF& c = rows[1][x + 1];
            const PointF dx{0.5 * (rows[1][x + 2].x - rows[1][x].x), 0.5 * (rows[1][x + 2].y - rows[1][x].y)};
            const PointF dy{0.5 * (rows[2][x + 1].x - rows[0][x + 1].x),
                            0.5 * (rows[2][x + 1].y - rows[0][x + 1].y)};
            light[x] = TentMean(photo, linear, c, dx, dy);
        }
        std::swap(rows[0], rows[1]);
        std::swap(rows[1], rows[2]);
    }
    SmoothHalfPixel(out);
}
