#pragma once

#include "seam/screen_params.h"

#include <cstdint>

// The first field whose value the pattern, the upload or the read-back cannot use, as an operator
// message naming it ("Module width (edt_mod_width) must be 1 or more."), or null when all are usable:
// module sizes of at least 1, no negative screen or box size, a gray level within 0..255.
const char* UnusableScreenParam(const ScreenParams& params);

// The desktop's virtual screen: the rectangle around all of its monitors.
struct DesktopRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// True when the screen's rectangle (start_x, start_y, screen_width x screen_height) is not empty and lies
// wholly on the desktop. A pattern window anywhere else opens modally where nobody sees it.
bool ScreenLiesOnDesktop(const ScreenParams& params, const DesktopRect& desktop);
