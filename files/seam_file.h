#pragma once

// The seam file (".chk"): the 48-byte screen description, then one 28-byte record per module edge in
// grid order, all numbers little-endian. No signature, count or checksum: the header alone says how
// many records follow.

#include "seam/screen_params.h"
#include "seam/seam_grid.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

constexpr size_t kSeamHeaderSize = 48;
constexpr size_t kSeamRecordSize = 28;

void EncodeSeamHeader(const ScreenParams& params, uint8_t* out); // bytes 36 to 39 are written as 0
ScreenParams DecodeSeamHeader(const uint8_t* in);                // bytes 36 to 39 are ignored
void EncodeSeamRecord(const SeamSegment& segment, uint8_t* out);
SeamSegment DecodeSeamRecord(const uint8_t* in);

// The records a header announces: 4 x (height / module height) x (width / module width), in unsigned
// 32-bit arithmetic as every earlier file was written; sizes need not divide. False for a module size
// of 0.
bool SeamFileRecordCount(const ScreenParams& header, uint32_t& count);

// Fills `buffer` with up to `size` bytes and returns how many; fewer only at the end of the data.
using ByteSource = std::function<size_t(uint8_t* buffer, size_t size)>;
// Takes `size` bytes; false when they could not be written.
using ByteSink = std::function<bool(const uint8_t* data, size_t size)>;

enum class SeamFileStatus {
    Ok,
    TooShort,   // fewer than the 48 bytes of the header
    ZeroModule, // a module width or height of 0
    TooLarge,   // the records announced exceed the memory budget
    Truncated,  // the file ends before the last record announced, maybe inside one
    BadGain,    // a gain that is not a number from 0 to 2: no file of this tool holds one
};

// A gain this tool can have written: the wheel, the keys and the read-back keep gains within 0 .. 2.
bool UsableGain(float gain);

struct SeamFileContents {
    ScreenParams header;
    uint32_t record_count = 0;        // as announced, also when refused
    uint64_t record_bytes = 0;        // 28 x record_count
    std::vector<SeamSegment> records; // record_count records, when the status is Ok
    uint32_t whole_records = 0;       // Truncated: the records the file holds whole
    uint32_t bad_record = 0;          // BadGain: the first record (from 0) whose gain is refused
};

// Reads a seam file. A file that ends before its announced records, or holds a gain a tool cannot have
// written, is refused: installing it would put zero-length lines at (0, 0) or a gain the quantiser
// turns into the brightest line. Bytes after the announced records are not read. Nothing is allocated
// beyond `memory_budget`.
SeamFileStatus ReadSeamFile(const ByteSource& read, uint64_t memory_budget, SeamFileContents& out);

// Writes the header and the records, a chunk at a time.
bool WriteSeamFile(const ScreenParams& header, const std::vector<SeamSegment>& records,
                   const ByteSink& write);
