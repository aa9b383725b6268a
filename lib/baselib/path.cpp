#include "lib/baselib/path.h"

namespace Util {
namespace Path {

namespace {

size_t LastSeparator(const std::wstring& path) {
    return path.find_last_of(L"\\/");
}

} // namespace

std::wstring GetFileFolder(const std::wstring& path) {
    const size_t cut = LastSeparator(path);
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

std::wstring GetFileName(const std::wstring& path) {
    const size_t cut = LastSeparator(path);
    std::wstring name = cut == std::wstring::npos ? path : path.substr(cut + 1);
    static const wchar_t kSeamExtension[] = L".chk";
    if (name.size() >= 4) {
        bool same = true;
        for (size_t i = 0; i < 4; ++i) {
            const wchar_t c = name[name.size() - 4 + i];
            same = same &&
                   (c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c) == kSeamExtension[i];
        }
        if (same) {
            name.resize(name.size() - 4);
        }
    }
    return name;
}

} // namespace Path
} // namespace Util
