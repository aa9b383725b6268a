#pragma once

#include "seam/screen_params.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// One module edge. Seam files store these 28 bytes per record, in grid order.
struct SeamSegment {
    int32_t x0;
    int32_t y0;
    int32_t x1;
    int32_t y1;
    int32_t selected;
    int32_t horizontal;
    float gain;
};

static_assert(sizeof(SeamSegment) == 28, "SeamSegment is a 28-byte seam-file record");

// The four sizes BuildSeamGrid saw at its last call. Process-wide in the tool; tests pass their own.
struct SeamGridCache {
    uint32_t screen_width = 0;
    uint32_t screen_height = 0;
    uint32_t mod_width = 0;
    uint32_t mod_height = 0;
};

SeamGridCache& ProcessSeamGridCache();

// The bytes that BuildSeamGrid would allocate for these sizes: 0 when it would keep the grid held
// (the sizes equal the cache) or refuse them (a size that is 0 or does not divide, or a count above
// 32 bits). Checked against the memory budget before the pattern window opens.
uint64_t SeamGridBuildBytes(const ScreenParams& params, const SeamGridCache& cache);

enum : int {
    kGridOk = 0,
    kGridRefused = 255,
    kSelectOutside = 1,
    kSelectZeroModule = 255,
};

// Where the four edges of module (column, row) stand in grid order: four blocks of columns x rows
// records (top, bottom, left and right edges), each block in row-major module order. Seam files, the
// photo's measurement and the read-back all rely on this order.
struct GridIndex {
    uint64_t columns = 0;
    uint64_t rows = 0;

    uint64_t Modules() const { return columns * rows; }
    uint64_t Top(uint64_t column, uint64_t row) const { return row * columns + column; }
    uint64_t Bottom(uint64_t column, uint64_t row) const { return Modules() + Top(column, row); }
    uint64_t Left(uint64_t column, uint64_t row) const { return 2 * Modules() + Top(column, row); }
    uint64_t Right(uint64_t column, uint64_t row) const { return 3 * Modules() + Top(column, row); }
};

// Every module edge of the screen, in the order of GridIndex.
class SeamGrid {
public:
    int BuildSeamGrid(const ScreenParams& params, SeamGridCache& cache = ProcessSeamGridCache());

    void ClearSelection();
    int SelectSeamAt(uint32_t screen_width, uint32_t screen_height, uint32_t mod_width, uint32_t mod_height,
                     uint16_t x, uint16_t y);
    int64_t FirstSelectedIndex() const;
    bool CollectSelected(std::vector<SeamSegment>& out) const;

    void StepSelectedGains(bool up);
    void StepAllGains(int direction);
    void ResetGains();

    std::vector<SeamSegment> CopySeamGrid() const { return segments_; }
    void ReplaceSeamGrid(const std::vector<SeamSegment>& segments) { segments_ = segments; }
    // The same without a second copy of a list that may be as large as memory allows.
    void ReplaceSeamGrid(std::vector<SeamSegment>&& segments) { segments_ = std::move(segments); }

    const std::vector<SeamSegment>& Segments() const { return segments_; }
    // For the undo history, which writes back exactly the records it took.
    std::vector<SeamSegment>& Records() { return segments_; }
    size_t Size() const { return segments_.size(); }

private:
    void Select(uint64_t index);

    std::vector<SeamSegment> segments_;
};

// A grid of these sizes with every gain 1.0, built beside the process's cache (which keeps the sizes of
// the pattern window's grid); empty when the sizes are refused.
std::vector<SeamSegment> FreshSeamGrid(const ScreenParams& params);
