// The largest walls we expect: 7680 x 4320 with 8 x 8 modules, 2,073,600 edge records.
#include "files/recovery_file.h"
#include "seam/gain_history.h"
#include "seam/seam_grid.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <vector>

namespace {

ScreenParams Wall8K() {
    ScreenParams p;
    p.screen_width = 7680;
    p.screen_height = 4320;
    p.mod_width = 8;
    p.mod_height = 8;
    return p;
}

void ReportPeak(benchmark::State& state) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// A fresh build (the first opening, or sizes that changed): allocation and every record written.
void BM_BuildSeamGrid(benchmark::State& state) {
    for (auto _ : state) {
        SeamGridCache cache;
        SeamGrid grid;
        benchmark::DoNotOptimize(grid.BuildSeamGrid(Wall8K(), cache));
        benchmark::DoNotOptimize(grid.Segments().data());
    }
    state.counters["records"] = 2073600;
    ReportPeak(state);
}
BENCHMARK(BM_BuildSeamGrid)->Unit(benchmark::kMillisecond);

// A rebuild into storage that already holds a grid of another size (the vector only grows).
void BM_RebuildSeamGrid(benchmark::State& state) {
    SeamGridCache cache;
    SeamGrid grid;
    ScreenParams other = Wall8K();
    other.mod_width = 16;
    grid.BuildSeamGrid(Wall8K(), cache);
    for (auto _ : state) {
        grid.BuildSeamGrid(other, cache);
        benchmark::DoNotOptimize(grid.BuildSeamGrid(Wall8K(), cache));
    }
    ReportPeak(state);
}
BENCHMARK(BM_RebuildSeamGrid)->Unit(benchmark::kMillisecond);

// One click: the whole grid's selection is cleared, then one seam is selected.
void BM_SelectSeamAt(benchmark::State& state) {
    SeamGridCache cache;
    SeamGrid grid;
    grid.BuildSeamGrid(Wall8K(), cache);
    uint16_t x = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(grid.SelectSeamAt(7680, 4320, 8, 8, x, 2000));
        x = static_cast<uint16_t>((x + 13) % 7680);
    }
    ReportPeak(state);
}
BENCHMARK(BM_SelectSeamAt)->Unit(benchmark::kMicrosecond);

// One wheel notch as the pattern window takes it: the selected gains kept, stepped, the change recorded
// (merged into the step before, as a turning wheel is).
void BM_NotchWithHistory(benchmark::State& state) {
    SeamGridCache cache;
    SeamGrid grid;
    grid.BuildSeamGrid(Wall8K(), cache);
    grid.SelectSeamAt(7680, 4320, 8, 8, 3001, 2000);
    GainHistory history(1ull << 30);
    int64_t now = 0;
    bool up = true;
    for (auto _ : state) {
        const GainSnapshot before = history.SnapshotSelected(grid.Segments());
        grid.StepSelectedGains(up);
        history.Record(StepInfo{StepKind::Notch, now++, 0, false}, before, grid.Segments());
        up = !up;
    }
    ReportPeak(state);
}
BENCHMARK(BM_NotchWithHistory)->Unit(benchmark::kMillisecond);

// A key press that changes every gain of the wall, recorded, then undone and redone.
void BM_KeyStepUndoRedo(benchmark::State& state) {
    SeamGridCache cache;
    SeamGrid grid;
    grid.BuildSeamGrid(Wall8K(), cache);
    GainHistory history(1ull << 30, 4);
    for (auto _ : state) {
        const GainSnapshot before = history.SnapshotAll(grid.Segments());
        grid.StepAllGains(+1);
        history.Record(StepInfo{StepKind::Keys, 0, 0, false}, before, grid.Segments());
        history.Undo(grid.Records());
        history.Redo(grid.Records());
        grid.ResetGains();
        history.Clear();
    }
    const GainSnapshot before = history.SnapshotAll(grid.Segments());
    grid.StepAllGains(+1);
    history.Record(StepInfo{StepKind::Keys, 0, 0, false}, before, grid.Segments());
    state.counters["step_MiB"] = static_cast<double>(history.Bytes()) / (1024.0 * 1024.0);
    ReportPeak(state);
}
BENCHMARK(BM_KeyStepUndoRedo)->Unit(benchmark::kMillisecond);

} // namespace

// The recovery's share of the window's thread: one slice of a pass (131,072 records, as the tool takes
// them a timer tick at a time) copied between two notches.
void BM_RecoverySlice(benchmark::State& state) {
    SeamGridCache cache;
    SeamGrid grid;
    grid.BuildSeamGrid(Wall8K(), cache);
    std::vector<SeamSegment> mirror(grid.Size());
    size_t next = 0;
    for (auto _ : state) {
        const size_t n = std::min<size_t>(131072, grid.Size() - next);
        std::copy_n(grid.Segments().begin() + static_cast<std::ptrdiff_t>(next), n,
                    mirror.begin() + static_cast<std::ptrdiff_t>(next));
        benchmark::DoNotOptimize(mirror.data());
        next = next + n == grid.Size() ? 0 : next + n;
    }
}
BENCHMARK(BM_RecoverySlice)->Unit(benchmark::kMicrosecond);

// The writer's work for one set of the wall, on its own thread: the hash and the encoding (the disk
// not counted).
void BM_RecoveryEncode(benchmark::State& state) {
    SeamGridCache cache;
    SeamGrid grid;
    grid.BuildSeamGrid(Wall8K(), cache);
    RecoveryState set;
    set.has_grid = true;
    set.records = grid.CopySeamGrid();
    for (auto _ : state) {
        set.content_hash = SeamFileHash(Wall8K(), set.records);
        benchmark::DoNotOptimize(WriteRecoveryFile(set, [](const uint8_t*, size_t) { return true; }));
    }
    ReportPeak(state);
}
BENCHMARK(BM_RecoveryEncode)->Unit(benchmark::kMillisecond);
