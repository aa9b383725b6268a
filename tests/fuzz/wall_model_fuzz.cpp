// The wall model as `ledsim render` reads it from a controller: any bytes are refused or give a wall
// whose every module and join can be looked up.
#include "tools/ledsim/wall.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ledsim::Wall wall;
    if (!ledsim::DecodeWall(std::vector<uint8_t>(data, data + size), wall)) {
        return 0;
    }
    // Every pixel's factor over the modules the model claims, one pixel per module edge.
    for (uint32_t r = 0; r < wall.rows && r < 64; ++r) {
        for (uint32_t c = 0; c < wall.columns && c < 64; ++c) {
            const uint32_t x = c * wall.module_width;
            const uint32_t y = r * wall.module_height;
            wall.Factor(x, y);
            wall.Factor(x + wall.module_width - 1, y + wall.module_height - 1);
        }
    }
    return 0;
}
