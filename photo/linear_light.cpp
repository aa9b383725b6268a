#include "photo/linear_light.h"

namespace {

struct Table {
    float v[256];
    Table() {
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            v[i] = static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
    }
};

} // namespace

const float* SrgbToLinearTable() {
    static const Table table;
    return table.v;
}

double LinearToSrgb(double linear) {
    if (linear <= 0) {
        return 0;
    }
    if (linear >= 1) {
        return 255;
    }
    const double c = linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return c * 255.0;
}
