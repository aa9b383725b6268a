// A remote client's stream as the server receives it, cut into receives at the places the first byte
// chooses. Nothing may crash or read past a packet; a decoded notification encodes again.
#include "remote/wire_format.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const size_t piece = 1 + data[0] % 64;
    WireReceiver receiver;
    std::vector<WirePacket> packets;
    for (size_t offset = 1; offset < size; offset += piece) {
        const size_t n = size - offset < piece ? size - offset : piece;
        if (!receiver.Receive(data + offset, n, packets)) {
            break;
        }
    }
    for (const WirePacket& p : packets) {
        std::vector<uint8_t> again;
        if (p.is_notification) {
            EncodeNotifyPacket(p.notification, again);
        }
    }
    return 0;
}
