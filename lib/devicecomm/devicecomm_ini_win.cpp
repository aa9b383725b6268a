#include "lib/devicecomm/devicecomm_ini.h"

#include "lib/baselib/path.h"

#include <windows.h>

namespace {

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        out.push_back(*p < 0x80 ? static_cast<char>(*p) : '?'); // addresses are ASCII
    }
    return out;
}

} // namespace

DeviceSettings ReadDeviceSettings() {
    DeviceSettings s;
    // The operator's own copy wins: an installed exe's folder needs administrator rights to change, so
    // the file beside it is only the default.
    const std::wstring own = Util::Path::GetUserDataFolder();
    std::wstring ini = own + L"\\devicecomm.ini";
    if (own.empty() || ::GetFileAttributesW(ini.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ini = Util::Path::GetResFolder(1) + L"\\devicecomm.ini";
    }
    wchar_t host[64] = {};
    ::GetPrivateProfileStringW(L"controller", L"address", L"127.0.0.1", host, 64, ini.c_str());
    s.host = Narrow(host);
    const UINT port = ::GetPrivateProfileIntW(L"controller", L"port", 26600, ini.c_str());
    s.port = port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : 26600;
    const UINT connect_ms = ::GetPrivateProfileIntW(L"controller", L"connect_timeout_ms", 2000, ini.c_str());
    const UINT reply_ms = ::GetPrivateProfileIntW(L"controller", L"reply_timeout_ms", 3000, ini.c_str());
    // Bounded, so that a typing slip in the file cannot make a silent controller hang the window.
    s.connect_timeout_ms = static_cast<int>(connect_ms >= 100 && connect_ms <= 30000 ? connect_ms : 2000);
    s.reply_timeout_ms = static_cast<int>(reply_ms >= 100 && reply_ms <= 30000 ? reply_ms : 3000);
    return s;
}
