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

#include <climits>
#include <utility>

GrayPhoto::GrayPhoto(uint32_t width, uint32_t height, std::vector<uint8_t> pixels)
    : width_(width), height_(height), owned_(std::move(pixels)), data_(owned_.data()) {}

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
    int width = 0, height = 0, channels = 0;
    if (size == 0 || size > static_cast<size_t>(INT_MAX) ||
        !stbi_info_from_memory(bytes, static_cast<int>(size), &width, &height, &channels) || width <= 0 ||
        height <= 0) {
        why = "The file is not a PNG, JPEG or BMP picture.";
        return PictureStatus::NotAPicture;
    }
    const uint64_t need = PhotoDecodeBytes(size, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                           channels);
    if (need > budget) {
        why = "The picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels needs " +
              FormatBytes(need) + " of memory to be read; " + FormatBytes(budget) + " can be used now.";
        return PictureStatus::TooLarge;
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
