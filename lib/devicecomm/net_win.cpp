#include "lib/devicecomm/net.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace net {

namespace {

// Each socket holds one Winsock start-up, released with it: Winsock counts them.
bool StartWinsock() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

bool WaitFor(SOCKET s, short events, int timeout_ms) {
    WSAPOLLFD p{s, events, 0};
    return ::WSAPoll(&p, 1, timeout_ms) > 0;
}

bool Address(const std::string& host, uint16_t port, sockaddr_in& addr) {
    ZeroMemory(&addr, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    return ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) == 1;
}

Socket NewSocket() {
    if (!StartWinsock()) {
        return Socket();
    }
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        ::WSACleanup();
        return Socket();
    }
    u_long nonblocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonblocking);
    return Socket(static_cast<Native>(s));
}

std::string LastError(const char* what) {
    return std::string(what) + " failed, error " + std::to_string(::WSAGetLastError());
}

} // namespace

Socket::Socket(Native handle) : handle_(handle), valid_(static_cast<SOCKET>(handle) != INVALID_SOCKET) {}

void Socket::CloseNative(Native handle) {
    ::closesocket(static_cast<SOCKET>(handle));
    ::WSACleanup(); // the start-up this socket held
}

Socket Connect(const std::string& host, uint16_t port, int timeout_ms, std::string& error) {
    sockaddr_in addr;
    if (!Address(host, port, addr)) {
        error = "bad address " + host;
        return Socket();
    }
    Socket s = NewSocket();
    if (!s.Valid()) {
        error = LastError("socket");
        return Socket();
    }
    const SOCKET h = static_cast<SOCKET>(s.Handle());
    if (::connect(h, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) {
            error = LastError("connect");
            return Socket();
        }
        // Writable means connected; an error shows in the except set (WSAPoll reports it as POLLERR).
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(h, &writable);
        FD_SET(h, &failed);
        timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
        if (::select(0, nullptr, &writable, &failed, &tv) <= 0 || FD_ISSET(h, &failed)) {
            error = "connect failed or timed out";
            return Socket();
        }
    }
    BOOL one = TRUE;
    ::setsockopt(h, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
    return s;
}

Socket Listen(const std::string& host, uint16_t port, std::string& error) {
    sockaddr_in addr;
    if (!Address(host, port, addr)) {
        error = "bad address " + host;
        return Socket();
    }
    Socket s = NewSocket();
    const SOCKET h = static_cast<SOCKET>(s.Handle());
    if (!s.Valid() || ::bind(h, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(h, 16) != 0) {
        error = LastError("listen");
        return Socket();
    }
    return s;
}

Socket Accept(const Socket& listener, int timeout_ms) {
    if (!WaitFor(static_cast<SOCKET>(listener.Handle()), POLLRDNORM, timeout_ms) || !StartWinsock()) {
        return Socket();
    }
    const SOCKET s = ::accept(static_cast<SOCKET>(listener.Handle()), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        ::WSACleanup();
        return Socket();
    }
    u_long nonblocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonblocking);
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
    return Socket(static_cast<Native>(s));
}

uint16_t LocalPort(const Socket& s) {
    sockaddr_in addr{};
    int len = sizeof(addr);
    ::getsockname(static_cast<SOCKET>(s.Handle()), reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

// The sockets are non-blocking: each call first tries at once and waits only when it has to, so a
// stream of requests costs one call into the system each, not two.
bool SendAll(const Socket& s, const uint8_t* data, size_t size, int timeout_ms) {
    const SOCKET h = static_cast<SOCKET>(s.Handle());
    while (size > 0) {
        const int chunk = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
        const int n = ::send(h, reinterpret_cast<const char*>(data), chunk, 0);
        if (n == SOCKET_ERROR) {
            if (::WSAGetLastError() != WSAEWOULDBLOCK || !WaitFor(h, POLLWRNORM, timeout_ms)) {
                return false;
            }
            continue;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

long RecvSome(const Socket& s, uint8_t* data, size_t size, int timeout_ms) {
    const SOCKET h = static_cast<SOCKET>(s.Handle());
    for (;;) {
        const int chunk = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
        const int n = ::recv(h, reinterpret_cast<char*>(data), chunk, 0);
        if (n == SOCKET_ERROR) {
            if (::WSAGetLastError() != WSAEWOULDBLOCK || !WaitFor(h, POLLRDNORM, timeout_ms)) {
                return -1;
            }
            continue;
        }
        return n;
    }
}

} // namespace net
