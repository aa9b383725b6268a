#pragma once

// The simulator as a wall with seams: modules tile the screen from its top-left pixel, and every join
// between two neighbouring modules has a brightness factor (a gap too wide shows darker, too narrow
// brighter) that applies to the two facing edge lines of pixels, whole module edges.

#include <cstdint>
#include <string>
#include <vector>

namespace ledsim {

// One join given by hand: the join right of, or below, module (column, row).
struct JoinFactor {
    uint32_t column = 0;
    uint32_t row = 0;
    bool below = false;
    float factor = 1.0f;
};

// The wall as a topology describes it. With `random`, each join draws from a generator seeded with
// `seed`: with probability `share` a factor uniform in [low, high], else 1.0; the same seed gives the
// same wall on every machine. Joins given by hand override the drawn ones.
struct WallDescription {
    uint16_t module_width = 0; // 0: no wall model, no seams
    uint16_t module_height = 0;
    bool random = false;
    uint64_t seed = 0;
    float low = 1.0f;
    float high = 1.0f;
    double share = 1.0;
    std::vector<JoinFactor> joins;
};

struct Wall {
    uint32_t module_width = 0;
    uint32_t module_height = 0;
    uint32_t columns = 0;     // modules across
    uint32_t rows = 0;        // modules down
    std::vector<float> right; // [row * columns + column]: the join right of the module (1.0 at the edge)
    std::vector<float> below; // the join below the module

    float Right(uint32_t c, uint32_t r) const { return right[static_cast<size_t>(r) * columns + c]; }
    float Below(uint32_t c, uint32_t r) const { return below[static_cast<size_t>(r) * columns + c]; }
    // The product of the factors of the joins a pixel's module edges face.
    float Factor(uint32_t x, uint32_t y) const;
};

// The joins of the modules covering width x height pixels; none without a module size.
Wall MakeWall(const WallDescription& described, uint32_t width, uint32_t height);

// The inspection form of a wall: module width and height, columns, rows (big-endian 32-bit), then the
// factors as IEEE singles, right joins and then below joins, row-major.
std::vector<uint8_t> EncodeWall(const Wall& wall);
bool DecodeWall(const std::vector<uint8_t>& bytes, Wall& wall);

// What a card contributes to the picture: where it is, whether its correction is on, what it holds.
struct CardPicture {
    uint32_t first_row = 0;
    uint32_t first_column = 0;
    uint32_t rows = 0;
    uint32_t columns = 0;
    bool correction_on = false;
    std::vector<uint8_t> memory; // stride x rows, each 32-bit word's bytes reversed, as the card holds it
};

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels; // gray levels, row-major
    std::vector<float> levels;   // the same before rounding, for the camera
    double residual_percent = 0; // the largest deviation of an edge line's mean from the field
    bool residual_brighter = false;
    std::string residual_join; // which join that line faces, "" when there is none
    // The join as the tool names its two module edges, and a pixel of the pattern window (the picture's
    // own coordinates) whose click selects it there.
    std::string residual_edges;
    uint32_t residual_click_x = 0;
    uint32_t residual_click_y = 0;
};

// The picture the wall shows for a uniform gray input: per pixel the gray level times the join factor
// where a seam is, times the card's coefficient / 128 when its correction is on, through the gamma,
// clipped to 0..255. With `input` (width x height gray levels, row-major) each pixel takes its own level
// from it instead of `gray`: what the desktop shows on the wall, such as the pattern window.
Picture RenderWall(const Wall& wall, const std::vector<CardPicture>& cards, uint32_t width, uint32_t height,
                   double gray, double gamma, const std::vector<float>* input = nullptr);

} // namespace ledsim
