#include "tools/ledsim/wall.h"

#include "lib/baselib/byte_order.h"

#include <cmath>
#include <cstdio>

namespace ledsim {

namespace {

// splitmix64: a generator whose sequence is fixed by its seed on every compiler and library.
class Generator {
public:
    explicit Generator(uint64_t seed) : state_(seed) {}
    double Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) / 9007199254740992.0; // [0, 1)
    }

private:
    uint64_t state_;
};

double Mapped(double level, double gamma) {
    if (level <= 0) {
        return 0;
    }
    const double out = gamma == 1.0 ? level : 255.0 * std::pow(level / 255.0, 1.0 / gamma);
    return out > 255.0 ? 255.0 : out;
}

} // namespace

float Wall::Factor(uint32_t x, uint32_t y) const {
    if (module_width == 0 || module_height == 0) {
        return 1.0f;
    }
    const uint32_t c = x / module_width;
    const uint32_t r = y / module_height;
    if (c >= columns || r >= rows) {
        return 1.0f;
    }
    const uint32_t xr = x % module_width;
    const uint32_t yr = y % module_height;
    float f = 1.0f;
    if (xr == module_width - 1) {
        f *= Right(c, r);
    }
    if (xr == 0 && c > 0) {
        f *= Right(c - 1, r);
    }
    if (yr == module_height - 1) {
        f *= Below(c, r);
    }
    if (yr == 0 && r > 0) {
        f *= Below(c, r - 1);
    }
    return f;
}

Wall MakeWall(const WallDescription& described, uint32_t width, uint32_t height) {
    Wall wall;
    if (described.module_width == 0 || described.module_height == 0) {
        return wall;
    }
    wall.module_width = described.module_width;
    wall.module_height = described.module_height;
    wall.columns = (width + described.module_width - 1) / described.module_width;
    wall.rows = (height + described.module_height - 1) / described.module_height;
    const size_t modules = static_cast<size_t>(wall.columns) * wall.rows;
    if (modules == 0) {
        return wall;
    }
    wall.right.assign(modules, 1.0f);
    wall.below.assign(modules, 1.0f);
    if (described.random) {
        Generator g(described.seed);
        for (std::vector<float>* joins : {&wall.right, &wall.below}) {
            for (float& f : *joins) {
                const double pick = g.Next();
                const double where = g.Next();
                if (pick < described.share) {
                    f = static_cast<float>(described.low + (described.high - described.low) * where);
                }
            }
        }
    }
    for (const JoinFactor& j : described.joins) {
        if (j.column < wall.columns && j.row < wall.rows) {
            (j.below ? wall.below : wall.right)[static_cast<size_t>(j.row) * wall.columns + j.column] =
                j.factor;
        }
    }
    // The outer border faces no neighbour.
    for (uint32_t r = 0; r < wall.rows; ++r) {
        wall.right[static_cast<size_t>(r) * wall.columns + wall.columns - 1] = 1.0f;
    }
    for (uint32_t c = 0; c < wall.columns; ++c) {
        wall.below[static_cast<size_t>(wall.rows - 1) * wall.columns + c] = 1.0f;
    }
    return wall;
}

std::vector<uint8_t> EncodeWall(const Wall& wall) {
    std::vector<uint8_t> out(16 + 4 * (wall.right.size() + wall.below.size()));
    PutBE32(&out[0], wall.module_width);
    PutBE32(&out[4], wall.module_height);
    PutBE32(&out[8], wall.columns);
    PutBE32(&out[12], wall.rows);
    size_t p = 16;
    for (const std::vector<float>* joins : {&wall.right, &wall.below}) {
        for (float f : *joins) {
            PutBE32(&out[p], FloatBits(f));
            p += 4;
        }
    }
    return out;
}

bool DecodeWall(const std::vector<uint8_t>& bytes, Wall& wall) {
    if (bytes.size() < 16) {
        return false;
    }
    wall = Wall{};
    wall.module_width = GetBE32(&bytes[0]);
    wall.module_height = GetBE32(&bytes[4]);
    wall.columns = GetBE32(&bytes[8]);
    wall.rows = GetBE32(&bytes[12]);
    const uint64_t modules = static_cast<uint64_t>(wall.columns) * wall.rows;
    // Compared by division: 8 x a count of 2^61 modules or more wraps to a small size.
    if ((bytes.size() - 16) % 8 != 0 || modules != (bytes.size() - 16) / 8 ||
        (modules != 0 && (wall.module_width == 0 || wall.module_height == 0))) {
        return false;
    }
    size_t p = 16;
    for (std::vector<float>* joins : {&wall.right, &wall.below}) {
        joins->resize(static_cast<size_t>(modules));
        for (float& f : *joins) {
            f = BitsFloat(GetBE32(&bytes[p]));
            p += 4;
        }
    }
    return true;
}

namespace {

// The coefficient of every pixel, 128 where no card covers it or its correction is off.
std::vector<uint8_t> PixelCoefficients(const std::vector<CardPicture>& cards, uint32_t width,
                                       uint32_t height) {
    std::vector<uint8_t> coefficient(static_cast<size_t>(width) * height, 128);
    for (const CardPicture& card : cards) {
        if (!card.correction_on) {
            continue;
        }
        const uint32_t stride = (card.columns + 3) / 4 * 4;
        for (uint32_t r = 0; r < card.rows && card.first_row + r < height; ++r) {
            for (uint32_t x = 0; x < card.columns && card.first_column + x < width; ++x) {
                const size_t at = static_cast<size_t>(r) * stride + (x ^ 3u);
                if (at < card.memory.size()) {
                    coefficient[static_cast<size_t>(card.first_row + r) * width + card.first_column + x] =
                        card.memory[at];
                }
            }
        }
    }
    return coefficient;
}

// The largest deviation of a join's edge line, each a whole module edge inside the picture, from what
// the input asks of the same pixels (`asked`, the level each pixel would show without seams or cards).
template <typename Asked>
void MeasureResidual(const Wall& wall, const std::vector<double>& levels, uint32_t width, uint32_t height,
                     Asked asked, Picture& picture) {
    const auto line_mean = [&](uint32_t x0, uint32_t y0, bool vertical, double& wanted) {
        double sum = 0, want = 0;
        uint32_t n = 0;
        for (uint32_t k = 0; k < (vertical ? wall.module_height : wall.module_width); ++k) {
            const uint32_t x = vertical ? x0 : x0 + k;
            const uint32_t y = vertical ? y0 + k : y0;
            if (x < width && y < height) {
                sum += levels[static_cast<size_t>(y) * width + x];
                want += asked(static_cast<size_t>(y) * width + x);
                ++n;
            }
        }
        wanted = n == 0 ? 0 : want / n;
        return n == 0 ? 0 : sum / n;
    };
    for (uint32_t r = 0; r < wall.rows; ++r) {
        for (uint32_t c = 0; c < wall.columns; ++c) {
            const uint32_t left = c * wall.module_width;
            const uint32_t top = r * wall.module_height;
            const struct {
                bool present;
                uint32_t x0, y0, x1, y1;
                bool vertical;
                const char* side;
            } joins[2] = {{c + 1 < wall.columns, left + wall.module_width - 1, top, left + wall.module_width,
                           top, true, "right of"},
                          {r + 1 < wall.rows, left, top + wall.module_height - 1, left,
                           top + wall.module_height, false, "below"}};
            for (const auto& j : joins) {
                for (int k = 0; k < 2 && j.present; ++k) {
                    double wanted = 0;
                    const double mean =
                        line_mean(k == 0 ? j.x0 : j.x1, k == 0 ? j.y0 : j.y1, j.vertical, wanted);
                    const double deviation = wanted > 0 ? std::fabs(mean - wanted) / wanted * 100.0 : 0;
                    if (deviation > picture.residual_percent) {
                        picture.residual_percent = deviation;
                        picture.residual_brighter = mean > wanted;
                        char name[96];
                        std::snprintf(name, sizeof(name), "the join %s module (%u, %u)", j.side, c, r);
                        picture.residual_join = name;
                        // The first pixel of the module after the join, halfway along it: inside the
                        // triangle of the edge that faces the join, where the tool's click selects it.
                        std::snprintf(name, sizeof(name),
                                      "the %s edge of module (%u, %u) and the %s edge of module (%u, %u)",
                                      j.vertical ? "right" : "bottom", c, r, j.vertical ? "left" : "top",
                                      j.vertical ? c + 1 : c, j.vertical ? r : r + 1);
                        picture.residual_edges = name;
                        picture.residual_click_x = j.vertical ? j.x1 : left + wall.module_width / 2;
                        picture.residual_click_y = j.vertical ? top + wall.module_height / 2 : j.y1;
                    }
                }
            }
        }
    }
}

} // namespace

Picture RenderWall(const Wall& wall, const std::vector<CardPicture>& cards, uint32_t width, uint32_t height,
                   double gray, double gamma, const std::vector<float>* input) {
    if (input != nullptr && input->size() != static_cast<size_t>(width) * height) {
        input = nullptr;
    }
    const auto fed = [&](size_t i) { return input != nullptr ? static_cast<double>((*input)[i]) : gray; };
    const std::vector<uint8_t> coefficient = PixelCoefficients(cards, width, height);
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(coefficient.size());
    picture.levels.resize(coefficient.size());
    std::vector<double> levels(coefficient.size());
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const double level = Mapped(fed(i) * wall.Factor(x, y) * coefficient[i] / 128.0, gamma);
            levels[i] = level;
            picture.levels[i] = static_cast<float>(level);
            picture.pixels[i] = static_cast<uint8_t>(std::lround(level));
        }
    }
    MeasureResidual(
        wall, levels, width, height, [&](size_t i) { return Mapped(fed(i), gamma); }, picture);
    return picture;
}

} // namespace ledsim
