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
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

} // namespace Path
} // namespace Util
