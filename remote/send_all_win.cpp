#include "remote/send_all_win.h"

#include <winsock2.h>

bool SendAll(int socket, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
        const int sent = ::send(static_cast<SOCKET>(socket), p, chunk, 0);
        if (sent == SOCKET_ERROR || sent == 0) {
            return false;
        }
        p += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}
