#include "lib/devicecomm/devicecomm_ini.h"

#include "lib/baselib/path.h"

#include <cstdio>
#include <string>

DeviceSettings ReadDeviceSettings() {
    const std::wstring ini = Util::Path::GetResFolder(1) + L"\\devicecomm.ini";
    std::string text;
    if (FILE* f = _wfopen(ini.c_str(), L"rb")) {
        // A settings file is a few lines; more than this is not one, and only its start is read.
        char buffer[16 * 1024];
        text.assign(buffer, std::fread(buffer, 1, sizeof(buffer), f));
        std::fclose(f);
    }
    return ParseDeviceSettings(text);
}
