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
        why = "The file is not a PNG, JPEG or BMP picture.";
        return PictureStatus::NotAPicture;
    }
    const uint64_t need = PhotoDecodeBytes(size, header_width, header_height, header_channels);
    if (need > budget) {
        why = "The picture of " + std::to_string(header_width) + " x " + std::to_string(header_height) +
              " pixels needs " + FormatBytes(need) + " of memory to be read; " + FormatBytes(budget) +
              " can be used now.";
        return PictureStatus::TooLarge;
    }
    int width = 0, height = 0, channels = 0;
    if (size > static_cast<size_t>(INT_MAX) || (bytes[0] == 0xFF && !JpegTablesFit(bytes, size)) ||
        !stbi_info_from_memory(bytes, static_cast<int>(size), &width, &height, &channels) || width <= 0 ||
        height <= 0) {
        why = "The picture cannot be read: the file is damaged or uses a form that is not supported.";
        return PictureStatus::NotAPicture;
    }
    int w = 0, h = 0, n = 0;
    uint8_t* gray = stbi_load_from_memory(bytes, static_cast<int>(size), &w, &h, &n, 1);
    if (gray == nullptr || w != width || h != height) {
        std::free(gray);
        why = "The picture cannot be read: the file is damaged or uses a form that is not supported.";
        return PictureStatus::NotAPicture;
    }
    photo = GrayPhoto();
    photo.width_ = static_cast<uint32_t>(w);
    photo.height_ = static_cast<uint32_t>(h);
    photo.decoded_.reset(gray);
    photo.data_ = gray;
    return PictureStatus::Ok;
}
