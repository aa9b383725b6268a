#include "tools/ledsim/camera.h"

#include <algorithm>
#include <cmath>

namespace ledsim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSurround = 0.01; // linear light of the dark room around the wall
constexpr double kExposure = 0.9;  // linear light of a wall pixel at level 255
constexpr int kSubsamples = 3;     // per camera pixel and axis: a pixel integrates the wall it covers

// The pose as a matrix (x right, y down, z from the camera towards the wall).
struct Pose {
    double r[9];
    double distance;
    double focal;
    double cx;
    double cy;
    // The camera point of a wall point given relative to the wall's centre.
    void Project(double x, double y, double& u, double& v) const {
        const double px = r[0] * x + r[1] * y, py = r[3] * x + r[4] * y, pz = r[6] * x + r[7] * y + distance;
        u = cx + focal * px / pz;
        v = cy + focal * py / pz;
    }
};

Pose MakePose(const CameraOptions& o, uint32_t width, uint32_t height, double scale) {
    const double t = o.tilt * kPi / 180, a = o.turn * kPi / 180, g = o.roll * kPi / 180;
    const double rx[9] = {1, 0, 0, 0, std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t)};
    const double ry[9] = {std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)};
    const double rz[9] = {std::cos(g), -std::sin(g), 0, std::sin(g), std::cos(g), 0, 0, 0, 1};
    double ryx[9] = {};
    Pose p{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            for (int k = 0; k < 3; ++k) {
                ryx[i * 3 + j] += ry[i * 3 + k] * rx[k * 3 + j];
            }
        }
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            for (int k = 0; k < 3; ++k) {
                p.r[i * 3 + j] += rz[i * 3 + k] * ryx[k * 3 + j];
            }
        }
    }
    p.distance = 1.5 * std::max(width, height);
    p.focal = scale * p.distance;
    return p;
}

// The extent of the wall's picture around the frame's centre at a scale.
void Extent(const CameraOptions& o, uint32_t width, uint32_t height, double scale, double& w, double& h) {
    Pose p = MakePose(o, width, height, scale);
    double minu = 1e18, maxu = -1e18, minv = 1e18, maxv = -1e18;
    for (const double x : {-0.5 * width, 0.5 * width}) {
        for (const double y : {-0.5 * height, 0.5 * height}) {
            double u = 0, v = 0;
            p.Project(x, y, u, v);
            minu = std::min(minu, u), maxu = std::max(maxu, u), minv = std::min(minv, v),
            maxv = std::max(maxv, v);
        }
    }
    w = 2 * std::max(std::fabs(minu), std::fabs(maxu));
    h = 2 * std::max(std::fabs(minv), std::fabs(maxv));
}

double Scale(const CameraOptions& o, uint32_t width, uint32_t height) {
    if (o.width == 0 || o.height == 0) {
        return o.pixels_per_wall_pixel;
    }
    double w = 0, h = 0;
    Extent(o, width, height, 1.0, w, h);
    return 0.85 * std::min(o.width / w, o.height / h);
}

// splitmix64 and Box-Muller: the same noise for the same seed everywhere.
class Noise {
public:
    explicit Noise(uint64_t seed) : state_(seed) {}
    double Gaussian() {
        const double u1 = (static_cast<double>(Next() >> 11) + 1.0) / 9007199254740993.0;
        const double u2 = static_cast<double>(Next() >> 11) / 9007199254740992.0;
        return std::sqrt(-2 * std::log(u1)) * std::cos(2 * kPi * u2);
    }

private:
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t state_;
};

void Blur(std::vector<float>& image, uint32_t width, uint32_t height, double sigma) {
    if (sigma <= 0.05) {
        return;
    }
    const int radius = static_cast<int>(std::ceil(3 * sigma));
    std::vector<float> kernel(static_cast<size_t>(2 * radius + 1));
    float total = 0;
    for (int i = -radius; i <= radius; ++i) {
        kernel[static_cast<size_t>(i + radius)] =
            static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
        total += kernel[static_cast<size_t>(i + radius)];
    }
    for (float& k : kernel) {
        k /= total;
    }
    std::vector<float> line(std::max(width, height));
    for (uint32_t y = 0; y < height; ++y) {
        float* row = &image[static_cast<size_t>(y) * width];
        for (uint32_t x = 0; x < width; ++x) {
            float sum = 0;
            for (int i = -radius; i <= radius; ++i) {
                const int xi = std::clamp(static_cast<int>(x) + i, 0, static_cast<int>(width) - 1);
                sum += kernel[static_cast<size_t>(i + radius)] * row[xi];
            }
            line[x] = sum;
        }
        std::copy(line.begin(), line.begin() + width, row);
    }
    for (uint32_t x = 0; x < width; ++x) {
        for (uint32_t y = 0; y < height; ++y) {
            float sum = 0;
            for (int i = -radius; i <= radius; ++i) {
                const int yi = std::clamp(static_cast<int>(y) + i, 0, static_cast<int>(height) - 1);
                sum += kernel[static_cast<size_t>(i + radius)] * image[static_cast<size_t>(yi) * width + x];
            }
            line[y] = sum;
        }
        for (uint32_t y = 0; y < height; ++y) {
            image[static_cast<size_t>(y) * width + x] = line[y];
        }
    }
}

double Srgb(double linear) {
    if (linear <= 0) {
        return 0;
    }
    if (linear >= 1) {
        return 255;
    }
    return 255 * (linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055);
}

} // namespace

void CameraFrame(const CameraOptions& options, uint32_t width, uint32_t height, uint32_t& frame_width,
                 uint32_t& frame_height) {
    if (options.width != 0 && options.height != 0) {
        frame_width = options.width;
        frame_height = options.height;
        return;
    }
    double w = 0, h = 0;
    Extent(options, width, height, options.pixels_per_wall_pixel, w, h);
    frame_width = static_cast<uint32_t>(std::ceil(w * 1.2)) + 16;
    frame_height = static_cast<uint32_t>(std::ceil(h * 1.25)) + 16;
}

CameraPicture TakePhoto(const std::vector<float>& levels, uint32_t width, uint32_t height,
                        const CameraOptions& options) {
    CameraPicture picture;
    CameraFrame(options, width, height, picture.width, picture.height);
    const double scale = Scale(options, width, height);
    picture.pixels_per_wall_pixel = scale;
    Pose pose = MakePose(options, width, height, scale);
    pose.cx = picture.width / 2.0;
    pose.cy = picture.height / 2.0;
    // The camera's rays back onto the wall: the inverse of the plane's projection
    // [u v 1] ~ K [r1 r2 t] [x y 1].
    const double f = pose.focal, d = pose.distance, *r = pose.r;
    const double m[9] = {f * r[0] + pose.cx * r[6],
                         f * r[1] + pose.cx * r[7],
                         pose.cx * d,
                         f * r[3] + pose.cy * r[6],
                         f * r[4] + pose.cy * r[7],
                         pose.cy * d,
                         r[6],
                         r[7],
                         d};
    const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                       m[2] * (m[3] * m[7] - m[4] * m[6]);
    const double inv[9] = {(m[4] * m[8] - m[5] * m[7]) / det, (m[2] * m[7] - m[1] * m[8]) / det,
                           (m[1] * m[5] - m[2] * m[4]) / det, (m[5] * m[6] - m[3] * m[8]) / det,
                           (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det,
                           (m[3] * m[7] - m[4] * m[6]) / det, (m[1] * m[6] - m[0] * m[7]) / det,
                           (m[0] * m[4] - m[1] * m[3]) / det};
    std::vector<float> light(static_cast<size_t>(picture.width) * picture.height);
    const double half_w = width / 2.0, half_h = height / 2.0;
    for (uint32_t v = 0; v < picture.height; ++v) {
        for (uint32_t u = 0; u < picture.width; ++u) {
            double sum = 0;
            for (int sy = 0; sy < kSubsamples; ++sy) {
                for (int sx = 0; sx < kSubsamples; ++sx) {
                    const double pu = u + (sx + 0.5) / kSubsamples, pv = v + (sy + 0.5) / kSubsamples;
                    const double w = inv[6] * pu + inv[7] * pv + inv[8];
                    const double x = (inv[0] * pu + inv[1] * pv + inv[2]) / w + half_w;
                    const double y = (inv[3] * pu + inv[4] * pv + inv[5]) / w + half_h;
                    if (x >= 0 && y >= 0 && x < width && y < height) {
                        sum += kExposure * levels[static_cast<size_t>(y) * width + static_cast<size_t>(x)] /
                               255.0;
                    } else {
                        sum += kSurround;
                    }
                }
            }
            light[static_cast<size_t>(v) * picture.width + u] =
                static_cast<float>(sum / (kSubsamples * kSubsamples));
        }
    }
    Blur(light, picture.width, picture.height, options.blur);
    Noise noise(options.seed);
    picture.pixels.resize(light.size());
    const double corner = std::hypot(pose.cx, pose.cy);
    for (uint32_t v = 0; v < picture.height; ++v) {
        for (uint32_t u = 0; u < picture.width; ++u) {
            const double rr = std::hypot(u + 0.5 - pose.cx, v + 0.5 - pose.cy) / corner;
            const size_t i = static_cast<size_t>(v) * picture.width + u;
            const double level = Srgb(light[i] * (1 - options.vignetting * rr * rr)) +
                                 (options.noise > 0 ? options.noise * noise.Gaussian() : 0.0);
            picture.pixels[i] = static_cast<uint8_t>(std::clamp(std::lround(level), 0L, 255L));
        }
    }
    return picture;
}

} // namespace ledsim
