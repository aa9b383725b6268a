#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes a picture (row-major, width x height, `channels` bytes a pixel: 1 gray, 3 RGB) as an 8-bit PNG;
// false when it cannot.
bool WritePng(const std::string& path, uint32_t width, uint32_t height, uint32_t channels,
              const std::vector<uint8_t>& pixels);

// The same as a JPEG of `quality` (1..100); up to 90 an RGB picture's chroma is stored at half
// resolution in both directions (4:2:0), as cameras store their photos.
bool WriteJpeg(const std::string& path, uint32_t width, uint32_t height, uint32_t channels,
               const std::vector<uint8_t>& pixels, int quality);
