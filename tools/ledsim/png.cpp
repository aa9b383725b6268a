#include "tools/ledsim/png.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO_FILE_NAMES_UTF8
#include <stb/stb_image_write.h>

namespace {

bool Fits(uint32_t width, uint32_t height, uint32_t channels, const std::vector<uint8_t>& pixels) {
    return width != 0 && height != 0 && (channels == 1 || channels == 3) &&
           pixels.size() == static_cast<size_t>(width) * height * channels;
}

} // namespace

bool WritePng(const std::string& path, uint32_t width, uint32_t height, uint32_t channels,
              const std::vector<uint8_t>& pixels) {
    return Fits(width, height, channels, pixels) &&
           stbi_write_png(path.c_str(), static_cast<int>(width), static_cast<int>(height),
                          static_cast<int>(channels), pixels.data(), static_cast<int>(width * channels)) != 0;
}

bool WriteJpeg(const std::string& path, uint32_t width, uint32_t height, uint32_t channels,
               const std::vector<uint8_t>& pixels, int quality) {
    return Fits(width, height, channels, pixels) &&
           stbi_write_jpg(path.c_str(), static_cast<int>(width), static_cast<int>(height),
                          static_cast<int>(channels), pixels.data(), quality) != 0;
}
