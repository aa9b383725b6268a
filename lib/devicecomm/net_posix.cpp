#include "lib/devicecomm/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace net {

Socket::Socket(Native handle) : handle_(handle), valid_(handle >= 0) {}

void Socket::CloseNative(Native handle) {
    ::close(handle);
}

namespace {

bool WaitFor(int fd, short events, int timeout_ms) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, timeout_ms);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        return r > 0;
    }
}

bool Address(const std::string& host, uint16_t port, sockaddr_in& addr) {
    std::memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    return ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) == 1;
}

} // namespace

Socket Connect(const std::string& host, uint16_t port, int timeout_ms, std::string& error) {
    sockaddr_in addr;
    if (!Address(host, port, addr)) {
        error = "bad address " + host;
        return Socket();
    }
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s.Valid()) {
        error = std::strerror(errno);
        return Socket();
    }
    const int flags = ::fcntl(s.Handle(), F_GETFL, 0);
    ::fcntl(s.Handle(), F_SETFL, flags | O_NONBLOCK);
    if (::connect(s.Handle(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        if (errno != EINPROGRESS) {
            error = std::strerror(errno);
            return Socket();
        }
        if (!WaitFor(s.Handle(), POLLOUT, timeout_ms)) {
            error = "connect timed out";
            return Socket();
        }
        int so_error = 0;
        socklen_t len = sizeof(so_error);
        ::getsockopt(s.Handle(), SOL_SOCKET, SO_ERROR, &so_error, &len);
        if (so_error != 0) {
            error = std::strerror(so_error);
            return Socket();
        }
    }
    const int one = 1;
    ::setsockopt(s.Handle(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    return s;
}

Socket Listen(const std::string& host, uint16_t port, std::string& error) {
    sockaddr_in addr;
    if (!Address(host, port, addr)) {
        error = "bad address " + host;
        return Socket();
    }
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    ::setsockopt(s.Handle(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (!s.Valid() || ::bind(s.Handle(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(s.Handle(), 16) != 0) {
        error = std::strerror(errno);
        return Socket();
    }
    return s;
}

Socket Accept(const Socket& listener, int timeout_ms) {
    if (!WaitFor(listener.Handle(), POLLIN, timeout_ms)) {
        return Socket();
    }
    Socket s(::accept4(listener.Handle(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (s.Valid()) {
        const int one = 1;
        ::setsockopt(s.Handle(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    }
    return s;
}

uint16_t LocalPort(const Socket& s) {
    sockaddr_in addr{};
    socklen_t len = sizeof(addr);
    ::getsockname(s.Handle(), reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

// The sockets are non-blocking: each call first tries at once and waits only when it has to, so a
// stream of requests costs one system call each, not two.
bool SendAll(const Socket& s, const uint8_t* data, size_t size, int timeout_ms) {
    while (size > 0) {
        const ssize_t n = ::send(s.Handle(), data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitFor(s.Handle(), POLLOUT, timeout_ms)) {
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
    for (;;) {
        const ssize_t n = ::recv(s.Handle(), data, size, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitFor(s.Handle(), POLLIN, timeout_ms)) {
                return -1;
            }
            continue;
        }
        return static_cast<long>(n);
    }
}

} // namespace net
