#include "hardware/correction_switch.h"

bool SwitchCorrection(ICommInterfaceMan& manager, bool on) {
    ICommInterface* device = OpenCommInterface(manager);
    if (device == nullptr) {
        return false;
    }
    const uint8_t value[4] = {0, 0, 0, on ? kCorrectionOn : kCorrectionOff};
    // The operator tunes against what the cards show: a switch that did not arrive must be said.
    const int written = device->WriteCardRegister(kBroadcastPort, kBroadcastCard, kCorrectionSwitchRegister,
                                                  value, sizeof(value), kWaitForReply);
    device->Release();
    return written == 0;
}
