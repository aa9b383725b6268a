#pragma once

// What the windows and commands below app/ need of the main window, as interfaces it implements: they
// call these, never the main window's class, so every include points down.

#include "lib/uilib/uilib.h"
#include "seam/screen_params.h"

#include <string>

// What the pattern window tells the window that owns it.
class PatternWindowOwner {
public:
    // The selection or its gains changed.
    virtual void SelectionChanged() = 0;
    // An undo or redo gave back the screen description that the grid belongs to.
    virtual void GridRestored(const ScreenParams& params) = 0;
    // The link that input was forwarded to failed (a lost or stalled send): forwarding has stopped.
    virtual void ForwardingLost() = 0;
    // A message box for the operator: ANSI text, OK only.
    virtual void ShowMessage(const char* text, const char* caption) = 0;
    // A message that names files or sizes, or says more in Chinese: wide text, read as it is.
    virtual void ShowMessageW(const std::wstring& text, const wchar_t* caption) = 0;
    // The photo mode: the width in pixels of the camera's photos, which sizes its regions; and the
    // region now shown (number from 1 of count; count 0 when the mode has been left).
    virtual uint32_t PhotoCameraWidth() = 0;
    virtual void PhotoRegionShown(size_t number, size_t count) = 0;

protected:
    ~PatternWindowOwner() = default;
};

// What a command group needs of the main window that owns it: the owner of its boxes and dialogs, its
// controls and the screen fields.
class CommandHost : public PatternWindowOwner {
public:
    virtual HWND Window() const = 0;
    // A control of the main window's layout by name; null when the layout has none of that name.
    virtual CControlUI* Control(const wchar_t* name) = 0;
    virtual ScreenParams ReadScreenParams() = 0;
    virtual void ShowScreenParams(const ScreenParams& params) = 0;
    // The fields and the grid now equal a seam file: one was saved or imported.
    virtual void WorkSaved() = 0;

protected:
    ~CommandHost() = default;
};
