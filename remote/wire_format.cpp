#include "remote/wire_format.h"

namespace {

void Put(uint8_t* out, uint32_t v) {
    out[0] = static_cast<uint8_t>(v >> 24);
    out[1] = static_cast<uint8_t>(v >> 16);
    out[2] = static_cast<uint8_t>(v >> 8);
    out[3] = static_cast<uint8_t>(v);
}

uint32_t Get(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

} // namespace

InputPacket EncodeInputPacket(uint32_t message, uint64_t wparam, uint64_t lparam) {
    InputPacket p{};
    p[0] = static_cast<uint8_t>(kInputPacketSize - 1);
    p[1] = 1;
    Put(&p[2], message);
    Put(&p[6], static_cast<uint32_t>(wparam));
    Put(&p[10], static_cast<uint32_t>(lparam));
    return p;
}

void DecodeInputPacket(const uint8_t* packet, uint32_t& message, uint32_t& wparam, uint32_t& lparam) {
    message = Get(packet + 2);
    wparam = Get(packet + 6);
    lparam = Get(packet + 10);
}
