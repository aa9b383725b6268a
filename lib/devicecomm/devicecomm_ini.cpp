#include "lib/devicecomm/devicecomm_ini.h"

#include <cctype>
#include <string>

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The leading decimal digits of a value, as the profile functions read numbers; `fallback` when there
// are none or the number leaves [low, high].
long Number(std::string_view value, long low, long high, long fallback) {
    long v = 0;
    size_t digits = 0;
    while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9') {
        v = v * 10 + (value[digits] - '0');
        if (v > high) {
            return fallback;
        }
        ++digits;
    }
    return digits == 0 || v < low ? fallback : v;
}

} // namespace

DeviceSettings ParseDeviceSettings(std::string_view text) {
    DeviceSettings s;
    bool in_section = false;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3); // saved by an editor that marks UTF-8
    }
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            const size_t close = line.find(']');
            in_section =
                close != std::string_view::npos && SameName(Trim(line.substr(1, close - 1)), "controller");
            continue;
        }
        const size_t equals = line.find('=');
        if (!in_section || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = Trim(line.substr(0, equals));
        const std::string_view value = Trim(line.substr(equals + 1));
        if (SameName(key, "address")) {
            s.host = std::string(value.substr(0, 63)); // checked as an address when it is connected to
        } else if (SameName(key, "port")) {
            s.port = static_cast<uint16_t>(Number(value, 1, 65535, s.port));
        } else if (SameName(key, "connect_timeout_ms")) {
            // Bounded, so that a typing slip in the file cannot make a silent controller hang the window.
            s.connect_timeout_ms = static_cast<int>(Number(value, 100, 30000, s.connect_timeout_ms));
        } else if (SameName(key, "reply_timeout_ms")) {
            s.reply_timeout_ms = static_cast<int>(Number(value, 100, 30000, s.reply_timeout_ms));
        }
    }
    return s;
}
