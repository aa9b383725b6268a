#pragma once

// The modal progress window of a background command: it starts the command's thread, lists the lines
// the thread traces, shows a bar, and closes when the thread says so. The thread may call Trace,
// SetProgress and Close at any time, from its own thread.

#include "lib/uilib/base_thread.h"

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace ExtendUILib {

constexpr wchar_t kTraceWindowClass[] = L"VeltraTraceMsgWnd";
// The bar's position in thousandths, readable by other processes (the automation tool).
constexpr wchar_t kProgressProperty[] = L"VeltraProgress";

class CTreadMsgWndUI {
public:
    CTreadMsgWndUI() = default;
    ~CTreadMsgWndUI();
    CTreadMsgWndUI(const CTreadMsgWndUI&) = delete;
    CTreadMsgWndUI& operator=(const CTreadMsgWndUI&) = delete;

    void SetwParam(WPARAM value) { wparam_ = value; }
    void SetlParam(LPARAM value) { lparam_ = value; }
    // The thread to run; its IBaseThread.
    void SetThread(void* thread) { thread_ = static_cast<IBaseThread*>(thread); }
    // Shows the window modally over `owner` (disabled meanwhile), starts the thread, and returns once
    // the window has been closed. A thread that cannot be started closes the window at once.
    int Domodal(HWND owner);

    void Trace(const wchar_t* format, ...);
    void SetProgress(uint64_t done, uint64_t total);
    void Close(bool close);

    HWND GetHWND();

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void Post(UINT msg);
    void ShowPending(HWND hwnd);
    void PaintBar(HWND hwnd, HDC dc);

    std::mutex lock_;
    HWND hwnd_ = nullptr;
    HWND list_ = nullptr;
    HWND owner_ = nullptr;
    int dpi_ = 96; // sizes below are 96-DPI units scaled by this
    std::vector<std::wstring> pending_;
    int permille_ = 0;
    int shown_permille_ = 0;
    bool refresh_posted_ = false;
    bool closing_ = false;
    IBaseThread* thread_ = nullptr;
    WPARAM wparam_ = 0;
    LPARAM lparam_ = 0;
};

} // namespace ExtendUILib
