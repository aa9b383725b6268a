#include "lib/devicecomm/net.h"

#include <cstdlib>

namespace net {

Socket::Socket(Socket&& other) noexcept : handle_(other.handle_), valid_(other.valid_) {
    other.valid_ = false;
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        valid_ = other.valid_;
        other.valid_ = false;
    }
    return *this;
}

void Socket::Close() {
    if (valid_) {
        CloseNative(handle_);
        valid_ = false;
    }
}

bool ParseEndpoint(const std::string& text, std::string& host, uint16_t& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) {
        return false;
    }
    const std::string h = text.substr(0, colon);
    int dots = 0;
    int part = 0;
    int digits = 0;
    for (char c : h) {
        if (c == '.') {
            if (digits == 0) {
                return false;
            }
            ++dots;
            part = 0;
            digits = 0;
        } else if (c >= '0' && c <= '9') {
            part = part * 10 + (c - '0');
            if (++digits > 3 || part > 255) {
                return false;
            }
        } else {
            return false;
        }
    }
    if (dots != 3 || digits == 0) {
        return false;
    }
    long p = 0;
    for (size_t i = colon + 1; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        p = p * 10 + (text[i] - '0');
        if (p > 65535) {
            return false;
        }
    }
    host = h;
    port = static_cast<uint16_t>(p);
    return true;
}

} // namespace net
