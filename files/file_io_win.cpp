#include "files/file_io_win.h"

#include "lib/baselib/path.h"
#include "lib/baselib/raii_win.h"

#include <commdlg.h>

#include <vector>

namespace {

constexpr DWORD kOpenOptions = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST; // 0x81800
// The save dialog asks before it replaces a file: one click must not lose a day's tuning.
constexpr DWORD kSaveOptions = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT; // 0x80802
constexpr DWORD kNameCapacity = 260;

std::wstring FullPath(const std::wstring& path) {
    const DWORD need = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (need == 0) {
        return path;
    }
    std::wstring full(need, L'\0');
    const DWORD got = ::GetFullPathNameW(path.c_str(), need, &full[0], nullptr);
    full.resize(got < need ? got : 0);
    return full.empty() ? path : full;
}

} // namespace

std::wstring SystemErrorText(DWORD code) {
    LocalMemory<wchar_t> text;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<wchar_t*>(text.out()), 0, nullptr);
    std::wstring out =
        n > 0 && text.get() != nullptr ? std::wstring(text.get(), n) : L"error " + std::to_wstring(code);
    while (!out.empty() &&
           (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ' || out.back() == L'.')) {
        out.pop_back();
    }
    return out;
}

namespace {

// The dialog's answer in `name`: one full path, or (several chosen) the folder and then each file's
// name, every part ending in a zero character and the list in a second one.
bool ShowFileDialog(HWND owner, const FileDialogSettings& dialog, DWORD extra, std::vector<wchar_t>& name) {
    wcsncpy(name.data(), dialog.initial_name, name.size() - 1);
    // The operator's own folder: the executable's is not writable once installed.
    std::wstring folder = Util::Path::GetUserDataFolder();
    if (folder.empty()) {
        folder = Util::Path::GetResFolder(1);
    }
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = dialog.filter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    ofn.lpstrInitialDir = folder.c_str();
    ofn.lpstrDefExt = dialog.default_extension;
    ofn.Flags = (dialog.save ? kSaveOptions : kOpenOptions) | extra;
    return (dialog.save ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn)) != FALSE;
}

} // namespace

bool RunFileDialog(HWND owner, const FileDialogSettings& dialog, std::wstring& chosen) {
    std::vector<wchar_t> name(kNameCapacity, L'\0');
    if (!ShowFileDialog(owner, dialog, 0, name)) {
        return false;
    }
    chosen.assign(name.data());
    return true;
}

bool RunMultiFileDialog(HWND owner, const FileDialogSettings& dialog, std::vector<std::wstring>& chosen) {
    // Room for a few hundred photos' names: a wall of many regions.
    std::vector<wchar_t> names(65536, L'\0');
    if (!ShowFileDialog(owner, dialog, OFN_ALLOWMULTISELECT, names)) {
        return false;
    }
    chosen.clear();
    const std::wstring first(names.data());
    for (size_t at = first.size() + 1; at < names.size() && names[at] != L'\0';) {
        const std::wstring file(&names[at]);
        chosen.push_back(first + (first.empty() || first.back() == L'\\' ? L"" : L"\\") + file);
        at += file.size() + 1;
    }
    if (chosen.empty()) {
        chosen.push_back(first); // one file: its full path alone
    }
    return true;
}

bool ReplaceFileContents(const std::wstring& target, const std::function<bool(const ByteSink&)>& produce,
                         std::wstring& why) {
    const std::wstring full = FullPath(target);
    const DWORD attributes = ::GetFileAttributesW(full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        why = L"a folder has that name";
        return false;
    }
    // The new bytes go to a file of their own in the same folder, so that the final rename stays on one
    // volume and is a single step.
    std::wstring temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        temp = full + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(attempt) +
               L".tmp";
        h = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
        if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
            why = L"it cannot be created (" + SystemErrorText(::GetLastError()) + L")";
            return false;
        }
    }
    UniqueHandle file(h);
    if (!file.Valid()) {
        why = L"no temporary file could be created beside it";
        return false;
    }
    DWORD error = 0;
    const ByteSink sink = [&](const uint8_t* data, size_t size) {
        while (size > 0) {
            const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
            DWORD written = 0;
            if (!::WriteFile(file.get(), data, chunk, &written, nullptr) || written == 0) {
                error = ::GetLastError();
                return false;
            }
            data += written;
            size -= written;
        }
        return true;
    };
    bool ok = produce(sink);
    if (ok && !::FlushFileBuffers(file.get())) {
        error = ::GetLastError();
        ok = false;
    }
    if (!file.Close() && ok) {
        error = ::GetLastError();
        ok = false;
    }
    if (ok &&
        !::MoveFileExW(temp.c_str(), full.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = L"it cannot be replaced (" + SystemErrorText(::GetLastError()) + L")";
        ::DeleteFileW(temp.c_str());
        return false;
    }
    if (!ok) {
        why = L"writing failed (" + SystemErrorText(error) + L")";
        ::DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}
