#pragma once

// A photo as the seam measurement reads it: one 8-bit sRGB-encoded gray value per pixel, decoded from
// a PNG, JPEG or BMP file whose size is checked against the memory budget before any pixel is decoded.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

enum class PictureStatus { Ok, NotAPicture, TooLarge };
class GrayPhoto;
PictureStatus DecodePhoto(const uint8_t* bytes, size_t size, uint64_t budget, GrayPhoto& photo,
                          std::string& why);

class GrayPhoto {
public:
    GrayPhoto() = default;
    // A picture made in memory (tests, the simulator's camera).
    GrayPhoto(uint32_t width, uint32_t height, std::vector<uint8_t> pixels);

    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    const uint8_t* Pixels() const { return data_; }
    uint8_t At(uint32_t x, uint32_t y) const { return data_[static_cast<size_t>(y) * width_ + x]; }

private:
    friend PictureStatus DecodePhoto(const uint8_t*, size_t, uint64_t, GrayPhoto&, std::string&);
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    std::vector<uint8_t> owned_;
    std::unique_ptr<uint8_t, Free> decoded_;
    const uint8_t* data_ = nullptr;
};

// Width, height and channels from a PNG, JPEG or BMP header alone; false when the bytes start no such
// picture. Read here rather than by the decoder, which refuses very large pictures as if they were
// damaged: the operator should hear that the picture is too large.
bool ReadPictureHeader(const uint8_t* bytes, size_t size, uint32_t& width, uint32_t& height, int& channels);

// The bytes decoding a picture of this size and channel count can hold at once: the file, the
// decoder's working copies and the gray result.
uint64_t PhotoDecodeBytes(uint64_t file_bytes, uint32_t width, uint32_t height, int channels);

// Decodes `bytes` into `photo`. Refused with an operator message in `why`: anything but a PNG, JPEG or
// BMP picture, and a picture whose decoding would need more than `budget` bytes (decided from its
// header alone).
PictureStatus DecodePhoto(const uint8_t* bytes, size_t size, uint64_t budget, GrayPhoto& photo,
                          std::string& why);
