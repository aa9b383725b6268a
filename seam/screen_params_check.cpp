#include "seam/screen_params_check.h"

const char* UnusableScreenParam(const ScreenParams& p) {
    // In the order of the form, so the operator is sent to the first field that needs fixing.
    if (p.screen_width < 0) {
        return "Screen width (edt_screen_width) must not be negative.";
    }
    if (p.screen_height < 0) {
        return "Screen height (edt_screen_height) must not be negative.";
    }
    if (p.box_width < 0) {
        return "Box width (edt_box_width) must not be negative.";
    }
    if (p.box_height < 0) {
        return "Box height (edt_box_height) must not be negative.";
    }
    if (p.mod_width < 1) {
        return "Module width (edt_mod_width) must be 1 or more.";
    }
    if (p.mod_height < 1) {
        return "Module height (edt_mod_height) must be 1 or more.";
    }
    if (p.gray_scale < 0 || p.gray_scale > 255) {
        return "Gray level (edt_gray_scale) must be from 0 to 255.";
    }
    return nullptr;
}

bool ScreenLiesOnDesktop(const ScreenParams& p, const DesktopRect& d) {
    // In 64 bits: a start near the 32-bit limit plus a width must not wrap onto the desktop.
    const int64_t right = static_cast<int64_t>(p.start_x) + p.screen_width;
    const int64_t bottom = static_cast<int64_t>(p.start_y) + p.screen_height;
    return p.screen_width > 0 && p.screen_height > 0 && p.start_x >= d.left && p.start_y >= d.top &&
           right <= static_cast<int64_t>(d.left) + d.width &&
           bottom <= static_cast<int64_t>(d.top) + d.height;
}
