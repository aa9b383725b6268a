#include "lib/baselib/path.h"

#include <windows.h>

namespace Util {
namespace Path {

std::wstring GetModulePath() {
    // Grow the buffer until the whole path fits: install folders can be deeper than MAX_PATH.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (got == 0) {
            return std::wstring();
        }
        if (got < path.size()) {
            path.resize(got);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring GetResFolder(int kind) {
    (void)kind; // only kind 1, the executable's folder, is used
    return GetFileFolder(GetModulePath());
}

std::wstring GetUserDataFolder() {
    std::wstring base(32768, L'\0');
    const DWORD got = ::GetEnvironmentVariableW(L"LOCALAPPDATA", &base[0], static_cast<DWORD>(base.size()));
    if (got == 0 || got >= base.size()) {
        return std::wstring();
    }
    base.resize(got);
    const std::wstring folder = base + L"\\Veltra-Seam";
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return std::wstring();
    }
    return folder;
}

} // namespace Path
} // namespace Util
