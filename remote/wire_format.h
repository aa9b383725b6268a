#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// An input message of the pattern window as it travels to a remote server: length byte 13, type 1,
// then message, wParam and lParam as big-endian 32-bit numbers (wider values keep their low 32 bits).
constexpr size_t kInputPacketSize = 14;
using InputPacket = std::array<uint8_t, kInputPacketSize>;

InputPacket EncodeInputPacket(uint32_t message, uint64_t wparam, uint64_t lparam);
void DecodeInputPacket(const uint8_t* packet, uint32_t& message, uint32_t& wparam, uint32_t& lparam);
