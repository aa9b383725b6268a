#include "lib/devicecomm/devicecomm_ini.h"

#include "lib/baselib/path.h"

#include <cstdio>
#include <string>

DeviceSettings ReadDeviceSettings() {
    // The operator's own copy wins: an installed exe's folder needs administrator rights to change, so
    // the file beside it is only the default.
    const std::wstring own = Util::Path::GetUserDataFolder();
    std::wstring ini = own + L"\\devicecomm.ini";
    FILE* f = own.empty() ? nullptr : _wfopen(ini.c_str(), L"rb");
    if (f == nullptr) {
        ini = Util::Path::GetResFolder(1) + L"\\devicecomm.ini";
        f = _wfopen(ini.c_str(), L"rb");
    }
    std::string text;
    if (f != nullptr) {
        // A settings file is a few lines; more than this is not one, and only its start is read.
        char buffer[16 * 1024];
        text.assign(buffer, std::fread(buffer, 1, sizeof(buffer), f));
        std::fclose(f);
    }
    return ParseDeviceSettings(text);
}
