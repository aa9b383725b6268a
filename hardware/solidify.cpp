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
    bool switch_copied = false;
    const int ports = device->GetPortCount();
    for (int p = 0; p < ports; ++p) {
        const int cards = device->GetCardCount(p, 2);
        for (int c = 0; c < cards; ++c) {
            const int address = c | kCardAddressBase;
            if (!switch_copied) {
                // What the cards show now becomes what they show at power-on; the first card that
                // answers speaks for all.
                uint8_t value[4] = {0, 0, 0, 0};
                if (device->ReadCardRegister(p, address, kCorrectionSwitchRegister, value, 4) == 0) {
                    device->WriteCardRegister(kBroadcastPort, kBroadcastCard, kStoredSwitchRegister, value, 4,
                                              0);
                    switch_copied = true;
                    sleep_ms(1000);
                }
            }
            uint8_t size[4] = {};
            if (device->ReadCardRegister(p, address, kCardSizeRegister, size, 4) != 0) {
                continue;
            }
            uint8_t word[4];
            PutBE32(word, StoreWord(GetBE16(size), GetBE16(size + 2)));
            device->WriteCardRegister(p, address, kStoreCommandRegister, word, 4, 0);
        }
    }
    device->Release();
    sleep_ms(1000);
    return true;
}
