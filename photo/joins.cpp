#include "photo/joins.h"

#include <algorithm>
#include <cmath>

namespace {

// The band of lines boundary-2 .. boundary+1 against the `field` lines beyond it on either side
// (boundary-3 and outwards, boundary+2 and outwards), at each place from..to along it: per place, the
// deviation of each of the two edge lines (half the band's light beyond the field). The band holds
// nearly all the light the wall's image spreads from the two lines; a wide field averages a moire
// fringe out of its estimate instead of reading its crest or its trough.
void BandSamples(const WallImage& image, bool vertical, uint32_t boundary, uint32_t field, uint32_t from,
                 uint32_t to, std::vector<float>& out) {
    out.clear();
    const auto at = [&](uint32_t across, uint32_t along) {
        return vertical ? image.At(across, along) : image.At(along, across);
    };
    for (uint32_t p = from; p < to; ++p) {
        float sum = 0;
        for (uint32_t k = 0; k < field; ++k) {
            sum += at(boundary - 3 - k, p) + at(boundary + 2 + k, p);
        }
        const float mean = sum / static_cast<float>(2 * field);
        if (mean <= 0) {
            continue;
        }
        const float band = at(boundary - 2, p) + at(boundary - 1, p) + at(boundary, p) + at(boundary + 1, p);
        out.push_back(0.5f * (band / mean - 4.0f));
    }
}

// The mean of the samples within three spreads of their median: nearly as steady as the plain mean
// under noise, and deaf to the specks and the crossing joins at a line's ends; and how far noise may
// have moved it (its standard error).
JoinReading RobustMean(std::vector<float>& values) {
    JoinReading reading;
    const size_t n = values.size();
    if (n == 0) {
        return reading;
    }
    std::sort(values.begin(), values.end());
    const double median = values[n / 2];
    const double spread = std::max(1e-6, (values[n - 1 - n / 4] - values[n / 4]) / 1.349);
    double sum = 0, squares = 0;
    size_t kept = 0;
    for (const float v : values) {
        if (std::fabs(v - median) <= 3 * spread) {
            sum += v, squares += static_cast<double>(v) * v, ++kept;
        }
    }
    const double mean = sum / static_cast<double>(kept);
    reading.deviation = static_cast<float>(mean);
    reading.uncertainty = kept < 4
                              ? 1.0f
                              : static_cast<float>(std::sqrt(std::max(0.0, squares / kept - mean * mean) /
                                                             static_cast<double>(kept - 1)));
    reading.measured = true;
    return reading;
}

// The field lines on either side of a join: as many as the modules hold clear of their other edges, up
// to six.
uint32_t FieldLines(uint32_t module_size) {
    return std::clamp<uint32_t>(module_size / 2, 4, 9) - 3;
}

} // namespace

JoinReadings MeasureJoins(const WallImage& image, const WallGrid& grid, uint32_t margin) {
    JoinReadings readings;
    const size_t modules = static_cast<size_t>(grid.columns) * grid.rows;
    readings.right.assign(modules, JoinReading{});
    readings.below.assign(modules, JoinReading{});
    std::vector<float> samples;
    samples.reserve(std::max(grid.mod_width, grid.mod_height));
    for (uint32_t r = 0; r < grid.rows; ++r) {
        for (uint32_t c = 0; c < grid.columns; ++c) {
            const size_t m = static_cast<size_t>(r) * grid.columns + c;
            if (c + 1 < grid.columns) {
                BandSamples(image, true, (c + 1) * grid.mod_width, FieldLines(grid.mod_width),
                            r * grid.mod_height + margin, (r + 1) * grid.mod_height - margin, samples);
                readings.right[m] = RobustMean(samples);
            }
            if (r + 1 < grid.rows) {
                BandSamples(image, false, (r + 1) * grid.mod_height, FieldLines(grid.mod_height),
                            c * grid.mod_width + margin, (c + 1) * grid.mod_width - margin, samples);
                readings.below[m] = RobustMean(samples);
            }
        }
    }
    return readings;
}

namespace {

// The lines inside the modules across one direction, and what the band reads at each.
struct InsideLines {
    const WallImage& image;
    bool vertical;
    uint32_t margin, size, length, across, along, field, first, last;
    mutable std::vector<float> samples;

    InsideLines(const WallImage& i, const WallGrid& grid, bool v, uint32_t m)
        : image(i), vertical(v), margin(m), size(v ? grid.mod_width : grid.mod_height),
          length(v ? grid.mod_height : grid.mod_width), across(v ? grid.columns : grid.rows),
          along(v ? grid.rows : grid.columns),
          // Every line read stays three lines clear of the module's edges, whose joins spread two lines
          // far; offset 0 is the join itself.
          field(std::max<uint32_t>(1, std::min(FieldLines(size), size > 14 ? (size - 14) / 2 : 0))),
          first(field + 5), last(size - std::min(size, field + 5)) {}
    JoinReading Read(uint32_t a, uint32_t b, uint32_t offset) const {
        BandSamples(image, vertical, a * size + offset, field, b * length + margin, (b + 1) * length - margin,
                    samples);
        return RobustMean(samples);
    }
};

// How far the lines inside the modules stray by the photo's noise and moire alone: from a sample of at
// most about 50,000 of them. False when there is none.
bool Spread(const InsideLines& lines, StrayLines& stray) {
    std::vector<float> sizes, ratios;
    const uint64_t inside = static_cast<uint64_t>(lines.last + 1 - lines.first) * lines.across * lines.along;
    const uint32_t stride = static_cast<uint32_t>(std::max<uint64_t>(1, inside / 50000));
    uint64_t k = 0;
    for (uint32_t offset = lines.first; offset <= lines.last; ++offset) {
        for (uint32_t a = 0; a < lines.across; ++a) {
            for (uint32_t b = 0; b < lines.along; ++b) {
                const JoinReading r = k++ % stride == 0 ? lines.Read(a, b, offset) : JoinReading{};
                if (r.measured) {
                    sizes.push_back(std::fabs(r.deviation));
                    ratios.push_back(std::fabs(r.deviation) / std::max(r.uncertainty, 1e-6f));
                }
            }
        }
    }
    if (sizes.empty()) {
        return false;
    }
    std::sort(sizes.begin(), sizes.end());
    stray.spread_percent = 100.0 * sizes[sizes.size() / 2];
    stray.tail_percent = 100.0 * sizes[sizes.size() - 1 - sizes.size() / 100];
    std::nth_element(ratios.begin(), ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2),
                     ratios.end());
    stray.noise_scale = std::max(1.0, ratios[ratios.size() / 2] / 0.6745); // the median of |normal| is 0.6745
    return true;
}

} // namespace

StrayLines FindStrayLines(const WallImage& image, const WallGrid& grid, bool vertical, uint32_t margin,
                          double threshold) {
    StrayLines stray;
    stray.vertical = vertical;
    const InsideLines lines(image, grid, vertical, margin);
    if (lines.first > lines.last || !Spread(lines, stray)) {
        return stray; // no room inside these modules for a line and its field
    }
    // Per line inside the modules (and the join itself), the two largest deviations among the modules
    // that stand out of their own noise. Moire is uneven at every line alike; a join the grid does not
    // know stands out at its own line, in several modules, or far out in one.
    struct Top {
        uint32_t offset;
        float first = 0, second = 0;
        uint32_t count = 0; // lines beyond the threshold
    };
    std::vector<Top> tops;
    for (uint32_t offset = 0; offset <= lines.last; offset = offset == 0 ? lines.first : offset + 1) {
        Top top{offset};
        for (uint32_t a = offset == 0 ? 1 : 0; a < lines.across; ++a) {
            for (uint32_t b = 0; b < lines.along; ++b) {
                const JoinReading r = lines.Read(a, b, offset);
                const float deviation = std::fabs(r.deviation);
                if (!r.measured || deviation <= 5 * stray.noise_scale * r.uncertainty) {
                    continue;
                }
                top.count += deviation > threshold ? 1 : 0;
                top.second = std::max(top.second, std::min(top.first, deviation));
                top.first = std::max(top.first, deviation);
            }
        }
        if (offset == 0) {
            stray.joins_count = top.count;
        } else {
            tops.push_back(top);
        }
    }
    std::vector<float> seconds;
    for (const Top& t : tops) {
        seconds.push_back(t.second);
    }
    if (seconds.empty()) {
        return stray;
    }
    std::nth_element(seconds.begin(), seconds.begin() + static_cast<std::ptrdiff_t>(seconds.size() / 2),
                     seconds.end());
    const double typical = seconds[seconds.size() / 2];
    for (const Top& t : tops) {
        const bool repeated = t.second > std::max(2 * threshold, 3 * typical);
        const bool alone = t.first > std::max(3 * threshold, 5 * typical);
        if ((repeated || alone) && t.first > stray.worst_percent / 100) {
            stray.worst_offset = t.offset;
            stray.worst_count = std::max<uint32_t>(t.count, 1);
            stray.worst_percent = 100.0 * t.first;
        }
    }
    return stray;
}
