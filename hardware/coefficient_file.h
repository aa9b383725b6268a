#pragma once

// The coefficient file the read-back averages: one gain per screen pixel, row-major, in one of two
// layouts told apart by the file's size against the screen's W x H:
//   W x H x 4 bytes: little-endian 32-bit floats, 1.0 neutral (the gain map itself);
//   W x H bytes:     the bytes the cards hold, 128 standing for 1.0.

#include "files/seam_file.h"
#include "hardware/gain_map.h"

#include <cstdint>

enum class CoefficientFileStatus {
    Ok,
    WrongSize, // neither layout for this screen
    NoMemory,  // the map of W x H cells exceeds the memory budget
    ReadFailed,
    BadGain, // a float that is not a gain from 0 to 2; `bad_cell` says which cell (row-major, from 0)
};

CoefficientFileStatus ReadCoefficientFile(const ByteSource& read, uint64_t file_size, int64_t width,
                                          int64_t height, uint64_t memory_budget, GainMap& map,
                                          uint64_t* bad_cell = nullptr);
