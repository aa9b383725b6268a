#include "tools/ledsim/png.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO_FILE_NAMES_UTF8
#include <stb/stb_image_write.h>

bool WriteGrayPng(const std::string& path, uint32_t width, uint32_t height,
                  const std::vector<uint8_t>& pixels) {
    if (width == 0 || height == 0 || pixels.size() != static_cast<size_t>(width) * height) {
        return false;
    }
    return stbi_write_png(path.c_str(), static_cast<int>(width), static_cast<int>(height), 1, pixels.data(),
                          static_cast<int>(width)) != 0;
}

bool WriteGrayJpeg(const std::string& path, uint32_t width, uint32_t height,
                   const std::vector<uint8_t>& pixels) {
    if (width == 0 || height == 0 || pixels.size() != static_cast<size_t>(width) * height) {
        return false;
    }
    return stbi_write_jpg(path.c_str(), static_cast<int>(width), static_cast<int>(height), 1, pixels.data(),
                          95) != 0;
}
