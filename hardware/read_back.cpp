#include "hardware/read_back.h"

#include <algorithm>

void AverageSegmentGains(const GainMap& map, std::vector<SeamSegment>& segments) {
    for (SeamSegment& s : segments) {
        float sum = 0.0f;
        int64_t count = 0;
        if (s.horizontal == 1) {
            if (s.y0 >= 0 && s.y0 < map.height) {
                for (int64_t x = std::max<int64_t>(s.x0, 0); x < std::min<int64_t>(s.x1, map.width); ++x) {
                    sum += map.At(x, s.y0);
                    ++count;
                }
            }
        } else if (s.x0 >= 0 && s.x0 < map.width) {
            for (int64_t y = std::max<int64_t>(s.y0, 0); y < std::min<int64_t>(s.y1, map.height); ++y) {
                sum += map.At(s.x0, y);
                ++count;
            }
        }
        s.gain = count == 0 ? 1.0f : sum / static_cast<float>(count);
    }
}
