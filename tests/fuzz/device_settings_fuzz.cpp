// devicecomm.ini is typed by hand on site, and the controller's address also comes from the command
// line of ledsim: any text is read with defaults or refused, with numbers inside their ranges.
#include "lib/devicecomm/devicecomm_ini.h"
#include "lib/devicecomm/net.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const DeviceSettings s = ParseDeviceSettings(text);
    if (s.port == 0 || s.connect_timeout_ms < 100 || s.connect_timeout_ms > 30000 ||
        s.reply_timeout_ms < 100 || s.reply_timeout_ms > 30000 || s.host.size() > 63) {
        __builtin_trap();
    }
    std::string host;
    uint16_t port = 0;
    if (net::ParseEndpoint(text, host, port) && host.size() > 15) {
        __builtin_trap();
    }
    return 0;
}
