#pragma once

#include <string>

namespace Util {
namespace Path {

// Kind 1: the folder of the running executable, without a trailing separator.
std::wstring GetResFolder(int kind);
// The folder part of a path (without the trailing separator), or "" when it has none.
std::wstring GetFileFolder(const std::wstring& path);
// The file-name part of a path.
std::wstring GetFileName(const std::wstring& path);

} // namespace Path
} // namespace Util
