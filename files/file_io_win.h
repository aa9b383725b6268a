#pragma once

// The file dialogs of the main window's file commands, and a writer that never leaves a file half
// written.

#include "files/seam_file.h"

#include <windows.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct FileDialogSettings {
    bool save;
    const wchar_t* filter; // one pair: text, then pattern, each ending in a zero character
    const wchar_t* default_extension;
    const wchar_t* initial_name;
};

// Shows the dialog owned by `owner`, starting in the executable's folder; false when cancelled.
bool RunFileDialog(HWND owner, const FileDialogSettings& dialog, std::wstring& chosen);

// The same for opening several files at once: every file chosen, with its folder; false when cancelled.
bool RunMultiFileDialog(HWND owner, const FileDialogSettings& dialog, std::vector<std::wstring>& chosen);

// Writes a file through `produce` into a new file beside `target`, flushes it to disk and only then
// puts it in the target's place. On any failure the target keeps what it held (or stays absent) and
// `why` says what went wrong.
bool ReplaceFileContents(const std::wstring& target, const std::function<bool(const ByteSink&)>& produce,
                         std::wstring& why);

// The system's text for an error code, without its line end.
std::wstring SystemErrorText(DWORD code);

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using InputFile = std::unique_ptr<FILE, FileCloser>;

// A file opened for reading raw bytes; empty when it cannot be opened.
inline InputFile OpenForReading(const std::wstring& path) {
    return InputFile(_wfopen(path.c_str(), L"rb"));
}

// A path as messages name it.
inline std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

// A gain as a refusal names it: six significant digits, or "NaN" for what is not a number.
inline std::wstring GainText(float gain) {
    if (gain != gain) {
        return L"NaN";
    }
    wchar_t buffer[32];
    _snwprintf(buffer, 32, L"%g", static_cast<double>(gain));
    buffer[31] = L'\0';
    return buffer;
}
