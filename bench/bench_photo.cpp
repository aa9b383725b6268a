// Correction from a photo of a full-HD wall taken with a 24-megapixel camera (6000 x 4000) as the
// simulator's camera records it (emitters as dots, a lens that bends and blurs, a Bayer sensor, an RGB
// JPEG with its colour at half resolution): decoding, finding the wall and its lens, reading every
// wall pixel, measuring every join, choosing the gains.
// 1080 rows take no module 32 high, so the modules are 64 x 30 (30 x 36 of them, 2,106 joins).
#include "photo/seam_photo.h"
#include "tools/ledsim/camera.h"
#include "tools/ledsim/wall.h"

#include <benchmark/benchmark.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace {

ScreenParams FullHd() {
    ScreenParams p{};
    p.screen_width = 1920, p.screen_height = 1080, p.mod_width = 64, p.mod_height = 30;
    p.gray_scale = 128, p.gamma = 2.2;
    return p;
}

struct Shot {
    std::vector<uint8_t> jpeg;
    std::vector<SeamSegment> grid;
    uint32_t width = 0, height = 0;
};

const Shot& TheShot() {
    static const Shot shot = [] {
        const ScreenParams p = FullHd();
        ledsim::WallDescription described;
        described.module_width = 64, described.module_height = 30;
        described.random = true, described.seed = 20261206, described.low = 0.9f, described.high = 1.1f;
        described.share = 0.05;
        const ledsim::Wall wall = ledsim::MakeWall(described, 1920, 1080);
        const ledsim::Picture picture = ledsim::RenderWall(wall, {}, 1920, 1080, 128, 1.0);
        ledsim::CameraOptions camera;
        camera.width = 6000, camera.height = 4000;
        const ledsim::CameraPicture photo = ledsim::TakePhoto(picture.levels, 1920, 1080, camera);
        Shot s;
        s.width = photo.width, s.height = photo.height;
        stbi_write_jpg_to_func(
            [](void* context, void* data, int size) {
                auto* out = static_cast<std::vector<uint8_t>*>(context);
                out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
            },
            &s.jpeg, static_cast<int>(photo.width), static_cast<int>(photo.height),
            static_cast<int>(photo.channels), photo.pixels.data(), camera.quality);
        SeamGrid grid;
        SeamGridCache cache;
        grid.BuildSeamGrid(p, cache);
        s.grid = grid.CopySeamGrid();
        return s;
    }();
    return shot;
}

PhotoInput Input(const Shot& shot) {
    PhotoInput input;
    input.params = FullHd();
    input.grid = shot.grid;
    input.budget = 1ull << 34;
    return input;
}

long ResidentBytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// The memory one correction adds at its peak, measured in a child process: its peak resident size
// starts at what it shares with this process when forked, so the difference is the correction's own.
double PeakBytes(const Shot& shot) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        const long before = ResidentBytes();
        const PhotoCorrection r = CorrectFromPhotoFile(shot.jpeg.data(), shot.jpeg.size(), Input(shot));
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const double peak = r.outcome == PhotoOutcome::Corrected ? usage.ru_maxrss * 1024.0 - before : -1;
        (void)!write(pipe_fds[1], &peak, sizeof(peak));
        _exit(0);
    }
    double peak = -1;
    (void)!read(pipe_fds[0], &peak, sizeof(peak));
    waitpid(child, nullptr, 0);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return peak;
}

void BM_CorrectFrom24MegapixelPhoto(benchmark::State& state) {
    const Shot& shot = TheShot();
    const PhotoInput input = Input(shot);
    PhotoCorrection r;
    for (auto _ : state) {
        r = CorrectFromPhotoFile(shot.jpeg.data(), shot.jpeg.size(), input);
        benchmark::DoNotOptimize(r.gains.data());
    }
    if (r.outcome != PhotoOutcome::Corrected) {
        state.SkipWithError(r.why.c_str());
        return;
    }
    const double pixels = static_cast<double>(shot.width) * shot.height;
    const double grid_bytes = static_cast<double>(shot.grid.size() * sizeof(SeamSegment));
    const double peak = PeakBytes(shot);
    state.counters["photo_MP"] = pixels / 1e6;
    state.counters["changed_seams"] = r.changed_seams;
    state.counters["peak_MiB"] = peak / 1048576.0;
    state.counters["peak_bytes_per_photo_pixel"] = (peak - grid_bytes) / pixels;
}
BENCHMARK(BM_CorrectFrom24MegapixelPhoto)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
