#include "tools/ledsim/camera.h"

#include <algorithm>
#include <cmath>

namespace ledsim {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The ideal camera's fixed exposure: level 255 is linear light 0.9, the surround 0.01.
constexpr double kIdealExposure = 0.9;
constexpr double kIdealSurround = 0.01;
constexpr int kSubsamples = 3; // the ideal camera: per camera pixel and axis
// The wall's black face between the emitters reflects this share of the room's light.
constexpr double kFaceReflection = 0.25;
// A white LED seen through the red, green and blue filters of a typical sensor.
constexpr double kSensitivity[3] = {0.80, 1.0, 0.65};
// Electrons at a full pixel and the read noise, for a phone's small pixels as its merging of a few
// frames leaves them; --noise scales the noise.
constexpr double kFullWell = 12000;
constexpr double kReadNoise = 2.5;
// Automatic exposure puts the frame's centre-weighted mean here, unless that clips more than a few
// pixels.
constexpr double kExposureTarget = 0.18;

// The pose as a matrix (x right, y down, z from the camera towards the wall), and the lens.
struct Pose {
    double r[9];
    double distance;
    double focal;
    double cx = 0; // the frame's centre: the principal point and the centre of the distortion
    double cy = 0;
    double radius = 1; // the frame's half-diagonal, the unit of the distortion's radius
    double k1 = 0;
    double k2 = 0;
    // The undistorted camera point of a wall point given relative to the lit part's centre.
    void Project(double x, double y, double& u, double& v) const {
        const double px = r[0] * x + r[1] * y, py = r[3] * x + r[4] * y, pz = r[6] * x + r[7] * y + distance;
        u = cx + focal * px / pz;
        v = cy + focal * py / pz;
    }
    double Distortion(double u, double v) const {
        const double rr = ((u - cx) * (u - cx) + (v - cy) * (v - cy)) / (radius * radius);
        return 1 + k1 * rr + k2 * rr * rr;
    }
    // Where the lens puts a wall point in the frame.
    void Map(double x, double y, double& u, double& v) const {
        Project(x, y, u, v);
        const double d = Distortion(u, v);
        u = cx + (u - cx) * d;
        v = cy + (v - cy) * d;
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

// The lit part: the whole wall unless the options name a rectangle within it.
void LitPart(const CameraOptions& o, uint32_t width, uint32_t height, uint32_t lit[4]) {
    const bool given = o.lit[2] != 0 && o.lit[3] != 0 && o.lit[0] < width && o.lit[1] < height;
    lit[0] = given ? o.lit[0] : 0;
    lit[1] = given ? o.lit[1] : 0;
    lit[2] = given ? std::min(o.lit[2], width - lit[0]) : width;
    lit[3] = given ? std::min(o.lit[3], height - lit[1]) : height;
}

// The extent of the lit part's picture around the frame's centre at a scale.
void Extent(const CameraOptions& o, uint32_t width, uint32_t height, double scale, double& w, double& h) {
    uint32_t lit[4];
    LitPart(o, width, height, lit);
    Pose p = MakePose(o, lit[2], lit[3], scale);
    double minu = 1e18, maxu = -1e18, minv = 1e18, maxv = -1e18;
    for (const double x : {-0.5 * lit[2], 0.5 * lit[2]}) {
        for (const double y : {-0.5 * lit[3], 0.5 * lit[3]}) {
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
    double Uniform() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }

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
        return 1;
    }
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

// The camera's look: an S-shaped curve over the sRGB values, steeper than sRGB in the middle tones and
// flatter in the shadows and highlights, as phones make their pictures.
double ToneCurve(double srgb, double strength) {
    const double p = 1 + 0.3 * strength;
    if (srgb <= 0 || srgb >= 1 || p == 1) {
        return std::clamp(srgb, 0.0, 1.0);
    }
    const double a = std::pow(srgb, p), b = std::pow(1 - srgb, p);
    return a / (a + b);
}

// The share of light of an emitter `w` pixels wide centred at `c`, blurred by `sigma`, that falls on
// the sensor pixel from i to i + 1: the box of the emitter convolved with the lens's Gaussian,
// integrated over the pixel.
class Footprint {
public:
    // Weights of the pixels first .. first + count - 1 along one axis.
    void Weights(double c, double w, double sigma, int64_t& first, std::vector<double>& weights) const {
        const double reach = w / 2 + 4 * sigma + 1;
        first = static_cast<int64_t>(std::floor(c - reach));
        const int64_t last = static_cast<int64_t>(std::ceil(c + reach));
        weights.assign(static_cast<size_t>(last - first), 0.0);
        const double lo = c - w / 2, hi = c + w / 2;
        double previous = Cumulative(static_cast<double>(first), lo, hi, sigma);
        for (int64_t i = first; i < last; ++i) {
            const double next = Cumulative(static_cast<double>(i + 1), lo, hi, sigma);
            weights[static_cast<size_t>(i - first)] = next - previous;
            previous = next;
        }
    }

private:
    // The light left of t, of an emitter spanning lo..hi with unit light.
    static double Cumulative(double t, double lo, double hi, double sigma) {
        return sigma / (hi - lo) * (IntegratedNormal((t - lo) / sigma) - IntegratedNormal((t - hi) / sigma));
    }
};

// The picture of the ideal camera: a pinhole, each wall pixel a uniformly lit square, sRGB, gray.
CameraPicture IdealPhoto(const std::vector<float>& levels, uint32_t width, uint32_t height,
                         const CameraOptions& options, const Pose& pose, const uint32_t lit[4]) {
    CameraPicture picture;
    CameraFrame(options, width, height, picture.width, picture.height);
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
    const double half_w = lit[2] / 2.0, half_h = lit[3] / 2.0;
    for (uint32_t v = 0; v < picture.height; ++v) {
        for (uint32_t u = 0; u < picture.width; ++u) {
            double sum = 0;
            for (int sy = 0; sy < kSubsamples; ++sy) {
                for (int sx = 0; sx < kSubsamples; ++sx) {
                    const double pu = u + (sx + 0.5) / kSubsamples, pv = v + (sy + 0.5) / kSubsamples;
                    const double w = inv[6] * pu + inv[7] * pv + inv[8];
                    const double x = (inv[0] * pu + inv[1] * pv + inv[2]) / w + half_w;
                    const double y = (inv[3] * pu + inv[4] * pv + inv[5]) / w + half_h;
                    if (x >= 0 && y >= 0 && x < lit[2] && y < lit[3]) {
                        const size_t at = static_cast<size_t>(lit[1] + static_cast<uint32_t>(y)) * width +
                                          lit[0] + static_cast<uint32_t>(x);
                        sum += kIdealExposure * levels[at] / 255.0;
                    } else {
                        sum += kIdealSurround;
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
            const double level = 255 * Srgb(light[i] * (1 - options.vignetting * rr * rr)) +
                                 (options.noise > 0 ? options.noise * noise.Gaussian() : 0.0);
            picture.pixels[i] = static_cast<uint8_t>(std::clamp(std::lround(level), 0L, 255L));
        }
    }
    return picture;
}

// Where the wall lies in the frame, row by row: its border mapped through the lens as a polygon of
// many points, and for a row of the frame the span between where that row enters and leaves it.
class WallOutline {
public:
    WallOutline(const Pose& pose, const uint32_t lit[4], uint32_t width, uint32_t height) {
        const double left = -0.5 * lit[2] - lit[0], top = -0.5 * lit[3] - lit[1];
        constexpr int kPoints = 512; // a side
        const double xs[5] = {left, left + width, left + width, left, left};
        const double ys[5] = {top, top, top + height, top + height, top};
        for (int side = 0; side < 4; ++side) {
            for (int k = 0; k < kPoints; ++k) {
                const double t = static_cast<double>(k) / kPoints;
                PointUV p;
                pose.Map(xs[side] + (xs[side + 1] - xs[side]) * t, ys[side] + (ys[side + 1] - ys[side]) * t,
                         p.u, p.v);
                border_.push_back(p);
            }
        }
    }
    // The part of the frame row at height v inside the wall, as u from `from` to `to` (empty when to <=
    // from).
    void Span(double v, double& from, double& to) const {
        from = 1e18, to = -1e18;
        for (size_t i = 0; i < border_.size(); ++i) {
            const PointUV& a = border_[i];
            const PointUV& b = border_[(i + 1) % border_.size()];
            if ((a.v <= v && b.v > v) || (b.v <= v && a.v > v)) {
                const double u = a.u + (v - a.v) / (b.v - a.v) * (b.u - a.u);
                from = std::min(from, u), to = std::max(to, u);
            }
        }
    }

private:
    struct PointUV {
        double u = 0;
        double v = 0;
    };
    std::vector<PointUV> border_;
};

// The light of the lit room over the frame: a slow pattern, separable so that a pixel costs little.
class Room {
public:
    Room(uint32_t width, uint32_t height, double level) : level_(level) {
        for (uint32_t u = 0; u < width; ++u) {
            const double x = (u + 0.5) / width;
            cx_.push_back(std::cos(2 * kPi * (0.7 * x + 0.2)));
            sx_.push_back(std::sin(2 * kPi * 1.3 * x)), kx_.push_back(std::cos(2 * kPi * 1.3 * x));
        }
        for (uint32_t v = 0; v < height; ++v) {
            const double y = (v + 0.5) / height;
            cy_.push_back(std::cos(2 * kPi * (0.5 * y + 0.1)));
            sy_.push_back(std::sin(2 * kPi * 0.9 * y)), ky_.push_back(std::cos(2 * kPi * 0.9 * y));
        }
    }
    // 0.65 + 0.2 cos(...x) cos(...y) + 0.15 sin(1.3 x + 0.9 y), times the room's level.
    double At(uint32_t u, uint32_t v) const {
        return level_ * (0.65 + 0.2 * cx_[u] * cy_[v] + 0.15 * (sx_[u] * ky_[v] + kx_[u] * sy_[v]));
    }

private:
    double level_;
    std::vector<double> cx_, sx_, kx_, cy_, sy_, ky_;
};

// The frame being taken: its size, the pose and lens, and the options.
struct Frame {
    const Pose& pose;
    const CameraOptions& options;
    uint32_t width;
    uint32_t height;
    double Vignette(double u, double v) const {
        const double rr =
            ((u - pose.cx) * (u - pose.cx) + (v - pose.cy) * (v - pose.cy)) / (pose.radius * pose.radius);
        return 1 - options.vignetting * rr;
    }
};

// The room and the wall's dark face, as the lens brings them onto the frame.
std::vector<float> RoomAndFace(const Frame& f, const uint32_t lit[4], uint32_t width, uint32_t height) {
    const uint32_t fw = f.width, fh = f.height;
    std::vector<float> light(static_cast<size_t>(fw) * fh);
    const WallOutline outline(f.pose, lit, width, height);
    const Room room(fw, fh, f.options.room);
    const double face = kFaceReflection * f.options.room;
    for (uint32_t v = 0; v < fh; ++v) {
        double from[2], to[2];
        outline.Span(v + 0.25, from[0], to[0]);
        outline.Span(v + 0.75, from[1], to[1]);
        for (uint32_t u = 0; u < fw; ++u) {
            // The share of the pixel the wall covers, from its two half rows.
            double inside = 0;
            for (int h = 0; h < 2; ++h) {
                inside +=
                    0.5 * std::clamp(std::min<double>(u + 1, to[h]) - std::max<double>(u, from[h]), 0.0, 1.0);
            }
            light[static_cast<size_t>(v) * fw + u] = static_cast<float>(
                f.Vignette(u + 0.5, v + 0.5) * (inside * face + (1 - inside) * room.At(u, v)));
        }
    }
    return light;
}

// Every lit emitter's light, spread by the lens over the sensor's pixels.
void AddEmitters(const Frame& f, const std::vector<float>& levels, uint32_t width, const uint32_t lit[4],
                 std::vector<float>& light) {
    const Pose& pose = f.pose;
    const CameraOptions& options = f.options;
    const uint32_t fw = f.width, fh = f.height;
    const auto vignette = [&](double u, double v) { return f.Vignette(u, v); };
    const Footprint footprint;
    std::vector<double> wx, wy;
    const double ox = -0.5 * lit[2] - lit[0], oy = -0.5 * lit[3] - lit[1];
    const double e = std::clamp(options.emitter, 0.02, 1.0);
    for (uint32_t y = lit[1]; y < lit[1] + lit[3]; ++y) {
        for (uint32_t x = lit[0]; x < lit[0] + lit[2]; ++x) {
            const double level = levels[static_cast<size_t>(y) * width + x] / 255.0;
            if (level <= 0) {
                continue;
            }
            // The emitter's centre and the camera pixels one wall pixel moves it, for its size there.
            double u = 0, v = 0, ux = 0, vx = 0, uy = 0, vy = 0;
            pose.Map(x + 0.5 + ox, y + 0.5 + oy, u, v);
            pose.Map(x + 1.0 + ox, y + 0.5 + oy, ux, vx);
            pose.Map(x + 0.5 + ox, y + 1.0 + oy, uy, vy);
            const double jxx = 2 * (ux - u), jyx = 2 * (vx - v), jxy = 2 * (uy - u), jyy = 2 * (vy - v);
            // An axis-aligned box with the spread of the emitter's turned picture.
            const double bw = e * std::hypot(jxx, jxy), bh = e * std::hypot(jyx, jyy);
            const double rr =
                ((u - pose.cx) * (u - pose.cx) + (v - pose.cy) * (v - pose.cy)) / (pose.radius * pose.radius);
            const double sigma = std::max(0.25, options.blur + options.defocus * rr);
            // The wall pixel's light over its cell in the frame: the mean light of the cell is the level.
            const double flux = level * std::fabs(jxx * jyy - jxy * jyx) * vignette(u, v);
            int64_t fx = 0, fy = 0;
            footprint.Weights(u, bw, sigma, fx, wx);
            footprint.Weights(v, bh, sigma, fy, wy);
            for (size_t j = 0; j < wy.size(); ++j) {
                const int64_t py = fy + static_cast<int64_t>(j);
                if (py < 0 || py >= static_cast<int64_t>(fh) || wy[j] < 1e-7) {
                    continue;
                }
                float* row = &light[static_cast<size_t>(py) * fw];
                const double fj = flux * wy[j];
                for (size_t i = 0; i < wx.size(); ++i) {
                    const int64_t px = fx + static_cast<int64_t>(i);
                    if (px >= 0 && px < static_cast<int64_t>(fw)) {
                        row[px] += static_cast<float>(fj * wx[i]);
                    }
                }
            }
        }
    }
}

// The exposure the camera chooses for what it sees, and the veiling glare over the frame.
double ChooseExposure(const Frame& f, const std::vector<float>& light, float& veil) {
    const CameraOptions& options = f.options;
    const uint32_t fw = f.width, fh = f.height;
    const auto vignette = [&](double u, double v) { return f.Vignette(u, v); };
    double sum = 0, weights = 0;
    for (uint32_t v = 0; v < fh; v += 2) {
        for (uint32_t u = 0; u < fw; u += 2) {
            const double w = 0.5 + 0.5 * vignette(u + 0.5, v + 0.5);
            sum += w * light[static_cast<size_t>(v) * fw + u];
            weights += w;
        }
    }
    const double mean = weights > 0 ? sum / weights : 0;
    veil = static_cast<float>(options.glare * mean);
    std::vector<float> sample;
    for (size_t i = 0; i < light.size(); i += 7) {
        sample.push_back(light[i] + veil);
    }
    const size_t high = sample.size() - 1 - sample.size() / 100;
    std::nth_element(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(high), sample.end());
    double exposure = mean > 0 ? kExposureTarget / (mean + veil) : 1.0;
    if (sample[high] > 0) {
        exposure = std::min(exposure, 0.97 / (sample[high] * kSensitivity[1])); // at most 1 % clipped
    }
    exposure *= std::pow(2.0, options.exposure);

    return exposure;
}

// The sensor: each pixel behind its colour filter (red, green / green, blue), its electrons with their
// shot noise and the read noise; raw values 0..1 in place of the light.
void Sense(const Frame& f, double exposure, float veil, std::vector<float>& light) {
    const CameraOptions& options = f.options;
    const uint32_t fw = f.width, fh = f.height;
    Noise noise(options.seed);
    const auto filter = [&](uint32_t u, uint32_t v) { return options.colour ? (v % 2) + (u % 2) : 1; };
    for (uint32_t v = 0; v < fh; ++v) {
        for (uint32_t u = 0; u < fw; ++u) {
            float& raw = light[static_cast<size_t>(v) * fw + u];
            const double signal = (raw + veil) * exposure * kSensitivity[filter(u, v)];
            double electrons = std::max(0.0, signal) * kFullWell;
            if (options.noise > 0) {
                electrons +=
                    options.noise * std::sqrt(electrons + kReadNoise * kReadNoise) * noise.Gaussian();
            }
            raw = static_cast<float>(std::clamp(electrons / kFullWell, 0.0, 1.0));
        }
    }
}

// White balance, demosaicing (the mean of the nearest pixels behind each filter), the tone curve.
void Develop(const Frame& f, const std::vector<float>& light, CameraPicture& picture) {
    const CameraOptions& options = f.options;
    const uint32_t fw = f.width, fh = f.height;
    const double balance[3] = {(1 + options.white_balance) / kSensitivity[0], 1.0,
                               (1 - options.white_balance) / kSensitivity[2]};
    picture.channels = options.colour ? 3 : 1;
    picture.pixels.assign(static_cast<size_t>(fw) * fh * picture.channels, 0);
    const auto at = [&](int64_t u, int64_t v) {
        u = std::clamp<int64_t>(u, 0, fw - 1), v = std::clamp<int64_t>(v, 0, fh - 1);
        return light[static_cast<size_t>(v) * fw + static_cast<size_t>(u)];
    };
    for (uint32_t v = 0; v < fh; ++v) {
        for (uint32_t u = 0; u < fw; ++u) {
            double rgb[3] = {at(u, v), at(u, v), at(u, v)};
            if (options.colour) {
                double sums[3] = {}, counts[3] = {};
                for (int dv = -1; dv <= 1; ++dv) {
                    for (int du = -1; du <= 1; ++du) {
                        const int64_t pu = static_cast<int64_t>(u) + du, pv = static_cast<int64_t>(v) + dv;
                        const int c = static_cast<int>(((pv % 2 + 2) % 2) + ((pu % 2 + 2) % 2));
                        const int channel = c == 2 ? 2 : c == 0 ? 0 : 1;
                        const double weight = (du == 0 && dv == 0) ? 4.0 : (du == 0 || dv == 0) ? 2.0 : 1.0;
                        sums[channel] += weight * at(pu, pv);
                        counts[channel] += weight;
                    }
                }
                for (int c = 0; c < 3; ++c) {
                    rgb[c] = sums[c] / counts[c] * balance[c];
                }
            }
            for (uint32_t c = 0; c < picture.channels; ++c) {
                const double encoded = ToneCurve(Srgb(rgb[c]), options.tone);
                picture.pixels[(static_cast<size_t>(v) * fw + u) * picture.channels + c] =
                    static_cast<uint8_t>(std::lround(255 * encoded));
            }
        }
    }
}

// Sharpening of the stored values, as the camera does before it compresses them.
void Sharpen(double amount, CameraPicture& picture) {
    const uint32_t fw = picture.width, fh = picture.height;
    if (amount > 0) {
        const size_t stride = static_cast<size_t>(fw) * picture.channels;
        std::vector<uint8_t> rows(3 * stride);
        const auto copy_row = [&](uint32_t v) {
            std::copy_n(&picture.pixels[static_cast<size_t>(std::min(v, fh - 1)) * stride], stride,
                        &rows[(v % 3) * stride]);
        };
        copy_row(0);
        copy_row(1);
        for (uint32_t v = 0; v < fh; ++v) {
            copy_row(v + 1);
            const uint8_t* above = &rows[((v == 0 ? 0 : v - 1) % 3) * stride];
            const uint8_t* here = &rows[(v % 3) * stride];
            const uint8_t* below = &rows[((v + 1 < fh ? v + 1 : v) % 3) * stride];
            for (uint32_t u = 0; u < fw; ++u) {
                for (uint32_t c = 0; c < picture.channels; ++c) {
                    const size_t l = (u == 0 ? u : u - 1) * picture.channels + c,
                                 m = u * picture.channels + c,
                                 r = (u + 1 < fw ? u + 1 : u) * picture.channels + c;
                    const double smooth = (4.0 * here[m] + 2.0 * (here[l] + here[r] + above[m] + below[m]) +
                                           above[l] + above[r] + below[l] + below[r]) /
                                          16.0;
                    const double sharp = here[m] + amount * (here[m] - smooth);
                    picture.pixels[static_cast<size_t>(v) * stride + m] =
                        static_cast<uint8_t>(std::clamp(std::lround(sharp), 0L, 255L));
                }
            }
        }
    }
}

} // namespace

double IntegratedNormal(double x) {
    // Tabulated over -8 .. 8 in steps of 1/256 and interpolated: it is called some ten times for every
    // emitter of the wall. Beyond, it is 0 and x within a double's precision.
    struct Table {
        double v[4097];
        Table() {
            for (int i = 0; i <= 4096; ++i) {
                const double t = -8 + i / 256.0;
                v[i] = t * 0.5 * std::erfc(-t / std::sqrt(2.0)) + std::exp(-0.5 * t * t) / std::sqrt(2 * kPi);
            }
        }
    };
    static const Table table;
    if (x <= -8) {
        return 0;
    }
    if (x >= 8) {
        return x;
    }
    const double at = (x + 8) * 256;
    const int i = std::min(4095, static_cast<int>(at));
    return table.v[i] + (table.v[i + 1] - table.v[i]) * (at - i);
}

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

uint64_t CameraBytes(uint32_t frame_width, uint32_t frame_height) {
    // The light (a float a pixel), the picture (three bytes) and a few rows.
    return static_cast<uint64_t>(frame_width) * frame_height * 8 + 64 * static_cast<uint64_t>(frame_width);
}

CameraPicture TakePhoto(const std::vector<float>& levels, uint32_t width, uint32_t height,
                        const CameraOptions& options) {
    uint32_t lit[4];
    LitPart(options, width, height, lit);
    CameraPicture picture;
    CameraFrame(options, width, height, picture.width, picture.height);
    const double scale = Scale(options, width, height);
    Pose pose = MakePose(options, lit[2], lit[3], scale);
    pose.cx = picture.width / 2.0;
    pose.cy = picture.height / 2.0;
    if (options.ideal) {
        CameraPicture ideal = IdealPhoto(levels, width, height, options, pose, lit);
        ideal.pixels_per_wall_pixel = scale;
        return ideal;
    }
    picture.pixels_per_wall_pixel = scale;
    pose.radius = std::hypot(pose.cx, pose.cy);
    pose.k1 = options.k1;
    pose.k2 = options.k2;
    const Frame frame{pose, options, picture.width, picture.height};
    std::vector<float> light = RoomAndFace(frame, lit, width, height);
    AddEmitters(frame, levels, width, lit, light);
    float veil = 0;
    const double exposure = ChooseExposure(frame, light, veil);
    Sense(frame, exposure, veil, light);
    Develop(frame, light, picture);
    Sharpen(options.sharpen, picture);
    return picture;
}

} // namespace ledsim
