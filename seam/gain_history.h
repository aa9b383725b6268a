#pragma once

#include "seam/seam_grid.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// Undo and redo of what changes the gains: one wheel notch, one key press or one command is a step.
// A step keeps only the records it changed, before and after, so that undoing it gives the grid back
// bit for bit (a seam file saved then is byte-identical to one saved before the step).

enum class StepKind : uint8_t { Notch, Keys, Command };

struct GainChange {
    uint32_t index;
    float before;
    float after;
};

// A record that changed in more than its gain, or exists on one side only (a command installed a grid
// of another length).
struct RecordChange {
    uint32_t index;
    bool had_before;
    bool has_after;
    SeamSegment before;
    SeamSegment after;
};

// The screen description and grid sizes a command installed with its grid (an imported file's), so
// that undoing it gives back the fields and the sizes the grid belongs to as well.
struct ScreenState {
    ScreenParams params;
    SeamGridCache cache;
};

struct HistoryStep {
    StepKind kind = StepKind::Command;
    uint64_t selection = 0;  // notches: which records were selected, for merging
    int64_t last_ms = 0;     // notches: when the latest notch of the step came
    uint32_t peer_steps = 0; // steps this one made on a linked server; 0: it stayed local
    size_t old_size = 0;
    size_t new_size = 0;
    std::vector<GainChange> gains;
    std::vector<RecordChange> records;
    bool has_screens = false;
    ScreenState screen_before;
    ScreenState screen_after;

    uint64_t Bytes() const;
};

// The gains of some records before a change; taken by the caller, compared after it by Record.
struct GainSnapshot {
    bool all = false; // every record, in order; otherwise the records of `indices`
    std::vector<uint32_t> indices;
    std::vector<float> gains;
    uint64_t selection = 0;
    bool taken = false;
};

struct StepInfo {
    StepKind kind;
    int64_t now_ms;
    uint32_t peer_steps; // 1 when the change also travelled to a linked server
    bool replayed;       // a server's replay of a client's step: never merged, kept even when empty
};

class GainHistory {
public:
    static constexpr size_t kDefaultStepLimit = 10000;
    static constexpr int64_t kMergeWindowMs = 1000;

    explicit GainHistory(uint64_t byte_limit, size_t step_limit = kDefaultStepLimit)
        : byte_limit_(byte_limit), step_limit_(step_limit) {}

    // What the steps may take together; older steps go first when a new one needs the room.
    void SetByteLimit(uint64_t bytes) { byte_limit_ = bytes; }
    uint64_t ByteLimit() const { return byte_limit_; }

    // The gains of the selected records (a notch) or of every record (keys, a command). Not taken
    // (taken = false) when a copy of every gain would not fit in the byte limit.
    GainSnapshot SnapshotSelected(const std::vector<SeamSegment>& segments) const;
    GainSnapshot SnapshotAll(const std::vector<SeamSegment>& segments) const;

    // Records the gains that differ from the snapshot as one step, or merges a notch into the notch
    // step before it (same selection, within a second). False when the step could not be kept: the
    // history is then empty, since the steps before it no longer lead to the grid as it is.
    bool Record(const StepInfo& info, const GainSnapshot& before, const std::vector<SeamSegment>& after);

    // A command about to replace the whole grid with `next`; call before installing it. `screens`, when
    // given, holds the screen state before and after the command.
    bool RecordReplace(const StepInfo& info, const std::vector<SeamSegment>& current,
                       const std::vector<SeamSegment>& next, const ScreenState* screens = nullptr);

    // Undo or redo the latest step on the grid; the step, or null when there is none (or the grid
    // cannot take back its length: it is then unchanged and so is the history).
    const HistoryStep* Undo(std::vector<SeamSegment>& segments);
    const HistoryStep* Redo(std::vector<SeamSegment>& segments);

    void Clear();

    size_t UndoCount() const { return cursor_; }
    size_t RedoCount() const { return steps_.size() - cursor_; }
    uint64_t Bytes() const { return bytes_; }

private:
    void Push(HistoryStep&& step);
    bool MergeNotch(const StepInfo& info, uint64_t selection, std::vector<GainChange>& changes);
    void Evict();

    uint64_t byte_limit_;
    size_t step_limit_;
    std::deque<HistoryStep> steps_; // [0, cursor_) done, [cursor_, end) undone
    size_t cursor_ = 0;
    uint64_t bytes_ = 0;
    bool mergeable_ = false; // the latest step is a notch that nothing has come after
};

// The grid cache that goes with a screen description: its four sizes.
SeamGridCache GridCacheOf(const ScreenParams& params);

// Builds the grid for `params` (SeamGrid::BuildSeamGrid). A grid built anew for other sizes is the step
// `step` (a command), from the grid held, which belongs to `held`, to the new one: undoing it gives back
// the old grid byte for byte with its screen description and sizes. Without `step` (a server following
// a client, which counts its own steps), for the first grid, or when the old grid is beyond the
// history's bound, the history is emptied instead: its steps name records of a grid that is gone.
int BuildSeamGridKeepingHistory(SeamGrid& grid, GainHistory& history, const ScreenParams& params,
                                const ScreenParams& held, const StepInfo* step,
                                SeamGridCache& cache = ProcessSeamGridCache());
