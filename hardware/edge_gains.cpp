#include "hardware/edge_gains.h"

#include "hardware/card_layout.h"
#include "hardware/coefficient_block.h"
#include "hardware/correction_switch.h"
#include "hardware/send_seam_data.h"

#include <algorithm>

namespace {

struct Released {
    ICommInterface* device;
    ~Released() { device->Release(); }
};

// The pixel at the middle of a record's line (the line covers its first end point up to the second).
struct Sample {
    uint32_t y = 0;
    uint32_t x = 0;
    size_t record = 0;
    bool operator<(const Sample& o) const { return y != o.y ? y < o.y : x < o.x; }
};

std::vector<Sample> Samples(const std::vector<SeamSegment>& grid) {
    std::vector<Sample> samples;
    samples.reserve(grid.size());
    for (size_t i = 0; i < grid.size(); ++i) {
        const SeamSegment& s = grid[i];
        if (s.x0 < 0 || s.y0 < 0 || s.x1 < s.x0 || s.y1 < s.y0) {
            continue;
        }
        const bool along_x = s.horizontal != 0;
        samples.push_back({static_cast<uint32_t>(along_x ? s.y0 : s.y0 + (s.y1 - s.y0) / 2),
                           static_cast<uint32_t>(along_x ? s.x0 + (s.x1 - s.x0) / 2 : s.x0), i});
    }
    std::sort(samples.begin(), samples.end());
    return samples;
}

// The rows of the card that hold samples, read in spans: rows close together (less than 16 KiB of
// unneeded bytes between them) in one read, since a read's round trip costs more than moving a few
// rows. False when a read fails or a span would exceed `budget`.
bool ReadCard(ICommInterface& device, int port, int address, const CardRect& rect,
              const std::vector<Sample>& samples, uint64_t budget, std::vector<float>& gains) {
    constexpr uint64_t kWorthSkipping = 16 * 1024;
    constexpr uint64_t kLargestRead = 16u << 20;
    const uint64_t stride = BlockStride(rect.columns);
    const auto first = std::lower_bound(samples.begin(), samples.end(), Sample{rect.first_row, 0, 0});
    const auto last = std::lower_bound(first, samples.end(), Sample{rect.first_row + rect.rows, 0, 0});
    std::vector<uint8_t> span;
    for (auto at = first; at != last;) {
        // The span: from this sample's row to the last row within reach of the one before it.
        auto end = at;
        uint32_t to = at->y;
        while (end != last &&
               (static_cast<uint64_t>(end->y - to) * stride <= kWorthSkipping || end->y == to) &&
               (end->y - at->y + 1) * stride <= kLargestRead) {
            to = end->y;
            ++end;
        }
        const uint64_t bytes = (to - at->y + 1ull) * stride;
        if (bytes > budget) {
            return false;
        }
        span.resize(static_cast<size_t>(bytes));
        const uint32_t offset = static_cast<uint32_t>((at->y - rect.first_row) * stride);
        if (device.ReadCardRegister(port, address, kCoefficientRegister + offset, span.data(),
                                    static_cast<uint32_t>(bytes)) != 0) {
            return false;
        }
        for (auto s = at; s != end; ++s) {
            if (s->x >= rect.first_column && s->x < rect.first_column + rect.columns) {
                // The cards keep each 32-bit word's bytes reversed.
                gains[s->record] = span[(s->y - at->y) * stride + ((s->x - rect.first_column) ^ 3u)] / 128.0f;
            }
        }
        at = end;
    }
    return true;
}

} // namespace

CardEdgeGains ReadCardEdgeGains(ICommInterfaceMan& manager, const std::vector<SeamSegment>& grid,
                                uint64_t budget) {
    CardEdgeGains result;
    ICommInterface* device = OpenCommInterface(manager);
    if (device == nullptr) {
        return result;
    }
    Released release{device};
    uint8_t table[256] = {};
    if (device->ReadSenderRegister(kPortOffsetRegister, table, 64) != 0) {
        return result;
    }
    const PortOffsetTable offsets = ParsePortOffsetTable(table);
    const int ports = std::min(device->GetPortCount(), kOffsetTablePorts);
    bool on = false, answered = false;
    for (int p = 0; p < ports && !answered; ++p) {
        for (int c = 0; c < device->GetCardCount(p, 2) && !answered; ++c) {
            uint8_t value[4] = {};
            if (device->ReadCardRegister(p, c | kCardAddressBase, kCorrectionSwitchRegister, value, 4) == 0) {
                answered = true;
                on = value[3] == kCorrectionOn;
            }
        }
    }
    if (!answered) {
        return result;
    }
    if (!on) {
        result.correction = CardsCorrection::Off;
        return result;
    }
    const std::vector<Sample> samples = Samples(grid);
    std::vector<float> gains(grid.size(), 1.0f);
    for (int p = 0; p < ports; ++p) {
        const int cards = device->GetCardCount(p, 2);
        for (int c = 0; c < cards; ++c) {
            CardRect rect;
            if (ReadCardRect(*device, p, c | kCardAddressBase, offsets, rect) != 0 ||
                !ReadCard(*device, p, c | kCardAddressBase, rect, samples, budget, gains)) {
                return result;
            }
        }
    }
    result.correction = CardsCorrection::On;
    result.gains = std::move(gains);
    return result;
}
