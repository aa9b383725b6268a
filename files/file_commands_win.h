#pragma once

// The main window's file commands: save the seam file, import one, choose the coefficient file. They
// work on the pattern window object's grid and tell the main window through its CommandHost.

#include "seam/window_owner_win.h"

#include <string>

class FileCommands {
public:
    explicit FileCommands(CommandHost& host) : host_(host) {}
    FileCommands(const FileCommands&) = delete;
    FileCommands& operator=(const FileCommands&) = delete;

    // "btn_save". A server (`server` set) writes its fixed file without a dialog.
    void SaveSeamFile(bool server);
    // "btn_import_data".
    void ImportSeamFile();
    // "btn_import_coef": only the path is chosen and kept, for the read-back.
    void ChooseCoefficientFile();
    const std::wstring& CoefficientPath() const { return coefficientPath; }
    // The path an ended run had chosen, given back by its recovery.
    void RestoreCoefficientPath(const std::wstring& path);

private:
    void ShowCoefficientFile();

    CommandHost& host_;
    bool hasCoefficientFile = false;
    std::wstring coefficientPath;
};
