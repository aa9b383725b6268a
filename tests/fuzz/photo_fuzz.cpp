// A photo as the correction reads it: any bytes as a picture file, then the wall searched and measured
// on whatever decodes. Nothing may crash, read outside the picture or allocate beyond the budget.
#include "photo/seam_photo.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const struct Grid {
        ScreenParams params{};
        std::vector<SeamSegment> segments;
        Grid() {
            params.screen_width = 64, params.screen_height = 32, params.mod_width = 16,
            params.mod_height = 16;
            segments = FreshSeamGrid(params);
        }
    } grid;
    PhotoInput input;
    input.params = grid.params;
    input.grid = grid.segments;
    input.shown = (size & 1) != 0 ? ShownBy::PhotoMode : ShownBy::Cards;
    input.budget = 64u << 20;
    const PhotoCorrection result = CorrectFromPhotoFile(data, size, input);
    if (result.outcome == PhotoOutcome::Corrected && result.gains.size() != grid.segments.size()) {
        __builtin_trap();
    }
    return 0;
}
