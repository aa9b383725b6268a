#include "hardware/send_seam_data.h"

#include "hardware/card_layout.h"
#include "hardware/coefficient_block.h"
#include "hardware/gain_map.h"

#include <new>

namespace {

const uint8_t kGateOpen[4] = {0x00, 0x00, 0x00, 0x10};
const uint8_t kGateClosed[4] = {0x00, 0x00, 0x00, 0x00};

struct Released {
    ICommInterface* device;
    ~Released() { device->Release(); }
};

// Cuts, quantises and writes one card; false when its block could not be allocated.
bool SendCard(ICommInterface& device, int port, int card_address, const GainMap& map, const CardRect& rect,
              uint64_t memory_budget) {
    const uint64_t bytes = BlockBytes(rect);
    std::vector<uint8_t> block;
    if (bytes > memory_budget) {
        return false;
    }
    try {
        block.resize(static_cast<size_t>(bytes));
    } catch (const std::bad_alloc&) {
        return false;
    }
    FillCoefficientBlock(map, rect, block.data());
    device.WriteCardRegister(port, card_address, kUploadGateRegister, kGateOpen, 4, 0);
    device.WriteCardRegister(port, card_address, kCoefficientRegister, block.data(),
                             static_cast<uint32_t>(block.size()), 0);
    device.WriteCardRegister(port, card_address, kUploadGateRegister, kGateClosed, 4, 0);
    return true;
}

} // namespace

SendOutcome SendSeamData(ICommInterfaceMan& manager, const ScreenParams& params,
                         const std::vector<SeamSegment>& segments, uint64_t memory_budget,
                         SendProgress& progress) {
    GainMap map;
    if (!MakeGainMap(params.screen_width, params.screen_height, memory_budget, map)) {
        progress.Trace(L"memory errer");
        return SendOutcome::MemoryError;
    }
    RasteriseSegments(map, segments);

    ICommInterface* device = OpenCommInterface(manager);
    if (device == nullptr) {
        return SendOutcome::DeviceError;
    }
    Released release{device};
    uint8_t table[256] = {};
    if (device->ReadSenderRegister(kPortOffsetRegister, table, 64) != 0) {
        return SendOutcome::DeviceError;
    }
    const PortOffsetTable offsets = ParsePortOffsetTable(table);
    const int ports = device->GetPortCount();
    uint64_t card_total = 0;
    for (int p = 0; p < ports; ++p) {
        const int cards = device->GetCardCount(p, 2);
        card_total += static_cast<uint64_t>(cards > 0 ? cards : 0);
        if (p >= kOffsetTablePorts && cards > 0) {
            // The sending card's table places 16 ports; a card beyond them has no place on the screen.
            progress.Trace(L"port " + std::to_wstring(p) + L" has no offset entry: its " +
                           std::to_wstring(cards) + L" cards are skipped");
            progress.Progress(static_cast<uint64_t>(p) + 1, static_cast<uint64_t>(ports));
            continue;
        }
        for (int c = 0; c < cards; ++c) {
            const int address = c | kCardAddressBase;
            CardRect rect;
            if (ReadCardRect(*device, p, address, offsets, rect)) {
                if (SendCard(*device, p, address, map, rect, memory_budget)) {
                    progress.Trace(L"port " + std::to_wstring(p) + L": card " + std::to_wstring(c + 1) +
                                   L" of " + std::to_wstring(cards));
                } else {
                    progress.Trace(L"memory errer");
                }
            }
            // The bar moves per card within its port, ports taking equal shares.
            progress.Progress(static_cast<uint64_t>(p) * cards + c + 1, static_cast<uint64_t>(ports) * cards);
        }
        if (cards <= 0) {
            progress.Progress(static_cast<uint64_t>(p) + 1, static_cast<uint64_t>(ports));
        }
    }
    return card_total == 0 ? SendOutcome::DeviceError : SendOutcome::Finished;
}
