#pragma once

// The file dialogs of the main window's file commands, and a writer that never leaves a file half
// written.

#include "files/seam_file.h"

#include <windows.h>

#include <functional>
#include <string>

struct FileDialogSettings {
    bool save;
    const wchar_t* filter; // one pair: text, then pattern, each ending in a zero character
    const wchar_t* default_extension;
    const wchar_t* initial_name;
};

// Shows the dialog owned by `owner`, starting in the executable's folder; false when cancelled.
bool RunFileDialog(HWND owner, const FileDialogSettings& dialog, std::wstring& chosen);

// Writes a file through `produce` into a new file beside `target`, flushes it to disk and only then
// puts it in the target's place. On any failure the target keeps what it held (or stays absent) and
// `why` says what went wrong.
bool ReplaceFileContents(const std::wstring& target, const std::function<bool(const ByteSink&)>& produce,
                         std::wstring& why);

// The system's text for an error code, without its line end.
std::wstring SystemErrorText(DWORD code);
