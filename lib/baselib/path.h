#pragma once

#include <string>

namespace Util {
namespace Path {

// The full path of the running executable, however long; "" if the system cannot say.
std::wstring GetModulePath();
// Kind 1: the folder of the running executable, without a trailing separator.
std::wstring GetResFolder(int kind);
// The operator's own folder for what the tool writes, %LOCALAPPDATA%\Veltra-Seam, made when missing; ""
// if the system names no such place. The exe's folder is read-only once installed under Program Files.
std::wstring GetUserDataFolder();
// The folder part of a path (without the trailing separator), or "" when it has none.
std::wstring GetFileFolder(const std::wstring& path);
// The file-name part of a path, without its extension when that is ".chk" (in any case): the save
// appends ".chk" to it, and "work.chk" must not become "work.chk.chk".
std::wstring GetFileName(const std::wstring& path);

} // namespace Path
} // namespace Util
