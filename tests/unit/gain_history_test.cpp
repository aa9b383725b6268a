#include "seam/gain_history.h"
#include "tests/unit/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

bool SameBytes(const std::vector<SeamSegment>& a, const std::vector<SeamSegment>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(SeamSegment)) == 0;
}

const StepInfo kCommand{StepKind::Command, 0, 0, false};
const ScreenParams kHeld = Screen(128, 64, 64, 32);

// A 2 x 2 grid of 16 records with the vertical seam of row 0 selected (records 9 and 12); the test
// moves the clock by hand.
class History : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(kGridOk, BuildSeamGridKeepingHistory(grid, history, kHeld, kHeld, &kCommand, cache));
        grid.SelectSeamAt(128, 64, 64, 32, 70, 10);
    }
    bool Notch(int64_t at_ms, int times = 1, uint32_t peer = 0, bool replayed = false) {
        const GainSnapshot before = history.SnapshotSelected(grid.Segments());
        for (int i = 0; i < times; ++i) {
            grid.StepSelectedGains(true);
        }
        return history.Record(StepInfo{StepKind::Notch, at_ms, peer, replayed}, before, grid.Segments());
    }
    bool Keys(GainHistory& h) {
        const GainSnapshot before = h.SnapshotAll(grid.Segments());
        grid.StepAllGains(+1);
        return h.Record(StepInfo{StepKind::Keys, 0, 0, false}, before, grid.Segments());
    }
    const HistoryStep* Undo() { return history.Undo(grid.Records()); }
    const HistoryStep* Redo() { return history.Redo(grid.Records()); }

    SeamGridCache cache;
    SeamGrid grid;
    GainHistory history{1 << 20};
};

} // namespace

TEST_F(History, NotchesOnOneSelectionWithinASecondAreOneStepUndoneBitForBit) {
    const std::vector<SeamSegment> start = grid.CopySeamGrid();
    ASSERT_TRUE(Notch(0));
    ASSERT_TRUE(Notch(1000));     // a second after the notch before
    ASSERT_TRUE(Notch(2000, 10)); // a coarse notch is one notch too
    EXPECT_EQ(1u, history.UndoCount());
    EXPECT_EQ(sizeof(HistoryStep) + 2 * sizeof(GainChange), history.Bytes()) << "two records, once each";
    const std::vector<SeamSegment> tuned = grid.CopySeamGrid();
    ASSERT_NE(nullptr, Undo());
    EXPECT_TRUE(SameBytes(start, grid.Segments()));
    EXPECT_EQ(nullptr, Undo());
    ASSERT_NE(nullptr, Redo());
    EXPECT_TRUE(SameBytes(tuned, grid.Segments()));
    EXPECT_EQ(nullptr, Redo());
}

TEST_F(History, WhatEndsAMerge) {
    struct Case {
        const char* name;
        int64_t second_at;
        bool other_seam, travelled, undo_redo, keys;
        size_t steps;
    } cases[] = {{"1001 ms later", 1001, false, false, false, false, 2},
                 {"the clock went back", -1, false, false, false, false, 2},
                 {"another seam", 10, true, false, false, false, 2},
                 {"one travelled, one did not", 10, false, true, false, false, 2},
                 {"an undo and a redo between", 10, false, false, true, false, 2},
                 {"a key step between", 10, false, false, false, true, 3},
                 {"nothing between", 10, false, false, false, false, 1}};
    for (const Case& c : cases) {
        SetUp();
        history.Clear();
        ASSERT_TRUE(Notch(0)) << c.name;
        if (c.undo_redo) {
            Undo();
            Redo();
        }
        if (c.keys) {
            Keys(history);
        }
        if (c.other_seam) {
            grid.SelectSeamAt(128, 64, 64, 32, 100, 30);
        }
        ASSERT_TRUE(Notch(c.second_at, 1, c.travelled ? 1 : 0)) << c.name;
        EXPECT_EQ(c.steps, history.UndoCount()) << c.name;
    }
}

TEST_F(History, AServerKeepsEveryReplayedStepAndTheClientCountsThem) {
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Notch(i * 100, 1, 1));
    }
    const HistoryStep* step = Undo();
    ASSERT_NE(nullptr, step);
    EXPECT_EQ(3u, step->peer_steps) << "one step here asks the server for three undos";

    history.Clear();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Notch(i * 100, 1, 0, true));
    }
    grid.ClearSelection();
    ASSERT_TRUE(Notch(400, 1, 0, true)); // changes nothing, but the client counted it
    ASSERT_TRUE(Notch(500));             // changes nothing and stays here: no step
    ASSERT_TRUE(history.RecordReplace(kCommand, grid.Segments(), grid.Segments())); // nor this
    ASSERT_TRUE(history.RecordReplace(StepInfo{StepKind::Command, 0, 1, false}, grid.Segments(),
                                      grid.Segments())); // but this reset reached the server
    EXPECT_EQ(5u, history.UndoCount());
}

TEST_F(History, ACommandThatInstallsAnotherLengthIsUndoneWholeWithItsScreen) {
    const std::vector<SeamSegment> before = grid.CopySeamGrid();
    std::vector<SeamSegment> next(before.begin(), before.begin() + 10);
    next[3].gain = 0.9f;
    next[4].selected = 1;
    ScreenState screens[2] = {ScreenState{Screen(128, 64, 64, 32), cache}, ScreenState{}};
    screens[1].params.gray_scale = 99;
    ASSERT_TRUE(history.RecordReplace(kCommand, grid.Segments(), next, screens));
    grid.ReplaceSeamGrid(next);
    std::vector<SeamSegment> longer = before;
    longer.push_back(before[0]);
    ASSERT_TRUE(history.RecordReplace(kCommand, grid.Segments(), longer));
    grid.ReplaceSeamGrid(longer);

    Undo();
    EXPECT_TRUE(SameBytes(next, grid.Segments()));
    const HistoryStep* undone = Undo();
    ASSERT_NE(nullptr, undone);
    EXPECT_TRUE(SameBytes(before, grid.Segments()));
    EXPECT_TRUE(undone->has_screens && undone->screen_before.cache.mod_width == 64 &&
                undone->screen_after.params.gray_scale == 99);
    ASSERT_NE(nullptr, Redo());
    EXPECT_TRUE(SameBytes(next, grid.Segments()));
    ASSERT_NE(nullptr, Redo());
    EXPECT_TRUE(SameBytes(longer, grid.Segments())) << "the records it added are back";
    Undo();
    ASSERT_TRUE(Keys(history));
    EXPECT_EQ(0u, history.RedoCount()) << "a new step ends the redos";
    // Left: the six records cut off and the one whose flag changed, the gain of record 3, ten keys.
    EXPECT_EQ(2 * sizeof(HistoryStep) + 7 * sizeof(RecordChange) + 11 * sizeof(GainChange), history.Bytes());
}

TEST_F(History, BoundedByStepsAndBytes) {
    // A key step of 16 records takes the step's own size and 12 bytes a record.
    const uint64_t one = sizeof(HistoryStep) + 16 * sizeof(GainChange);
    GainHistory few(1 << 20, 3);
    std::vector<std::vector<SeamSegment>> states{grid.CopySeamGrid()};
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(Keys(few));
        states.push_back(grid.CopySeamGrid());
    }
    EXPECT_EQ(3u, few.UndoCount());
    EXPECT_EQ(3 * one, few.Bytes());
    while (few.Undo(grid.Records()) != nullptr) {
    }
    EXPECT_TRUE(SameBytes(states[2], grid.Segments())) << "the two oldest steps made room";

    GainHistory small(2 * one);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Keys(small));
        EXPECT_LE(small.Bytes(), 2 * one);
    }
    EXPECT_EQ(2u, small.UndoCount());

    // A step larger than everything allowed is not kept, and the steps before it lead nowhere now.
    GainHistory tiny(one - 1);
    const GainSnapshot notch = tiny.SnapshotSelected(grid.Segments());
    grid.StepSelectedGains(true);
    ASSERT_TRUE(tiny.Record(StepInfo{StepKind::Notch, 0, 0, false}, notch, grid.Segments()));
    EXPECT_FALSE(Keys(tiny));
    EXPECT_EQ(0u, tiny.UndoCount() + tiny.Bytes());
    // Snapshots of 16 gains (64 bytes), and of the two selected with their indices (16 bytes).
    EXPECT_TRUE(GainHistory(64).SnapshotAll(grid.Segments()).taken);
    EXPECT_FALSE(GainHistory(63).SnapshotAll(grid.Segments()).taken);
    EXPECT_TRUE(GainHistory(16).SnapshotSelected(grid.Segments()).taken);
    EXPECT_FALSE(GainHistory(15).SnapshotSelected(grid.Segments()).taken);
}

TEST_F(History, ARebuildForOtherSizesIsOneStepWithinTheBound) {
    Keys(history);
    const std::vector<SeamSegment> tuned = grid.CopySeamGrid();
    ASSERT_EQ(kGridOk, BuildSeamGridKeepingHistory(grid, history, kHeld, kHeld, &kCommand, cache));
    EXPECT_EQ(1u, history.UndoCount()) << "same sizes keep the grid and its steps";
    ASSERT_EQ(kGridRefused,
              BuildSeamGridKeepingHistory(grid, history, Screen(100, 64, 64, 32), kHeld, &kCommand, cache));
    EXPECT_EQ(1u, history.UndoCount()) << "refused sizes leave the grid as it was";
    const ScreenParams narrow = Screen(128, 64, 32, 16); // 4 x 4 modules: 64 records
    ASSERT_EQ(kGridOk, BuildSeamGridKeepingHistory(grid, history, narrow, kHeld, &kCommand, cache));
    ASSERT_EQ(64u, grid.Size());
    const HistoryStep* step = Undo();
    ASSERT_NE(nullptr, step);
    ASSERT_TRUE(step->has_screens);
    EXPECT_EQ(64u, step->screen_before.cache.mod_width) << "the held sizes, not the refused ones";
    EXPECT_EQ(32, step->screen_before.params.mod_height);
    EXPECT_EQ(16u, step->screen_after.cache.mod_height);
    EXPECT_TRUE(SameBytes(tuned, grid.Segments()));
    const uint64_t bytes = step->Bytes();
    ASSERT_NE(nullptr, Redo());
    EXPECT_EQ(64u, grid.Size());
    // The bound: a step of exactly the limit is kept, one byte less empties the history; so does a server.
    for (const uint64_t limit : {bytes, bytes - 1}) {
        GainHistory bounded(limit);
        SeamGridCache held_cache = GridCacheOf(kHeld);
        SeamGrid held;
        held.ReplaceSeamGrid(tuned);
        ASSERT_EQ(kGridOk, BuildSeamGridKeepingHistory(held, bounded, narrow, kHeld, &kCommand, held_cache));
        EXPECT_EQ(limit == bytes ? 1u : 0u, bounded.UndoCount()) << limit;
    }
    ASSERT_EQ(kGridOk, BuildSeamGridKeepingHistory(grid, history, kHeld, narrow, nullptr, cache));
    EXPECT_EQ(0u, history.UndoCount());

    Keys(history); // a grid changed behind the history's back is never written with its steps
    grid.ReplaceSeamGrid(std::vector<SeamSegment>(4));
    EXPECT_EQ(nullptr, Undo());
    EXPECT_EQ(0u, history.UndoCount());
}
