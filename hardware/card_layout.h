#pragma once

// Where each receiving card sits on the screen, from the registers of the sending card and the cards.

#include "lib/devicecomm/devicecomm.h"

#include <array>
#include <cstdint>

struct PortOffset {
    uint16_t row = 0;
    uint16_t column = 0;
};

// Offsets of ports 0 to 15 from the sending card's 64-word table (register 0xA72000): ports 0-7 in
// words 3-10, ports 8-15 in words 12-19, each word's high half the row and low half the column.
using PortOffsetTable = std::array<PortOffset, 16>;
PortOffsetTable ParsePortOffsetTable(const uint8_t (&table)[256]);

struct CardRect {
    uint32_t first_row = 0;
    uint32_t first_column = 0;
    uint16_t rows = 0;
    uint16_t columns = 0;
};

constexpr uint32_t kPortOffsetRegister = 0xA72000;
constexpr uint32_t kCardPositionRegister = 0xDA000000;
constexpr uint32_t kCardSizeRegister = 0xD0000008;

// Reads a card's position and size: 0, or the result of the read that failed (negative when the link
// failed). Ports past the table's 16 have no offset of their own and are placed at offset 0.
int ReadCardRect(ICommInterface& device, int port, int card_address, const PortOffsetTable& offsets,
                 CardRect& out);
