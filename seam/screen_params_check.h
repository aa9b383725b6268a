#pragma once

#include "seam/screen_params.h"

// The first field whose value the pattern, the upload or the read-back cannot use, as an operator
// message naming it ("Module width (edt_mod_width) must be 1 or more."), or null when all are usable:
// module sizes of at least 1, no negative screen or box size, a gray level within 0..255.
const char* UnusableScreenParam(const ScreenParams& params);
