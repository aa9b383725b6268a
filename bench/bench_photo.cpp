// Correction from a photo of a full-HD wall taken with a 24-megapixel camera (6000 x 4000) as the
// simulator's camera records it (emitters as dots, a lens that bends and blurs, a Bayer sensor, an RGB
// JPEG with its colour at half resolution): decoding, finding the wall and its lens, reading every
// wall pixel, measuring every join, choosing the gains.
// 1080 rows take no module 32 high, so the modules are 64 x 30 (30 x 36 of them, 2,106 joins).
// And a 4K wall of the same modules (60 x 72) too large for one photo, photographed in the photo mode's
// six regions by a 23.5-megapixel camera (5600 x 4200), each region lit alone.
#include "photo/seam_photo.h"
#include "tools/ledsim/camera.h"
#include "tools/ledsim/wall.h"

#include <benchmark/benchmark.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace {

ScreenParams Wall(int32_t width, int32_t height) {
    ScreenParams p{};
    p.screen_width = width, p.screen_height = height, p.mod_width = 64, p.mod_height = 30;
    p.gray_scale = 128, p.gamma = 2.2;
    return p;
}

ScreenParams FullHd() {
    return Wall(1920, 1080);
}

ledsim::Picture WallPicture(uint32_t width, uint32_t height, const std::vector<float>* input = nullptr) {
    ledsim::WallDescription described;
    described.module_width = 64, described.module_height = 30;
    described.random = true, described.seed = 20261206, described.low = 0.9f, described.high = 1.1f;
    described.share = 0.05;
    const ledsim::Wall wall = ledsim::MakeWall(described, width, height);
    return ledsim::RenderWall(wall, {}, width, height, 128, 1.0, input);
}

std::vector<uint8_t> Jpeg(const ledsim::CameraPicture& photo, int quality) {
    std::vector<uint8_t> jpeg;
    stbi_write_jpg_to_func(
        [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<uint8_t>*>(context);
            out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        },
        &jpeg, static_cast<int>(photo.width), static_cast<int>(photo.height),
        static_cast<int>(photo.channels), photo.pixels.data(), quality);
    return jpeg;
}

struct Shot {
    std::vector<uint8_t> jpeg;
    std::vector<SeamSegment> grid;
    uint32_t width = 0, height = 0;
};

const Shot& TheShot() {
    static const Shot shot = [] {
        const ledsim::Picture picture = WallPicture(1920, 1080);
        ledsim::CameraOptions camera;
        camera.width = 6000, camera.height = 4000;
        const ledsim::CameraPicture photo = ledsim::TakePhoto(picture.levels, 1920, 1080, camera);
        Shot s;
        s.width = photo.width, s.height = photo.height;
        s.jpeg = Jpeg(photo, camera.quality);
        s.grid = FreshSeamGrid(FullHd());
        return s;
    }();
    return shot;
}

struct RegionShots {
    std::vector<PhotoRegion> regions;
    std::vector<std::vector<uint8_t>> jpegs;
    std::vector<SeamSegment> grid;
    uint32_t width = 0, height = 0;
};

const RegionShots& TheRegionShots() {
    static const RegionShots shots = [] {
        RegionShots s;
        s.regions = PhotoRegions(Wall(3840, 2160), 5600);
        s.grid = FreshSeamGrid(Wall(3840, 2160));
        for (const PhotoRegion& region : s.regions) {
            std::vector<float> input(3840ull * 2160, 0.0f); // the photo mode: this region lit, the rest black
            for (uint32_t y = region.y; y < region.y + region.height; ++y) {
                std::fill_n(input.begin() + y * 3840ll + region.x, region.width, 128.0f);
            }
            const ledsim::Picture picture = WallPicture(3840, 2160, &input);
            ledsim::CameraOptions camera;
            camera.width = 5600, camera.height = 4200;
            camera.lit[0] = region.x, camera.lit[1] = region.y, camera.lit[2] = region.width,
            camera.lit[3] = region.height;
            const ledsim::CameraPicture photo = ledsim::TakePhoto(picture.levels, 3840, 2160, camera);
            s.width = photo.width, s.height = photo.height;
            s.jpegs.push_back(Jpeg(photo, camera.quality));
        }
        return s;
    }();
    return shots;
}

PhotoCorrection CorrectFromRegions(const RegionShots& shots) {
    PhotoInput input;
    input.params = Wall(3840, 2160);
    input.grid = shots.grid;
    input.budget = 1ull << 34;
    return CorrectFromRegionPhotos(input, shots.regions,
                                   [&shots](size_t k, std::vector<uint8_t>& bytes, std::string&) {
                                       bytes = shots.jpegs[k];
                                       return true;
                                   });
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

// The process's peak resident size since it was last reset, in bytes.
long PeakResidentBytes() {
    long kib = -1;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof(line), f) != nullptr) {
            if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) {
                break;
            }
        }
        std::fclose(f);
    }
    return kib * 1024;
}

// The memory one correction adds at its peak, measured in a child process: the heap this process has
// freed is given back first and the peak reset, so that pages freed here and reused there are not
// missed, and the difference is the correction's own.
double PeakBytes(const std::function<bool()>& correct) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        malloc_trim(0);
        if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", f); // resets the peak to what is resident now
            std::fclose(f);
        }
        const long before = ResidentBytes();
        const bool corrected = correct();
        const double peak = corrected ? static_cast<double>(PeakResidentBytes() - before) : -1;
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
    const double peak = PeakBytes([&shot] {
        return CorrectFromPhotoFile(shot.jpeg.data(), shot.jpeg.size(), Input(shot)).outcome ==
               PhotoOutcome::Corrected;
    });
    state.counters["photo_MP"] = pixels / 1e6;
    state.counters["changed_seams"] = r.changed_seams;
    state.counters["peak_MiB"] = peak / 1048576.0;
    state.counters["peak_bytes_per_photo_pixel"] = (peak - grid_bytes) / pixels;
}
BENCHMARK(BM_CorrectFrom24MegapixelPhoto)->Unit(benchmark::kMillisecond)->Iterations(3);

// Target: under 10 s, and at its peak no more than one photo's 4 bytes a pixel and 64 MiB.
void BM_CorrectFromSixRegionPhotosOf4kWall(benchmark::State& state) {
    const RegionShots& shots = TheRegionShots();
    PhotoCorrection r;
    for (auto _ : state) {
        r = CorrectFromRegions(shots);
        benchmark::DoNotOptimize(r.gains.data());
    }
    if (r.outcome != PhotoOutcome::Corrected || !r.unusable.empty()) {
        state.SkipWithError((r.why + (r.unusable.empty() ? "" : r.unusable[0])).c_str());
        return;
    }
    const double pixels = static_cast<double>(shots.width) * shots.height;
    const double peak =
        PeakBytes([&shots] { return CorrectFromRegions(shots).outcome == PhotoOutcome::Corrected; });
    state.counters["regions"] = static_cast<double>(shots.regions.size());
    state.counters["photo_MP"] = pixels / 1e6;
    state.counters["peak_MiB"] = peak / 1048576.0;
    state.counters["peak_over_one_photo_MiB"] = (peak - 4 * pixels) / 1048576.0;
}
BENCHMARK(BM_CorrectFromSixRegionPhotosOf4kWall)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
