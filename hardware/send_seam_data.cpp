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

// How one card went: its three writes all arrived, or it failed, or the link itself is gone (a
// negative result: the library gives up the connection, and every later call would fail as well).
// TooLarge and NoMemory are found before the card's gate is opened.
enum class CardResult { Written, Failed, TooLarge, NoMemory, LinkLost };

CardResult Result(int rc) {
    return rc == 0 ? CardResult::Written : rc < 0 ? CardResult::LinkLost : CardResult::Failed;
}

// Cuts, quantises and writes one card. Its size is checked and its block made before its gate opens:
// a card that reports an impossible size is left as it was, closed. Once opened, the gate is closed
// whatever the block's write gave, unless the link is gone. The closing write waits for its answer, and
// that answer stands for the two writes posted before it: only then is the card known to hold its block.
CardResult SendCard(ICommInterface& device, int port, int card_address, const GainMap& map,
                    const CardRect& rect, uint64_t memory_budget) {
    const uint64_t bytes = BlockBytes(rect);
    if (bytes > kMaxCallData) {
        return CardResult::TooLarge;
    }
    std::vector<uint8_t> block;
    if (bytes > memory_budget) {
        return CardResult::NoMemory;
    }
    try {
        block.resize(static_cast<size_t>(bytes));
    } catch (const std::bad_alloc&) {
        return CardResult::NoMemory;
    }
    FillCoefficientBlock(map, rect, block.data());
    const int opened = device.WriteCardRegister(port, card_address, kUploadGateRegister, kGateOpen, 4, 0);
    if (opened != 0) {
        return Result(opened); // posted: it fails only when it could not be sent
    }
    const int written = device.WriteCardRegister(port, card_address, kCoefficientRegister, block.data(),
                                                 static_cast<uint32_t>(block.size()), 0);
    if (written < 0) {
        return CardResult::LinkLost;
    }
    const CardResult closed = Result(
        device.WriteCardRegister(port, card_address, kUploadGateRegister, kGateClosed, 4, kWaitForReply));
    return closed == CardResult::Written && written != 0 ? CardResult::Failed : closed;
}

std::wstring CardName(int port, int card, int cards) {
    return L"port " + std::to_wstring(port) + L": card " + std::to_wstring(card + 1) + L" of " +
           std::to_wstring(cards);
}

// One line per card in the progress window: its name, and why it failed.
void TraceCard(SendProgress& progress, CardResult result, const std::wstring& name, const CardRect& rect) {
    switch (result) {
    case CardResult::Written:
        progress.Trace(name);
        break;
    case CardResult::TooLarge:
        progress.Trace(name + L" failed: it reports " + std::to_wstring(rect.columns) + L" x " +
                       std::to_wstring(rect.rows) + L" pixels, a block of " +
                       std::to_wstring(BlockBytes(rect)) + L" bytes, beyond the " +
                       std::to_wstring(kMaxCallData) + L" a card takes");
        break;
    case CardResult::NoMemory:
        progress.Trace(L"memory errer");
        progress.Trace(name + L" failed");
        break;
    case CardResult::Failed:
        progress.Trace(name + L" failed");
        break;
    case CardResult::LinkLost:
        // Nothing more can arrive: the run ends here, and the cards not reached keep what they held.
        progress.Trace(name + L" failed: the link to the controller is lost");
        break;
    }
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
    uint64_t failed = 0;
    for (int p = 0; p < ports; ++p) {
        const int cards = device->GetCardCount(p, 2);
        card_total += static_cast<uint64_t>(cards > 0 ? cards : 0);
        if (p >= kOffsetTablePorts && cards > 0) {
            // The sending card's table places 16 ports; a card beyond them has no place on the screen.
            progress.Trace(L"port " + std::to_wstring(p) + L" has no offset entry: its " +
                           std::to_wstring(cards) + L" cards are skipped");
            failed += static_cast<uint64_t>(cards);
            progress.Progress(static_cast<uint64_t>(p) + 1, static_cast<uint64_t>(ports));
            continue;
        }
        for (int c = 0; c < cards; ++c) {
            const int address = c | kCardAddressBase;
            CardRect rect;
            CardResult result = CardResult::Failed;
            const int read = ReadCardRect(*device, p, address, offsets, rect);
            if (read == 0) {
                result = SendCard(*device, p, address, map, rect, memory_budget);
            } else if (read < 0) {
                result = CardResult::LinkLost;
            }
            TraceCard(progress, result, CardName(p, c, cards), rect);
            if (result == CardResult::LinkLost) {
                return SendOutcome::DeviceError;
            }
            failed += result == CardResult::Written ? 0 : 1;
            // The bar moves per card within its port, ports taking equal shares.
            progress.Progress(static_cast<uint64_t>(p) * cards + c + 1, static_cast<uint64_t>(ports) * cards);
        }
        if (cards <= 0) {
            progress.Progress(static_cast<uint64_t>(p) + 1, static_cast<uint64_t>(ports));
        }
    }
    if (failed > 0) {
        progress.Trace(std::to_wstring(failed) + L" of " + std::to_wstring(card_total) + L" cards failed");
    }
    return card_total == 0 || failed > 0 ? SendOutcome::DeviceError : SendOutcome::Finished;
}

SendOutcome GuardedSend(const std::function<SendOutcome()>& send) {
    try {
        return send();
    } catch (const std::bad_alloc&) {
        return SendOutcome::MemoryError;
    } catch (...) {
        return SendOutcome::DeviceError;
    }
}
