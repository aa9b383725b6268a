#include "seam/screen_params_check.h"

#include <gtest/gtest.h>

#include <string>

namespace {

ScreenParams Usable() {
    ScreenParams p;
    p.screen_width = 320;
    p.screen_height = 240;
    p.mod_width = 64;
    p.mod_height = 48;
    p.gray_scale = 128;
    p.gamma = 2.2;
    return p;
}

} // namespace

TEST(ScreenParamsCheck, NamesTheFirstUnusableField) {
    EXPECT_EQ(nullptr, UnusableScreenParam(Usable()));
    struct Case {
        int32_t ScreenParams::*field;
        int32_t value;
        const char* named; // nullptr: usable
    };
    const Case cases[] = {
        {&ScreenParams::mod_width, 0, "edt_mod_width"},
        {&ScreenParams::mod_height, -4, "edt_mod_height"},
        {&ScreenParams::gray_scale, -1, "edt_gray_scale"},
        {&ScreenParams::gray_scale, 256, "edt_gray_scale"},
        {&ScreenParams::gray_scale, 0, nullptr},
        {&ScreenParams::gray_scale, 255, nullptr},
        {&ScreenParams::screen_width, -320, "edt_screen_width"},
        {&ScreenParams::screen_height, -1, "edt_screen_height"},
        {&ScreenParams::box_width, -1, "edt_box_width"},
        {&ScreenParams::box_height, -1, "edt_box_height"},
        {&ScreenParams::screen_width, 0, nullptr},
        {&ScreenParams::screen_width, -1, "edt_screen_width"},
        {&ScreenParams::screen_height, 0, nullptr},
        {&ScreenParams::start_x, -1920, nullptr},
        {&ScreenParams::mod_width, 1, nullptr},
        {&ScreenParams::mod_height, 1, nullptr},
        {&ScreenParams::mod_height, 0, "edt_mod_height"},
    };
    for (const Case& c : cases) {
        ScreenParams p = Usable();
        p.*(c.field) = c.value;
        const char* message = UnusableScreenParam(p);
        if (c.named == nullptr) {
            EXPECT_EQ(nullptr, message) << c.value;
        } else {
            ASSERT_NE(nullptr, message) << c.named;
            EXPECT_NE(std::string::npos, std::string(message).find(c.named)) << message;
        }
    }
    ScreenParams two = Usable();
    two.mod_width = 0;
    two.gray_scale = 300;
    EXPECT_NE(std::string::npos, std::string(UnusableScreenParam(two)).find("edt_mod_width"));
}
