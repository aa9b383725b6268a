#include "seam/seam_grid.h"

#include <new>
#include <stdexcept>

SeamGridCache& ProcessSeamGridCache() {
    static SeamGridCache cache;
    return cache;
}

namespace {

// The four sizes as the grid reads them. The edit fields are signed, but the grid works on unsigned
// sizes: a negative width becomes a very large one, which the record-count bound then refuses.
SeamGridCache GridSizes(const ScreenParams& params) {
    return SeamGridCache{static_cast<uint32_t>(params.screen_width),
                         static_cast<uint32_t>(params.screen_height), static_cast<uint32_t>(params.mod_width),
                         static_cast<uint32_t>(params.mod_height)};
}

bool SameSizes(const SeamGridCache& a, const SeamGridCache& b) {
    return a.screen_width == b.screen_width && a.screen_height == b.screen_height &&
           a.mod_width == b.mod_width && a.mod_height == b.mod_height;
}

// Modules of a grid that can be built from these sizes; false when they are refused.
bool BuildableModules(const SeamGridCache& s, uint64_t& cols, uint64_t& rows) {
    if (s.mod_width == 0 || s.mod_height == 0 || s.screen_width % s.mod_width != 0 ||
        s.screen_height % s.mod_height != 0) {
        return false;
    }
    cols = s.screen_width / s.mod_width;
    rows = s.screen_height / s.mod_height;
    return cols * rows <= UINT32_MAX / 4; // both below 2^32: the product fits in 64 bits
}

} // namespace

uint64_t SeamGridBuildBytes(const ScreenParams& params, const SeamGridCache& cache) {
    const SeamGridCache sizes = GridSizes(params);
    uint64_t cols = 0;
    uint64_t rows = 0;
    if (SameSizes(sizes, cache) || !BuildableModules(sizes, cols, rows)) {
        return 0;
    }
    return 4 * cols * rows * sizeof(SeamSegment);
}

int SeamGrid::BuildSeamGrid(const ScreenParams& params, SeamGridCache& cache) {
    const SeamGridCache sizes = GridSizes(params);
    const bool unchanged = SameSizes(sizes, cache);
    // The cache always takes the sizes of this call, refused or not: reopening with sizes A, then B
    // that do not divide, then A again must rebuild, because the grid held no longer matches A's gains.
    cache = sizes;

    if (sizes.mod_width == 0 || sizes.mod_height == 0) {
        return kGridRefused;
    }
    if (unchanged) {
        return kGridOk;
    }
    uint64_t cols = 0;
    uint64_t rows = 0;
    if (!BuildableModules(sizes, cols, rows)) {
        return kGridRefused;
    }
    const GridIndex index{cols, rows};
    const uint64_t modules = index.Modules();
    const uint32_t mod_width = sizes.mod_width;
    const uint32_t mod_height = sizes.mod_height;
    try {
        // Records that already existed keep their selected flag; resize zero-fills new ones.
        segments_.resize(static_cast<size_t>(4 * modules));
    } catch (const std::bad_alloc&) {
        return kGridRefused; // resize gives the strong guarantee: the grid is as it was
    } catch (const std::length_error&) {
        return kGridRefused;
    }

    auto put = [this](uint64_t index, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1,
                      int32_t horizontal) {
        SeamSegment& s = segments_[static_cast<size_t>(index)];
        s.x0 = static_cast<int32_t>(x0);
        s.y0 = static_cast<int32_t>(y0);
        s.x1 = static_cast<int32_t>(x1);
        s.y1 = static_cast<int32_t>(y1);
        s.horizontal = horizontal;
        s.gain = 1.0f;
    };

    // Each record is written once, so one pass over the modules fills all four blocks.
    for (uint32_t r = 0; r < rows; ++r) {
        const uint32_t top = r * mod_height;
        const uint32_t bottom = (r + 1) * mod_height - 1;
        for (uint32_t c = 0; c < cols; ++c) {
            const uint32_t left = c * mod_width;
            const uint32_t right = (c + 1) * mod_width - 1;
            put(index.Top(c, r), left, top, right, top, 1);
            put(index.Bottom(c, r), left, bottom, right, bottom, 1);
            put(index.Left(c, r), left, top, left, bottom, 0);
            put(index.Right(c, r), right, top, right, bottom, 0);
        }
    }
    return kGridOk;
}

void SeamGrid::ClearSelection() {
    for (SeamSegment& s : segments_) {
        s.selected = 0;
    }
}

// The selection is computed from the sizes alone, but the grid held may be shorter than those sizes
// imply (an imported file, a refused rebuild): indices past its end are skipped, never written.
void SeamGrid::Select(uint64_t index) {
    if (index < segments_.size()) {
        segments_[static_cast<size_t>(index)].selected = 1;
    }
}

int SeamGrid::SelectSeamAt(uint32_t screen_width, uint32_t screen_height, uint32_t mod_width,
                           uint32_t mod_height, uint16_t x, uint16_t y) {
    ClearSelection(); // before any test: a refused click also leaves nothing selected
    if (mod_width == 0 || mod_height == 0) {
        return kSelectZeroModule;
    }
    if (screen_width % mod_width != 0 || screen_height % mod_height != 0 || x >= screen_width ||
        y >= screen_height) {
        return kSelectOutside;
    }

    const uint64_t c = x / mod_width; // in the 64 bits of the record indices
    const uint32_t xr = x % mod_width;
    const uint64_t r = y / mod_height;
    const uint32_t yr = y % mod_height;
    const uint64_t cols = screen_width / mod_width;
    const uint64_t rows = screen_height / mod_height;
    const GridIndex index{cols, rows};

    // The module's two diagonals cut it into four triangles; the one holding the point names the
    // nearest edge. Single precision throughout, so that ties fall as they always have.
    const float ratio = static_cast<float>(mod_height) / static_cast<float>(mod_width);
    const float t = static_cast<float>(xr) * ratio;
    const float u = static_cast<float>(mod_height) - t;
    const bool below_main = static_cast<float>(yr) > t;
    const bool below_anti = static_cast<float>(yr) > u;

    if (below_main && !below_anti) { // left
        Select(index.Left(c, r));
        if (c > 0 && cols > 1) {
            Select(index.Right(c - 1, r));
        }
    } else if (!below_main && !below_anti) { // top
        Select(index.Top(c, r));
        if (r > 0 && rows > 1) {
            Select(index.Bottom(c, r - 1));
        }
    } else if (below_main && below_anti) { // bottom
        Select(index.Bottom(c, r));
        if (r + 1 < rows && rows > 1) {
            Select(index.Top(c, r + 1));
        }
    } else { // right
        Select(index.Right(c, r));
        if (c + 1 < cols && cols > 1) {
            Select(index.Left(c + 1, r));
        }
    }
    return kGridOk;
}

int64_t SeamGrid::FirstSelectedIndex() const {
    for (size_t i = 0; i < segments_.size(); ++i) {
        if (segments_[i].selected != 0) {
            return static_cast<int64_t>(i);
        }
    }
    return -1;
}

bool SeamGrid::CollectSelected(std::vector<SeamSegment>& out) const {
    out.clear();
    for (const SeamSegment& s : segments_) {
        if (s.selected != 0) {
            out.push_back(s);
        }
    }
    return !out.empty();
}

// The wheel steps in single precision and snaps to the bound once it has been passed.
void SeamGrid::StepSelectedGains(bool up) {
    for (SeamSegment& s : segments_) {
        if (s.selected == 0) {
            continue;
        }
        if (up) {
            s.gain = (1.4f > s.gain) ? s.gain + 0.005f : 1.4f;
        } else {
            s.gain = (s.gain > 0.7f) ? s.gain - 0.005f : 0.7f;
        }
    }
}

// The keys step in double precision against double bounds and never snap; a gain the wheel left at
// 1.4f (just below the double 1.4) therefore still takes one more key step up.
void SeamGrid::StepAllGains(int direction) {
    for (SeamSegment& s : segments_) {
        const double g = s.gain;
        if (direction > 0) {
            if (1.4 > g) {
                s.gain = static_cast<float>(g + 0.005);
            }
        } else if (g > 0.7) {
            s.gain = static_cast<float>(g - 0.005);
        }
    }
}

void SeamGrid::ResetGains() {
    for (SeamSegment& s : segments_) {
        s.gain = 1.0f;
    }
}

std::vector<SeamSegment> FreshSeamGrid(const ScreenParams& params) {
    SeamGrid grid;
    SeamGridCache cache;
    grid.BuildSeamGrid(params, cache);
    return grid.CopySeamGrid();
}
