#include "hardware/correction_switch.h"

bool SwitchCorrection(ICommInterfaceMan& manager, bool on) {
    ICommInterface* device = OpenCommInterface(manager);
    if (device == nullptr) {
        return false;
    }
    const uint8_t value[4] = {0, 0, 0, on ? kCorrectionOn : kCorrectionOff};
    device->WriteCardRegister(kBroadcastPort, kBroadcastCard, kCorrectionSwitchRegister, value, sizeof(value),
                              0);
    device->Release();
    return true;
}
