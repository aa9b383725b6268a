#include "remote/send_all_win.h"

#include <winsock2.h>

int SendAll(int socket, const char* data, int* length) {
    if (*length <= 0) {
        *length = 0;
        return 0;
    }
    int total = 0;
    int left = *length;
    int sent = 0;
    while (total < *length) {
        sent = ::send(static_cast<SOCKET>(socket), data + total, left, 0);
        if (sent == SOCKET_ERROR) {
            break;
        }
        total += sent;
        left -= sent;
    }
    *length = total;
    return sent == SOCKET_ERROR ? -1 : 0;
}
