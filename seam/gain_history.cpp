#include "seam/gain_history.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof(u));
    return u;
}

// Everything of a record but its gain: a step that changes only gains keeps 12 bytes a record.
bool SameButGain(const SeamSegment& a, const SeamSegment& b) {
    return std::memcmp(&a, &b, offsetof(SeamSegment, gain)) == 0;
}

uint64_t StepBytes(uint64_t gains, uint64_t records) {
    return sizeof(HistoryStep) + gains * sizeof(GainChange) + records * sizeof(RecordChange);
}

// Grows or shrinks the grid to a step's length; false, with the grid as it was, when it cannot grow.
bool ResizeTo(std::vector<SeamSegment>& segments, size_t size) {
    try {
        segments.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

} // namespace

uint64_t HistoryStep::Bytes() const {
    return StepBytes(gains.size(), records.size());
}

GainSnapshot GainHistory::SnapshotSelected(const std::vector<SeamSegment>& segments) const {
    GainSnapshot snap;
    uint64_t count = 0;
    for (const SeamSegment& s : segments) {
        count += s.selected != 0 ? 1 : 0;
    }
    if (count * (sizeof(uint32_t) + sizeof(float)) > byte_limit_ || segments.size() > UINT32_MAX) {
        return snap;
    }
    snap.indices.reserve(static_cast<size_t>(count));
    snap.gains.reserve(static_cast<size_t>(count));
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = 0; i < segments.size(); ++i) {
        if (segments[i].selected != 0) {
            snap.indices.push_back(static_cast<uint32_t>(i));
            snap.gains.push_back(segments[i].gain);
            hash = (hash ^ i) * 1099511628211ull;
        }
    }
    snap.selection = hash ^ count;
    snap.taken = true;
    return snap;
}

GainSnapshot GainHistory::SnapshotAll(const std::vector<SeamSegment>& segments) const {
    GainSnapshot snap;
    if (static_cast<uint64_t>(segments.size()) * sizeof(float) > byte_limit_ ||
        segments.size() > UINT32_MAX) {
        return snap;
    }
    snap.gains.reserve(segments.size());
    for (const SeamSegment& s : segments) {
        snap.gains.push_back(s.gain);
    }
    snap.all = true;
    snap.taken = true;
    return snap;
}

bool GainHistory::Record(const StepInfo& info, const GainSnapshot& before,
                         const std::vector<SeamSegment>& after) {
    if (!before.taken) {
        Clear();
        return false;
    }
    const bool all = before.all;
    const auto index_of = [&](size_t k) { return all ? static_cast<uint32_t>(k) : before.indices[k]; };
    const auto changed = [&](size_t k) {
        const uint32_t i = index_of(k);
        return i < after.size() && Bits(after[i].gain) != Bits(before.gains[k]);
    };
    uint64_t count = 0;
    for (size_t k = 0; k < before.gains.size(); ++k) {
        count += changed(k) ? 1 : 0;
    }
    if (StepBytes(count, 0) > byte_limit_) {
        Clear();
        return false;
    }
    std::vector<GainChange> changes;
    changes.reserve(static_cast<size_t>(count));
    for (size_t k = 0; k < before.gains.size(); ++k) {
        if (changed(k)) {
            const uint32_t i = index_of(k);
            changes.push_back(GainChange{i, before.gains[k], after[i].gain});
        }
    }
    if (info.kind == StepKind::Notch && !info.replayed && MergeNotch(info, before.selection, changes)) {
        return true;
    }
    if (changes.empty() && info.peer_steps == 0 && !info.replayed) {
        return true; // nothing changed here and nothing elsewhere: no step to undo
    }
    HistoryStep step;
    step.kind = info.kind;
    step.selection = before.selection;
    step.last_ms = info.now_ms;
    step.peer_steps = info.peer_steps;
    step.old_size = after.size();
    step.new_size = after.size();
    step.gains = std::move(changes);
    Push(std::move(step));
    mergeable_ = info.kind == StepKind::Notch && !info.replayed;
    return true;
}

// Notches on one selection, each within a second of the one before, are one step: turning the wheel
// through twenty notches is undone with one key. A notch that travelled is never merged with one that
// did not, since the server counts them as it received them.
bool GainHistory::MergeNotch(const StepInfo& info, uint64_t selection, std::vector<GainChange>& changes) {
    if (!mergeable_ || cursor_ != steps_.size() || steps_.empty()) {
        return false;
    }
    HistoryStep& last = steps_.back();
    if (last.kind != StepKind::Notch || last.selection != selection || info.now_ms < last.last_ms ||
        info.now_ms - last.last_ms > kMergeWindowMs || (last.peer_steps > 0) != (info.peer_steps > 0)) {
        return false;
    }
    // Both lists run in grid order: one pass merges them, a record keeping its first "before".
    std::vector<GainChange> merged;
    merged.reserve(last.gains.size() + changes.size());
    size_t a = 0;
    size_t b = 0;
    while (a < last.gains.size() || b < changes.size()) {
        if (b == changes.size() || (a < last.gains.size() && last.gains[a].index < changes[b].index)) {
            merged.push_back(last.gains[a++]);
        } else if (a == last.gains.size() || changes[b].index < last.gains[a].index) {
            merged.push_back(changes[b++]);
        } else {
            merged.push_back(GainChange{last.gains[a].index, last.gains[a].before, changes[b].after});
            ++a;
            ++b;
        }
    }
    bytes_ -= last.Bytes();
    last.gains = std::move(merged);
    bytes_ += last.Bytes();
    last.last_ms = info.now_ms;
    last.peer_steps += info.peer_steps;
    Evict();
    return true;
}

bool GainHistory::RecordReplace(const StepInfo& info, const std::vector<SeamSegment>& current,
                                const std::vector<SeamSegment>& next, const ScreenState* screens) {
    if (current.size() > UINT32_MAX || next.size() > UINT32_MAX) {
        Clear();
        return false;
    }
    const size_t common = std::min(current.size(), next.size());
    uint64_t gain_count = 0;
    uint64_t record_count = std::max(current.size(), next.size()) - common;
    for (size_t i = 0; i < common; ++i) {
        if (!SameButGain(current[i], next[i])) {
            ++record_count;
        } else if (Bits(current[i].gain) != Bits(next[i].gain)) {
            ++gain_count;
        }
    }
    if (StepBytes(gain_count, record_count) > byte_limit_) {
        Clear();
        return false;
    }
    HistoryStep step;
    step.kind = info.kind;
    step.last_ms = info.now_ms;
    step.peer_steps = info.peer_steps;
    step.old_size = current.size();
    step.new_size = next.size();
    if (screens != nullptr) {
        step.has_screens = true;
        step.screen_before = screens[0];
        step.screen_after = screens[1];
    }
    step.gains.reserve(static_cast<size_t>(gain_count));
    step.records.reserve(static_cast<size_t>(record_count));
    for (size_t i = 0; i < std::max(current.size(), next.size()); ++i) {
        const uint32_t index = static_cast<uint32_t>(i);
        if (i >= common) {
            const bool had = i < current.size();
            step.records.push_back(RecordChange{index, had, !had, had ? current[i] : SeamSegment{},
                                                had ? SeamSegment{} : next[i]});
        } else if (!SameButGain(current[i], next[i])) {
            step.records.push_back(RecordChange{index, true, true, current[i], next[i]});
        } else if (Bits(current[i].gain) != Bits(next[i].gain)) {
            step.gains.push_back(GainChange{index, current[i].gain, next[i].gain});
        }
    }
    mergeable_ = false;
    if (step.gains.empty() && step.records.empty() && step.old_size == step.new_size && !step.has_screens &&
        info.peer_steps == 0 && !info.replayed) {
        return true;
    }
    Push(std::move(step));
    return true;
}

const HistoryStep* GainHistory::Undo(std::vector<SeamSegment>& segments) {
    if (cursor_ == 0) {
        return nullptr;
    }
    const HistoryStep& step = steps_[cursor_ - 1];
    if (segments.size() != step.new_size) {
        Clear(); // the grid was changed behind the history's back: its steps lead nowhere now
        return nullptr;
    }
    if (!ResizeTo(segments, step.old_size)) {
        return nullptr;
    }
    for (const GainChange& c : step.gains) {
        segments[c.index].gain = c.before;
    }
    for (const RecordChange& c : step.records) {
        if (c.had_before) {
            segments[c.index] = c.before;
        }
    }
    --cursor_;
    mergeable_ = false;
    return &step;
}

const HistoryStep* GainHistory::Redo(std::vector<SeamSegment>& segments) {
    if (cursor_ == steps_.size()) {
        return nullptr;
    }
    const HistoryStep& step = steps_[cursor_];
    if (segments.size() != step.old_size) {
        Clear();
        return nullptr;
    }
    if (!ResizeTo(segments, step.new_size)) {
        return nullptr;
    }
    for (const GainChange& c : step.gains) {
        segments[c.index].gain = c.after;
    }
    for (const RecordChange& c : step.records) {
        if (c.has_after) {
            segments[c.index] = c.after;
        }
    }
    ++cursor_;
    mergeable_ = false;
    return &step;
}

void GainHistory::Clear() {
    steps_.clear();
    cursor_ = 0;
    bytes_ = 0;
    mergeable_ = false;
}

// A new step ends every redo; the oldest steps make room for it. The callers have checked that it
// fits on its own.
void GainHistory::Push(HistoryStep&& step) {
    while (steps_.size() > cursor_) {
        bytes_ -= steps_.back().Bytes();
        steps_.pop_back();
    }
    bytes_ += step.Bytes();
    steps_.push_back(std::move(step));
    cursor_ = steps_.size();
    Evict();
}

void GainHistory::Evict() {
    while (steps_.size() > 1 && (steps_.size() > step_limit_ || bytes_ > byte_limit_)) {
        bytes_ -= steps_.front().Bytes();
        steps_.pop_front();
        cursor_ = cursor_ > 0 ? cursor_ - 1 : 0;
    }
}

SeamGridCache GridCacheOf(const ScreenParams& p) {
    return SeamGridCache{static_cast<uint32_t>(p.screen_width), static_cast<uint32_t>(p.screen_height),
                         static_cast<uint32_t>(p.mod_width), static_cast<uint32_t>(p.mod_height)};
}

int BuildSeamGridKeepingHistory(SeamGrid& grid, GainHistory& history, const ScreenParams& params,
                                const ScreenParams& held, const StepInfo* step, SeamGridCache& cache) {
    const SeamGridCache wanted = GridCacheOf(params);
    const bool same = wanted.screen_width == cache.screen_width &&
                      wanted.screen_height == cache.screen_height && wanted.mod_width == cache.mod_width &&
                      wanted.mod_height == cache.mod_height;
    // The old records are needed for the step; a grid the history could not hold is not copied. The first
    // grid has nothing before it to give back.
    std::vector<SeamSegment> old;
    bool keep = !same && step != nullptr && grid.Size() > 0 &&
                grid.Size() <= history.ByteLimit() / sizeof(SeamSegment);
    if (keep) {
        try {
            old = grid.CopySeamGrid();
        } catch (const std::bad_alloc&) {
            keep = false;
        }
    }
    const int result = grid.BuildSeamGrid(params, cache);
    if (result != kGridOk || same) {
        return result; // kept, or refused with the grid unchanged: the steps still lead to it
    }
    if (!keep) {
        history.Clear();
        return result;
    }
    // The old grid belongs to the sizes of `held`, whatever a refused build left in the cache since.
    const ScreenState screens[2] = {ScreenState{held, GridCacheOf(held)}, ScreenState{params, cache}};
    history.RecordReplace(*step, old, grid.Segments(), screens); // empties the history if it cannot keep it
    return result;
}
