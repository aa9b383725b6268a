#pragma once

#include "files/file_commands_win.h"
#include "files/recovery_win.h"
#include "hardware/hardware_commands_win.h"
#include "lib/baselib/identity.h"
#include "lib/uilib/uilib.h"
#include "photo/photo_command_win.h"
#include "remote/remote_link_win.h"
#include "seam/window_owner_win.h"

#include <string>

// The operator's form: one per process. It owns the command groups, hands every notification to the one
// whose command it names, and is what the groups and the pattern window tell (CommandHost,
// RemoteLinkHost, PatternWindowOwner): none of them knows this class.
class MainFrame : public WindowImplBase,
                  public ITranslateAccelerator,
                  public CommandHost,
                  public RemoteLinkHost {
public:
    MainFrame();
    ~MainFrame() override;

    LPCWSTR GetWindowClassName() const override { return kMainWindowClass; }
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hwnd) override;
    void InitWindow() override {}
    CDuiString GetSkinFolder() override { return CDuiString(L""); }
    CDuiString GetSkinFile() override { return CDuiString(L"xml\\VTSeamFrame.xml"); }
    UINT GetResourceType() const override { return 1; }
    LRESULT OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) override;
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) override;
    void Notify(TNotifyUI& msg) override;
    CControlUI* CreateLayoutControl(LPCWSTR tag) override;
    // Ctrl+Z, Ctrl+Y and Ctrl+Shift+Z undo and redo gain changes, unless an edit field has the focus
    // (there they undo the typing, as in every edit field).
    bool TranslateAccelerator(const MSG* msg) override;

    ScreenParams ReadScreenParams() override;
    void ShowScreenParams(const ScreenParams& params) override;
    void OpenManual();
    // Why the window could not be created; kept outside the object, which is gone by then.
    static const std::wstring& CreationError();

    // What the command groups and the pattern window ask of this window.
    HWND Window() const override { return hwnd_; }
    CControlUI* Control(const wchar_t* name) override;
    // "lab_selection": the selected seam and its gains, after every change of either.
    void SelectionChanged() override;
    void GridRestored(const ScreenParams& params) override;
    void ForwardingLost() override;
    // Message boxes of the commands: OK only, owned by this window, English (US). Like the three above,
    // they do nothing once the window is gone: handlers still unwinding have nobody to tell.
    void ShowMessage(const char* text, const char* caption) override;
    void ShowMessageW(const std::wstring& text, const wchar_t* caption) override;
    void WorkSaved() override { recovery_.Saved(); }
    LinkedPattern* Pattern(bool make) override;
    uint32_t PhotoCameraWidth() override;
    void PhotoRegionShown(size_t number, size_t count) override;

private:
    friend class BusyScope;
    void Release();
    void OnClickNotify(const std::wstring& sender);
    void OnScreenControl();
    bool ScreenOnDesktop(const ScreenParams& params);
    void OnSelectChanged(CControlUI* sender, const std::wstring& name);
    void UpdateCaptionButtons();
    static void PrintLine(const std::wstring& line);
    bool PrintInsteadOfBox(const std::wstring& text, const std::wstring& caption);

    RemoteLink remote_{*this};
    HardwareCommands hardware_{*this};
    FileCommands files_{*this};
    RecoveryKeeper recovery_{*this, files_};
    PhotoCommand photo_{*this, hardware_.commManager};
    // Frames of this window's message handling on the stack: the object outlives the last of them.
    int busyDepth_ = 0;
    bool finalPending_ = false;
    // The upload running was a client's: its result is a line on standard output.
    bool replayedSend_ = false;
};

// The single main window object; null before start-up creates it and after its window is gone.
extern MainFrame* g_mainFrame;
