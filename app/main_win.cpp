// Start-up: one instance per desktop, the main window, the message loop.
#include "app/main_frame.h"

#include "lib/baselib/identity.h"
#include "lib/baselib/path.h"

#include <string>

namespace {

void ShowMainWindow() {
    if (g_mainFrame == nullptr) {
        g_mainFrame = new MainFrame;
        g_mainFrame->Create(nullptr, kMainWindowTitle, 0x96C80000, 0, 0, 0, 0, CW_USEDEFAULT);
    }
    if (g_mainFrame == nullptr || g_mainFrame->GetHWND() == nullptr) {
        return; // the final-message hook already deleted the object of a window that failed
    }
    g_mainFrame->CenterWindow();
    g_mainFrame->ShowWindow(true, true);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    // The mutex is never owned or released: its existence marks a running instance, and its handle
    // stays open for the life of the process.
    HANDLE mutex = ::OpenMutexW(MUTEX_ALL_ACCESS, TRUE, kInstanceMutex);
    if (mutex != nullptr && mutex != INVALID_HANDLE_VALUE) {
        const HWND running = ::FindWindowW(kMainWindowClass, kMainWindowTitle);
        if (::IsWindow(running) && ::IsWindowVisible(running)) {
            ::SwitchToThisWindow(running, TRUE);
            return -2;
        }
    } else {
        ::CreateMutexW(nullptr, FALSE, kInstanceMutex);
    }

    CPaintManagerUI::SetInstance(instance);
    const std::wstring path = Util::Path::GetResFolder(1) + L"\\";
    CPaintManagerUI::SetResourcePath(path.c_str());
    CPaintManagerUI::SetDefaultXmlLauyoutPath(path.c_str());

    ShowMainWindow();
    if (g_mainFrame == nullptr || g_mainFrame->GetHWND() == nullptr) {
        // Without its main window the program can do nothing: say why and end, rather than wait in a
        // message loop that no window will ever end.
        MSG quit;
        ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); // posted by the failed window
        std::wstring why = MainFrame::CreationError();
        if (why.empty()) {
            why = L"The main window could not be created.";
        }
        ::MessageBoxExW(nullptr, why.c_str(), kMainWindowTitle, MB_OK | MB_ICONERROR,
                        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        return 3;
    }
    CPaintManagerUI::MessageLoop();
    return 0;
}
