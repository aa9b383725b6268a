#include "seam/gain_history.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

ScreenParams Sizes(int32_t w, int32_t h, int32_t mw, int32_t mh) {
    ScreenParams p;
    p.screen_width = w;
    p.screen_height = h;
    p.mod_width = mw;
    p.mod_height = mh;
    return p;
}

bool SameBytes(const std::vector<SeamSegment>& a, const std::vector<SeamSegment>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(SeamSegment)) == 0;
}

// A 2 x 2 grid of 16 records with the vertical seam of row 0 selected (records 9 and 12), and a clock
// the test moves by hand.
class History : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(kGridOk, BuildSeamGridKeepingHistory(grid, history, Sizes(128, 64, 64, 32), cache));
        grid.SelectSeamAt(128, 64, 64, 32, 70, 10);
    }
    bool Notch(bool up, int64_t at_ms, int times = 1, uint32_t peer = 0, bool replayed = false) {
        const GainSnapshot before = history.SnapshotSelected(grid.Segments());
        for (int i = 0; i < times; ++i) {
            grid.StepSelectedGains(up);
        }
        return history.Record(StepInfo{StepKind::Notch, at_ms, peer, replayed}, before, grid.Segments());
    }
    bool Keys(int direction, int64_t at_ms) {
        const GainSnapshot before = history.SnapshotAll(grid.Segments());
        grid.StepAllGains(direction);
        return history.Record(StepInfo{StepKind::Keys, at_ms, 0, false}, before, grid.Segments());
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
    ASSERT_TRUE(Notch(true, 0));
    ASSERT_TRUE(Notch(true, 1000));     // a second after the notch before: merged
    ASSERT_TRUE(Notch(true, 2000, 10)); // a coarse notch is one notch too
    EXPECT_EQ(1u, history.UndoCount());
    const std::vector<SeamSegment> tuned = grid.CopySeamGrid();
    EXPECT_NE(start[9].gain, tuned[9].gain);

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
        bool other_selection;
        uint32_t second_peer;
        bool undo_between;
        bool keys_between;
        size_t steps;
    } cases[] = {
        {"1001 ms later", 1001, false, 0, false, false, 2},
        {"the clock went back", -1, false, 0, false, false, 2},
        {"another seam", 10, true, 0, false, false, 2},
        {"one travelled, one did not", 10, false, 1, false, false, 2},
        {"an undo and a redo between", 10, false, 0, true, false, 2},
        {"a key step between", 10, false, 0, false, true, 3},
        {"nothing between", 10, false, 0, false, false, 1},
    };
    for (const Case& c : cases) {
        SetUp();
        history.Clear();
        ASSERT_TRUE(Notch(true, 0)) << c.name;
        if (c.undo_between) {
            Undo();
            Redo();
        }
        if (c.keys_between) {
            Keys(+1, 5);
        }
        if (c.other_selection) {
            grid.SelectSeamAt(128, 64, 64, 32, 100, 30);
        }
        ASSERT_TRUE(Notch(false, c.second_at, 1, c.second_peer)) << c.name;
        EXPECT_EQ(c.steps, history.UndoCount()) << c.name;
    }
}

TEST_F(History, AServerKeepsEveryReplayedNotchAndTheClientCountsThem) {
    // The client merges three travelled notches into one step that asks the server for three undos.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Notch(true, i * 100, 1, 1));
    }
    ASSERT_EQ(1u, history.UndoCount());
    const HistoryStep* step = Undo();
    ASSERT_NE(nullptr, step);
    EXPECT_EQ(3u, step->peer_steps);

    // The server keeps each as its own step, even one that changed nothing (a gain at its bound).
    history.Clear();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Notch(true, i * 100, 1, 0, true));
    }
    grid.ClearSelection();
    ASSERT_TRUE(Notch(true, 400, 1, 0, true));
    EXPECT_EQ(4u, history.UndoCount());
    // A local notch that changes nothing is no step.
    ASSERT_TRUE(Notch(true, 500));
    EXPECT_EQ(4u, history.UndoCount());
}

TEST_F(History, ANewStepEndsTheRedos) {
    ASSERT_TRUE(Keys(+1, 0));
    ASSERT_TRUE(Keys(+1, 0));
    Undo();
    EXPECT_EQ(1u, history.RedoCount());
    ASSERT_TRUE(Keys(-1, 0));
    EXPECT_EQ(0u, history.RedoCount());
    EXPECT_EQ(2u, history.UndoCount());
}

TEST_F(History, ACommandThatInstallsAnotherLengthIsUndoneWhole) {
    const std::vector<SeamSegment> before = grid.CopySeamGrid();
    std::vector<SeamSegment> next(before.begin(), before.begin() + 10);
    next[3].gain = 0.9f;
    next[4].selected = 1;
    ASSERT_TRUE(history.RecordReplace(StepInfo{StepKind::Command, 0, 0, false}, grid.Segments(), next));
    grid.ReplaceSeamGrid(next);
    ASSERT_NE(nullptr, Undo());
    EXPECT_TRUE(SameBytes(before, grid.Segments()));
    ASSERT_NE(nullptr, Redo());
    EXPECT_TRUE(SameBytes(next, grid.Segments()));

    // And back to the longer one, from the shorter.
    std::vector<SeamSegment> longer = before;
    longer.push_back(before[0]);
    ASSERT_TRUE(history.RecordReplace(StepInfo{StepKind::Command, 0, 0, false}, grid.Segments(), longer));
    grid.ReplaceSeamGrid(longer);
    Undo();
    EXPECT_TRUE(SameBytes(next, grid.Segments()));
    Undo();
    EXPECT_TRUE(SameBytes(before, grid.Segments()));
}

TEST_F(History, ResetIsOneStepAndAnUnchangedCommandNone) {
    Keys(+1, 0);
    const std::vector<SeamSegment> tuned = grid.CopySeamGrid();
    std::vector<SeamSegment> reset = tuned;
    for (SeamSegment& s : reset) {
        s.gain = 1.0f;
    }
    ASSERT_TRUE(history.RecordReplace(StepInfo{StepKind::Command, 0, 0, false}, grid.Segments(), reset));
    grid.ReplaceSeamGrid(reset);
    ASSERT_TRUE(history.RecordReplace(StepInfo{StepKind::Command, 0, 0, false}, grid.Segments(), reset));
    EXPECT_EQ(2u, history.UndoCount());
    ASSERT_TRUE(history.RecordReplace(StepInfo{StepKind::Command, 0, 1, false}, grid.Segments(), reset));
    EXPECT_EQ(3u, history.UndoCount()) << "a command that travelled is a step on the server as well";
    Undo();
    Undo();
    EXPECT_TRUE(SameBytes(tuned, grid.Segments()));
}

TEST_F(History, BoundedByStepsAndBytes) {
    GainHistory few(1 << 20, 3);
    std::vector<std::vector<SeamSegment>> states{grid.CopySeamGrid()};
    for (int i = 0; i < 5; ++i) {
        const GainSnapshot before = few.SnapshotAll(grid.Segments());
        grid.StepAllGains(+1);
        ASSERT_TRUE(few.Record(StepInfo{StepKind::Keys, 0, 0, false}, before, grid.Segments()));
        states.push_back(grid.CopySeamGrid());
    }
    EXPECT_EQ(3u, few.UndoCount());
    while (few.Undo(grid.Records()) != nullptr) {
    }
    EXPECT_TRUE(SameBytes(states[2], grid.Segments())) << "the two oldest steps made room";

    // A key step of 16 records takes the step's own size and 12 bytes a record; two fit, not three.
    const uint64_t one = sizeof(HistoryStep) + 16 * sizeof(GainChange);
    GainHistory small(2 * one);
    for (int i = 0; i < 3; ++i) {
        const GainSnapshot before = small.SnapshotAll(grid.Segments());
        grid.StepAllGains(+1);
        ASSERT_TRUE(small.Record(StepInfo{StepKind::Keys, 0, 0, false}, before, grid.Segments()));
        EXPECT_LE(small.Bytes(), 2 * one);
    }
    EXPECT_EQ(2u, small.UndoCount());

    // A step larger than everything allowed cannot be kept, and the steps before it lead nowhere now.
    GainHistory tiny(one - 1);
    grid.SelectSeamAt(128, 64, 64, 32, 70, 10);
    const GainSnapshot notch = tiny.SnapshotSelected(grid.Segments());
    grid.StepSelectedGains(true);
    ASSERT_TRUE(tiny.Record(StepInfo{StepKind::Notch, 0, 0, false}, notch, grid.Segments()));
    ASSERT_EQ(1u, tiny.UndoCount());
    const GainSnapshot all = tiny.SnapshotAll(grid.Segments());
    grid.StepAllGains(+1);
    EXPECT_FALSE(tiny.Record(StepInfo{StepKind::Keys, 0, 0, false}, all, grid.Segments()));
    EXPECT_EQ(0u, tiny.UndoCount());
    EXPECT_EQ(0u, tiny.Bytes());
    EXPECT_FALSE(GainHistory(8).SnapshotAll(grid.Segments()).taken) << "a copy of 64 bytes of gains";
}

TEST_F(History, ClearedOnlyWhenTheGridIsBuiltForOtherSizes) {
    Keys(+1, 0);
    ASSERT_EQ(kGridOk, BuildSeamGridKeepingHistory(grid, history, Sizes(128, 64, 64, 32), cache));
    EXPECT_EQ(1u, history.UndoCount()) << "same sizes keep the grid and its steps";
    ASSERT_EQ(kGridRefused, BuildSeamGridKeepingHistory(grid, history, Sizes(100, 64, 64, 32), cache));
    EXPECT_EQ(1u, history.UndoCount()) << "refused sizes leave the grid as it was";
    ASSERT_EQ(kGridOk, BuildSeamGridKeepingHistory(grid, history, Sizes(128, 64, 64, 32), cache));
    EXPECT_EQ(0u, history.UndoCount()) << "rebuilt: every gain is 1.0 again";

    // A grid changed behind the history's back is never written with steps of another length.
    Keys(+1, 0);
    grid.ReplaceSeamGrid(std::vector<SeamSegment>(4));
    EXPECT_EQ(nullptr, Undo());
    EXPECT_EQ(0u, history.UndoCount());
}
