#pragma once

#include <cstdint>

// The operator's description of the LED screen. The same 48 bytes head every seam file, so the field
// order and widths are fixed; files are written field by field, never by copying this struct.
struct ScreenParams {
    int32_t screen_width = 0;
    int32_t screen_height = 0;
    int32_t start_x = 0;
    int32_t start_y = 0;
    int32_t box_width = 0;
    int32_t box_height = 0;
    int32_t mod_width = 0;
    int32_t mod_height = 0;
    int32_t gray_scale = 0;
    int32_t reserved = 0; // alignment gap before the double; carries no meaning
    double gamma = 0.0;
};

static_assert(sizeof(ScreenParams) == 48, "ScreenParams is the 48-byte seam-file header");
