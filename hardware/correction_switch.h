#pragma once

#include "lib/devicecomm/devicecomm.h"

constexpr uint32_t kCorrectionSwitchRegister = 0xDA000005;
constexpr uint8_t kCorrectionOn = 0xA8;
constexpr uint8_t kCorrectionOff = 0x08;

// Switches the seam correction of every receiving card with one broadcast write. False only when the
// device cannot be opened; a failed write is not noticed (the cards give no answer worth acting on).
bool SwitchCorrection(ICommInterfaceMan& manager, bool on);
