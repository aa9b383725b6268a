#pragma once

// A recovery set: what one run of the tool holds that no seam file may hold yet (the texts of the
// screen fields, the grid with the screen description it belongs to, the coefficient file's path),
// written again after every change so that a crash, a killed process or a close without saving loses
// at most the last second. All numbers little-endian; a checksum at the end tells a damaged file.

#include "files/seam_file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A 64-bit hash of a byte stream, fed in pieces of any size: the same bytes give the same number
// however they are cut.
class ContentHash {
public:
    void Add(const uint8_t* data, size_t size);
    uint64_t Value() const { return hash_; }

private:
    uint64_t hash_ = 14695981039346656037ull;
};

// The hash of the seam file a save would write now: `header` and the records.
uint64_t SeamFileHash(const ScreenParams& header, const std::vector<SeamSegment>& records);

// How many records have a gain other than 1.0: the tuning a set holds.
uint64_t TunedRecordCount(const std::vector<SeamSegment>& records);

struct RecoveryState {
    uint64_t written_at = 0;            // when it was written: 100-ns units since 1601, UTC (a FILETIME)
    uint64_t content_hash = 0;          // SeamFileHash of the header the fields give and the grid
    uint64_t baseline_hash = 0;         // the same of the seam file last saved or imported, or of the start
    uint64_t tuned_records = 0;         // TunedRecordCount of the grid
    std::vector<std::u16string> fields; // the screen fields' texts, as typed
    std::u16string coefficient_path;
    bool has_grid = false;
    ScreenParams grid_params; // the screen description the grid belongs to
    std::vector<SeamSegment> records;

    // Whether the run ended with work that no seam file holds.
    bool Unsaved() const { return content_hash != baseline_hash; }
};

enum class RecoveryStatus {
    Ok,
    NotRecovery, // no recovery set of this version
    Damaged,     // cut short, a text or count out of reason, or a checksum that does not match
    TooLarge,    // its grid exceeds the memory budget
};

constexpr size_t kRecoveryHeadSize = 40; // signature, version, time, the two hashes, tuned records
constexpr uint32_t kRecoveryMaxText = 32768;

bool WriteRecoveryFile(const RecoveryState& state, const ByteSink& write);
// The whole set; nothing is allocated beyond `memory_budget`.
RecoveryStatus ReadRecoveryFile(const ByteSource& read, uint64_t memory_budget, RecoveryState& out);
// Only the head (time, hashes, tuned records): enough to decide whether to ask.
RecoveryStatus ReadRecoveryHead(const ByteSource& read, RecoveryState& out);
