#pragma once

// A small blocking TCP layer with a timeout on every operation, the same on POSIX and Winsock, for the
// device library and the controller simulator. A silent peer costs at most the timeout, never a hang.

#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

#ifdef _WIN32
using Native = uintptr_t;
#else
using Native = int;
#endif

// Owns one socket (and, on Windows, the Winsock start-up that goes with it).
class Socket {
public:
    Socket() = default;
    explicit Socket(Native handle);
    ~Socket() { Close(); }
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool Valid() const { return valid_; }
    Native Handle() const { return handle_; }
    void Close();

private:
    static void CloseNative(Native handle);

    Native handle_{};
    bool valid_ = false;
};

// "host:port" with a dotted IPv4 host; false for anything else.
bool ParseEndpoint(const std::string& text, std::string& host, uint16_t& port);

Socket Connect(const std::string& host, uint16_t port, int timeout_ms, std::string& error);
Socket Listen(const std::string& host, uint16_t port, std::string& error);
// Waits up to timeout_ms for a connection; an invalid socket when none came.
Socket Accept(const Socket& listener, int timeout_ms);
uint16_t LocalPort(const Socket& s);

bool SendAll(const Socket& s, const uint8_t* data, size_t size, int timeout_ms);
// Receives what is there (at most size bytes), waiting up to timeout_ms for the first byte. Returns the
// count, 0 when the peer closed, -1 on timeout or error.
long RecvSome(const Socket& s, uint8_t* data, size_t size, int timeout_ms);

} // namespace net
