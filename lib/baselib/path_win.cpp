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

} // namespace Path
} // namespace Util
