#include "hardware/card_layout.h"

#include "lib/baselib/byte_order.h"

PortOffsetTable ParsePortOffsetTable(const uint8_t (&table)[256]) {
    PortOffsetTable offsets;
    for (size_t port = 0; port < offsets.size(); ++port) {
        const size_t word = port < 8 ? 3 + port : 4 + port;
        offsets[port].row = GetBE16(&table[word * 4]);
        offsets[port].column = GetBE16(&table[word * 4 + 2]);
    }
    return offsets;
}

int ReadCardRect(ICommInterface& device, int port, int card_address, const PortOffsetTable& offsets,
                 CardRect& out) {
    uint8_t position[20] = {};
    const int placed =
        device.ReadCardRegister(port, card_address, kCardPositionRegister, position, sizeof(position));
    if (placed != 0) {
        return placed;
    }
    uint8_t size[4] = {};
    const int sized = device.ReadCardRegister(port, card_address, kCardSizeRegister, size, sizeof(size));
    if (sized != 0) {
        return sized;
    }
    const PortOffset offset = port >= 0 && static_cast<size_t>(port) < offsets.size()
                                  ? offsets[static_cast<size_t>(port)]
                                  : PortOffset{};
    out.first_row = static_cast<uint32_t>(GetBE16(&position[4])) + offset.row;
    out.first_column = static_cast<uint32_t>(GetBE16(&position[6])) + offset.column;
    out.rows = GetBE16(&size[0]);
    out.columns = GetBE16(&size[2]);
    return 0;
}
