#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes gray levels (row-major, width x height) as an 8-bit grayscale PNG; false when it cannot.
bool WriteGrayPng(const std::string& path, uint32_t width, uint32_t height,
                  const std::vector<uint8_t>& pixels);

// The same as a JPEG of quality 95, as a camera stores its photos.
bool WriteGrayJpeg(const std::string& path, uint32_t width, uint32_t height,
                   const std::vector<uint8_t>& pixels);
