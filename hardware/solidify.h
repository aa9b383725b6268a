#pragma once

// Storing the uploaded coefficients in the cards permanently: the switch value of the first card that
// answers is copied to the stored-switch register of all cards, then each card gets a store command
// sized for its block.

#include "lib/devicecomm/devicecomm.h"

#include <cstdint>
#include <functional>

constexpr uint32_t kStoredSwitchRegister = 0xDF079400;
constexpr uint32_t kStoreCommandRegister = 0xDA000002;

// 0xC00A0080 with the card's block size, rounded up to whole 4096-byte pages, shifted 8 bits left
// (in 32 bits): the page count stands in bits 20 and up.
uint32_t StoreWord(uint16_t rows, uint16_t columns);

// The store sequence; false when the device cannot be opened, or when a card the counts announced did
// not take its store command (its size unreadable, the command refused or lost), or the switch copy
// did not arrive. `sleep_ms` waits: one second after the switch is copied and one at the end, which
// the cards need.
bool SolidifyCards(ICommInterfaceMan& manager, const std::function<void(int)>& sleep_ms);
