// The device library's side of the controller link: whatever a controller (or anything listening where
// devicecomm.ini points) answers to each request of a command, the library fails the call or fills
// what was asked, never more, and never crashes or waits beyond its deadline.
#include "lib/devicecomm/devicecomm.h"

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 32 * 1024) {
        return 0; // the answers must fit in the socket's buffer: nobody reads them back here
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
        return 0;
    }
    net::Socket controller(fds[0]);
    if (!net::SendAll(controller, data, size, 100)) {
        return 0;
    }
    ::shutdown(fds[0], SHUT_WR); // what was not answered by now never will be
    DeviceSettings settings;
    settings.reply_timeout_ms = 100;
    settings.trace = [](const std::string&) {};
    ICommInterface* device = OpenCommInterfaceOver(net::Socket(fds[1]), settings);
    if (device == nullptr) {
        return 0;
    }
    // The calls of an upload and a solidify, in their order.
    uint8_t table[256];
    device->ReadSenderRegister(0xA72000, table, 64);
    const int ports = device->GetPortCount();
    const int cards = device->GetCardCount(0, 2);
    if (ports < 0 || ports > kMaxDevicePorts || cards < 0 || cards > kMaxCardsOnPort) {
        __builtin_trap();
    }
    uint8_t position[20];
    uint8_t word[4] = {0, 0, 0, 0x10};
    device->ReadCardRegister(0, 0x2000, 0xDA000000, position, sizeof(position));
    device->ReadCardRegister(0, 0x2000, 0xD0000008, word, sizeof(word));
    device->WriteCardRegister(0, 0x2000, 0xDA000003, word, 4, 0);
    device->WriteCardRegister(0, 0x2000, 0xD0020000, position, sizeof(position), 0);
    device->WriteCardRegister(0, 0x2000, 0xDA000003, word, 4, kWaitForReply);
    device->ReadCardRegister(0, 0x2000, 0xDA000005, word, sizeof(word));
    device->WriteCardRegister(kBroadcastPort, kBroadcastCard, 0xDF079400, word, 4, kWaitForReply);
    device->Release();
    return 0;
}
