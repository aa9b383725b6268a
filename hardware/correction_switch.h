#pragma once

#include "lib/devicecomm/devicecomm.h"

constexpr uint32_t kCorrectionSwitchRegister = 0xDA000005;
constexpr uint8_t kCorrectionOn = 0xA8;
constexpr uint8_t kCorrectionOff = 0x08;

// Switches the seam correction of every receiving card with one broadcast write, and waits for its
// answer: true only when the cards took it. False when the device cannot be opened, the write is
// refused or unanswered; the cards then keep what they did.
bool SwitchCorrection(ICommInterfaceMan& manager, bool on);
