#include "photo/photo_picture.h"

#include "lib/baselib/memory_budget.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_FAILURE_STRINGS
#include <stb/stb_image.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

GrayPhoto::GrayPhoto(uint32_t width, uint32_t height, std::vector<uint8_t> pixels)
    : width_(width), height_(height), owned_(std::move(pixels)), data_(owned_.data()) {}

namespace {

uint32_t Big16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
}
uint32_t Big32(const uint8_t* p) {
    return Big16(p) << 16 | Big16(p + 2);
}
uint32_t Little32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The decoder trusts a JPEG's Huffman tables to hold at most 256 codes each; a file that claims more
// would make it write past its tables. Such files are refused before they reach it. The walk follows
// the decoder's own reading of the segments, and of the entropy-coded data between them.
bool JpegTablesFit(const uint8_t* bytes, size_t size) {
    size_t p = 2;
    while (p + 4 <= size) {
        if (bytes[p] != 0xFF) {
            ++p; // entropy-coded data: up to the next marker
            continue;
        }
        const uint8_t marker = bytes[p + 1];
        if (marker == 0xFF || marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            p += marker == 0xFF ? 1 : 2;
            continue;
        }
        if (marker == 0xD9) {
            return true;
        }
        const size_t length = Big16(bytes + p + 2);
        if (marker == 0xC4) {
            long left = static_cast<long>(length) - 2;
            size_t q = p + 4;
            while (left > 0) {
                if (q + 17 > size) {
                    return true; // the decoder runs out of data and stops
                }
                size_t codes = 0;
                for (size_t i = 1; i <= 16; ++i) {
                    codes += bytes[q + i];
                }
                if (codes > 256) {
                    return false;
                }
                q += 17 + codes;
                left -= static_cast<long>(17 + codes);
            }
            if (left != 0) {
                return true; // the decoder refuses the segment
            }
            p = q;
            continue;
        }
        p += 2 + length;
    }
    return true;
}

// A colour photo of a gray wall as one gray value a pixel. A camera's Bayer filter samples red and
// blue on every other row and column, green on the rest: the emitters' dots alias in red and blue as
// false colours opposite to each other, and in its luma (which weighs red and blue unequally) as moire
// fringes. The mean of red, twice green and blue, each first balanced to the wall's white, is what
// every 2 x 2 cell of the sensor saw: there the false colours cancel.
class ColourBalance {
public:
    ColourBalance() {
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            linear_[i] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        }
        for (int i = 0; i < kSteps; ++i) {
            const double l = static_cast<double>(i) / (kSteps - 1);
            const double c = l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
            encoded_[i] = static_cast<uint8_t>(std::lround(255 * c));
        }
    }
    // Adds one pixel to the white's estimate: the bright half of the picture is the wall.
    void Observe(uint8_t r, uint8_t g, uint8_t b) {
        if (g >= 64) {
            sum_[0] += linear_[r], sum_[1] += linear_[g], sum_[2] += linear_[b];
        }
    }
    void Settle() {
        gain_[0] = sum_[0] > 0 && sum_[1] > 0 ? sum_[1] / sum_[0] : 1.0;
        gain_[2] = sum_[2] > 0 && sum_[1] > 0 ? sum_[1] / sum_[2] : 1.0;
    }
    uint8_t Gray(uint8_t r, uint8_t g, uint8_t b) const {
        const double l = 0.25 * (gain_[0] * linear_[r] + 2 * linear_[g] + gain_[2] * linear_[b]);
        return encoded_[static_cast<size_t>(std::lround(std::clamp(l, 0.0, 1.0) * (kSteps - 1)))];
    }

private:
    static constexpr int kSteps = 1 << 14;
    double linear_[256];
    uint8_t encoded_[kSteps];
    double sum_[3] = {};
    double gain_[3] = {1, 1, 1};
};

// The red, green and blue of a JPEG's YCbCr values, as the JFIF standard converts them.
void YccToRgb(int y, int cb, int cr, uint8_t rgb[3]) {
    const double r = y + 1.402 * (cr - 128), g = y - 0.344136 * (cb - 128) - 0.714136 * (cr - 128),
                 b = y + 1.772 * (cb - 128);
    rgb[0] = static_cast<uint8_t>(std::clamp(std::lround(r), 0L, 255L));
    rgb[1] = static_cast<uint8_t>(std::clamp(std::lround(g), 0L, 255L));
    rgb[2] = static_cast<uint8_t>(std::clamp(std::lround(b), 0L, 255L));
}

// The wall's white from the planes at the chroma's own resolution.
void ObserveWhite(const stbi__jpeg& z, bool is_rgb, ColourBalance& balance) {
    const auto* planes = z.img_comp;
    const int hs = z.img_h_max / planes[1].h, vs = z.img_v_max / planes[1].v;
    for (int j = 0; j < planes[1].y; ++j) {
        for (int i = 0; i < planes[1].x; ++i) {
            const int y =
                planes[0].data[static_cast<size_t>(j * vs) * planes[0].w2 + static_cast<size_t>(i * hs)];
            const int a = planes[1].data[static_cast<size_t>(j) * planes[1].w2 + i];
            const int b = planes[2].data[static_cast<size_t>(j) * planes[2].w2 + i];
            uint8_t rgb[3] = {static_cast<uint8_t>(y), static_cast<uint8_t>(a), static_cast<uint8_t>(b)};
            if (!is_rgb) {
                YccToRgb(y, a, b, rgb);
            }
            balance.Observe(rgb[0], rgb[1], rgb[2]);
        }
    }
}

// Component k's row upsampler, as the decoder sets it up for its own output.
bool SetUpResampler(stbi__jpeg& z, int k, uint32_t w, stbi__resample& r) {
    z.img_comp[k].linebuf = static_cast<stbi_uc*>(stbi__malloc(w + 3));
    r.hs = z.img_h_max / z.img_comp[k].h;
    r.vs = z.img_v_max / z.img_comp[k].v;
    r.ystep = r.vs >> 1;
    r.w_lores = (static_cast<int>(w) + r.hs - 1) / r.hs;
    r.ypos = 0;
    r.line0 = r.line1 = z.img_comp[k].data;
    r.resample = r.hs == 1 && r.vs == 1   ? resample_row_1
                 : r.hs == 1 && r.vs == 2 ? stbi__resample_row_v_2
                 : r.hs == 2 && r.vs == 1 ? stbi__resample_row_h_2
                 : r.hs == 2 && r.vs == 2 ? z.resample_row_hv_2_kernel
                                          : stbi__resample_row_generic;
    return z.img_comp[k].linebuf != nullptr;
}

// A three-component JPEG decoded straight into balanced gray: its planes are upsampled a row at a
// time, so that the picture never exists as full-size RGB (a 24-megapixel photo would need 72 MB more).
// Null when the file is not such a JPEG, or is damaged.
uint8_t* DecodeJpegBalanced(const uint8_t* bytes, size_t size, int& width, int& height) {
    stbi__context context;
    stbi__start_mem(&context, bytes, static_cast<int>(size));
    auto* z = static_cast<stbi__jpeg*>(stbi__malloc(sizeof(stbi__jpeg)));
    if (z == nullptr) {
        return nullptr;
    }
    z->s = &context;
    stbi__setup_jpeg(z);
    z->s->img_n = 0;
    if (!stbi__decode_jpeg_image(z) || z->s->img_n != 3) {
        stbi__cleanup_jpeg(z);
        STBI_FREE(z);
        return nullptr;
    }
    const bool is_rgb = z->rgb == 3 || (z->app14_color_transform == 0 && !z->jfif);
    const uint32_t w = z->s->img_x, h = z->s->img_y;
    ColourBalance balance;
    ObserveWhite(*z, is_rgb, balance);
    balance.Settle();
    auto* gray = static_cast<uint8_t*>(stbi__malloc_mad2(static_cast<int>(w), static_cast<int>(h), 0));
    std::vector<uint8_t> row(3 * static_cast<size_t>(w) +
                             1); // the converter writes a fourth byte past each pixel
    stbi__resample res[3];
    bool ok = gray != nullptr;
    for (int k = 0; k < 3 && ok; ++k) {
        ok = SetUpResampler(*z, k, w, res[k]);
    }
    for (uint32_t j = 0; j < h && ok; ++j) {
        stbi_uc* line[3];
        for (int k = 0; k < 3; ++k) {
            stbi__resample* r = &res[k];
            const int y_bot = r->ystep >= (r->vs >> 1);
            line[k] = r->resample(z->img_comp[k].linebuf, y_bot ? r->line1 : r->line0,
                                  y_bot ? r->line0 : r->line1, r->w_lores, r->hs);
            if (++r->ystep >= r->vs) {
                r->ystep = 0;
                r->line0 = r->line1;
                if (++r->ypos < z->img_comp[k].y) {
                    r->line1 += z->img_comp[k].w2;
                }
            }
        }
        if (is_rgb) {
            for (uint32_t i = 0; i < w; ++i) {
                row[3 * i] = line[0][i], row[3 * i + 1] = line[1][i], row[3 * i + 2] = line[2][i];
            }
        } else {
            z->YCbCr_to_RGB_kernel(row.data(), line[0], line[1], line[2], static_cast<int>(w), 3);
        }
        uint8_t* out = gray + static_cast<size_t>(j) * w;
        for (uint32_t i = 0; i < w; ++i) {
            out[i] = balance.Gray(row[3 * i], row[3 * i + 1], row[3 * i + 2]);
        }
    }
    stbi__cleanup_jpeg(z);
    STBI_FREE(z);
    if (!ok) {
        STBI_FREE(gray);
        return nullptr;
    }
    width = static_cast<int>(w), height = static_cast<int>(h);
    return gray;
}

// Any other colour picture: decoded as RGB, then made balanced gray.
uint8_t* DecodeOtherBalanced(const uint8_t* bytes, size_t size, int& width, int& height) {
    int n = 0;
    uint8_t* rgb = stbi_load_from_memory(bytes, static_cast<int>(size), &width, &height, &n, 3);
    if (rgb == nullptr) {
        return nullptr;
    }
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    ColourBalance balance;
    for (size_t i = 0; i < pixels; i += 3) {
        balance.Observe(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    }
    balance.Settle();
    for (size_t i = 0; i < pixels; ++i) { // in place: pixel i's gray goes where its red was read
        rgb[i] = balance.Gray(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    }
    return rgb; // the first third holds the picture; the rest goes with it
}

} // namespace

bool ReadPictureHeader(const uint8_t* bytes, size_t size, uint32_t& width, uint32_t& height, int& channels) {
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 29 && std::equal(kPng, kPng + 8, bytes) && std::equal(bytes + 12, bytes + 16, "IHDR")) {
        width = Big32(bytes + 16);
        height = Big32(bytes + 20);
        const uint8_t colour = bytes[25];
        channels = colour == 0 ? 1 : colour == 4 ? 2 : colour == 6 ? 4 : 3;
        return width != 0 && height != 0;
    }
    if (size >= 30 && bytes[0] == 'B' && bytes[1] == 'M') {
        const int32_t w = static_cast<int32_t>(Little32(bytes + 18)),
                      h = static_cast<int32_t>(Little32(bytes + 22));
        width = static_cast<uint32_t>(w < 0 ? -static_cast<int64_t>(w) : w);
        height = static_cast<uint32_t>(h < 0 ? -static_cast<int64_t>(h) : h);
        channels = bytes[28] == 32 ? 4 : 3;
        return width != 0 && height != 0;
    }
    if (size >= 4 && bytes[0] == 0xFF && bytes[1] == 0xD8) {
        // Segments up to the frame header (SOF0 .. SOF15 but for the tables C4, C8 and CC).
        size_t p = 2;
        while (p + 4 <= size) {
            if (bytes[p] != 0xFF) {
                return false;
            }
            const uint8_t marker = bytes[p + 1];
            if (marker == 0xFF) {
                ++p;
                continue;
            }
            const size_t length = Big16(bytes + p + 2);
            if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
                if (p + 10 > size || length < 8) {
                    return false;
                }
                height = Big16(bytes + p + 5);
                width = Big16(bytes + p + 7);
                channels = bytes[p + 9];
                return width != 0 && height != 0 && channels > 0;
            }
            if (length < 2) {
                return false;
            }
            p += 2 + length;
        }
    }
    return false;
}

uint64_t PhotoDecodeBytes(uint64_t file_bytes, uint32_t width, uint32_t height, int channels) {
    // The decoders hold the file, up to two full-size copies at the file's channel count (a PNG's
    // inflated rows and its unfiltered image) and the gray result; 64 KB covers their tables.
    uint64_t pixels = 0;
    if (!MultiplyBytes(width, height, pixels)) {
        return UINT64_MAX;
    }
    const uint64_t per_pixel = 2u * static_cast<uint64_t>(channels < 1 ? 4 : channels) + 1u;
    uint64_t image = 0;
    if (!MultiplyBytes(pixels, per_pixel, image) || image > UINT64_MAX - file_bytes - 65536) {
        return UINT64_MAX;
    }
    return image + file_bytes + 65536;
}

PictureStatus DecodePhoto(const uint8_t* bytes, size_t size, uint64_t budget, GrayPhoto& photo,
                          std::string& why) {
    uint32_t header_width = 0, header_height = 0;
    int header_channels = 0;
    if (!ReadPictureHeader(bytes, size, header_width, header_height, header_channels)) {
        why = "这个文件不是 PNG、JPEG 或 BMP 图片。";
        return PictureStatus::NotAPicture;
    }
    const uint64_t need = PhotoDecodeBytes(size, header_width, header_height, header_channels);
    if (need > budget) {
        why = "读入 " + std::to_string(header_width) + " x " + std::to_string(header_height) +
              " 像素的照片需要 " + FormatBytes(need) + " 内存；现在只能用 " + FormatBytes(budget) + "。";
        return PictureStatus::TooLarge;
    }
    int width = 0, height = 0, channels = 0;
    if (size > static_cast<size_t>(INT_MAX) || (bytes[0] == 0xFF && !JpegTablesFit(bytes, size)) ||
        !stbi_info_from_memory(bytes, static_cast<int>(size), &width, &height, &channels) || width <= 0 ||
        height <= 0) {
        why = "图片读不出来：文件已损坏，或用了不支持的格式。";
        return PictureStatus::NotAPicture;
    }
    int w = 0, h = 0, n = 0;
    uint8_t* gray = nullptr;
    if (channels >= 3) {
        gray =
            bytes[0] == 0xFF ? DecodeJpegBalanced(bytes, size, w, h) : DecodeOtherBalanced(bytes, size, w, h);
    }
    if (gray == nullptr) {
        gray = stbi_load_from_memory(bytes, static_cast<int>(size), &w, &h, &n, 1);
    }
    if (gray == nullptr || w != width || h != height) {
        std::free(gray);
        why = "图片读不出来：文件已损坏，或用了不支持的格式。";
        return PictureStatus::NotAPicture;
    }
    photo = GrayPhoto();
    photo.width_ = static_cast<uint32_t>(w);
    photo.height_ = static_cast<uint32_t>(h);
    photo.decoded_.reset(gray);
    photo.data_ = gray;
    return PictureStatus::Ok;
}
