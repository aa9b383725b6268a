#include "hardware/solidify.h"

#include "hardware/card_layout.h"
#include "hardware/coefficient_block.h"
#include "hardware/correction_switch.h"
#include "lib/baselib/byte_order.h"

uint32_t StoreWord(uint16_t rows, uint16_t columns) {
    const uint64_t size = static_cast<uint64_t>(BlockStride(columns)) * rows;
    const uint64_t pages = (size + 4095) / 4096 * 4096;
    return static_cast<uint32_t>(0xC00A0080u | (pages << 8));
}

bool SolidifyCards(ICommInterfaceMan& manager, const std::function<void(int)>& sleep_ms) {
    ICommInterface* device = OpenCommInterface(manager);
    if (device == nullptr) {
        return false;
    }
    // Every card the counts announce must take its store command; the copy of the switch must arrive
    // too. A negative result means the link is gone: nothing more can arrive, so the run ends there.
    bool all_stored = true;
    bool any_stored = false;
    bool link_lost = false;
    bool switch_copied = false;
    const int ports = device->GetPortCount();
    for (int p = 0; p < ports && !link_lost; ++p) {
        const int cards = device->GetCardCount(p, 2);
        for (int c = 0; c < cards && !link_lost; ++c) {
            const int address = c | kCardAddressBase;
            if (!switch_copied) {
                // What the cards show now becomes what they show at power-on; the first card that
                // answers speaks for all.
                uint8_t value[4] = {0, 0, 0, 0};
                const int read = device->ReadCardRegister(p, address, kCorrectionSwitchRegister, value, 4);
                if (read == 0) {
                    const int copied = device->WriteCardRegister(
                        kBroadcastPort, kBroadcastCard, kStoredSwitchRegister, value, 4, kWaitForReply);
                    all_stored = all_stored && copied == 0;
                    link_lost = copied < 0;
                    switch_copied = true;
                    if (link_lost) {
                        break;
                    }
                    sleep_ms(1000);
                } else if (read < 0) {
                    link_lost = true;
                    break;
                }
            }
            uint8_t size[4] = {};
            const int sized = device->ReadCardRegister(p, address, kCardSizeRegister, size, 4);
            if (sized != 0) {
                all_stored = false;
                link_lost = sized < 0;
                continue;
            }
            uint8_t word[4];
            PutBE32(word, StoreWord(GetBE16(size), GetBE16(size + 2)));
            const int stored =
                device->WriteCardRegister(p, address, kStoreCommandRegister, word, 4, kWaitForReply);
            all_stored = all_stored && stored == 0;
            any_stored = any_stored || stored == 0;
            link_lost = stored < 0;
        }
    }
    device->Release();
    if (any_stored || (all_stored && !link_lost)) {
        sleep_ms(1000); // the cards that took their command store while this waits
    }
    return all_stored && !link_lost;
}
