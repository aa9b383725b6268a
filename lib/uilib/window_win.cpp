#include "lib/uilib/uilib.h"

#include <windowsx.h>

bool CWindowWnd::RegisterWindowClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = GetClassStyle();
    wc.lpfnWndProc = &CWindowWnd::WindowProc;
    wc.hInstance = CPaintManagerUI::GetInstance();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    // The program's icon (resource 1), for the title, the task bar and Alt+Tab; none in test programs.
    const HINSTANCE instance = CPaintManagerUI::GetInstance();
    wc.hIcon =
        static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    wc.hIconSm =
        static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                        ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    wc.hbrBackground = nullptr;
    wc.lpszClassName = GetWindowClassName();
    // Several window kinds may share a class name; they all share this one procedure too.
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND parent, LPCWSTR name, DWORD style, DWORD ex_style, int x, int y, int cx, int cy,
                        HMENU menu) {
    if (!RegisterWindowClass()) {
        return nullptr;
    }
    // The procedure sets hwnd_ at WM_NCCREATE. Nothing of the object is touched after the call: a window
    // whose creation fails is destroyed inside it, and its final-message hook may delete the object.
    return ::CreateWindowExW(ex_style, GetWindowClassName(), name, style, x, y, cx, cy, parent, menu,
                             CPaintManagerUI::GetInstance(), this);
}

void CWindowWnd::ShowWindow(bool show, bool take_focus) {
    if (::IsWindow(hwnd_)) {
        ::ShowWindow(hwnd_, show ? (take_focus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
    }
}

UINT CWindowWnd::ShowModal() {
    const HWND self = hwnd_;
    if (!::IsWindow(self)) {
        return static_cast<UINT>(-1);
    }
    const HWND owner = ::GetWindow(self, GW_OWNER);
    ::ShowWindow(self, SW_SHOWNORMAL);
    if (owner != nullptr) {
        ::EnableWindow(owner, FALSE);
    }
    MSG msg{};
    bool quit = false;
    while (::IsWindow(self)) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            break;
        }
        if (got < 0) {
            break;
        }
        if (!CPaintManagerUI::TranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (owner != nullptr) {
        ::EnableWindow(owner, TRUE);
        ::SetFocus(owner);
    }
    if (quit) {
        ::PostQuitMessage(static_cast<int>(msg.wParam)); // the outer loop must see it too
    }
    return 0;
}

void CWindowWnd::CenterWindow() {
    if (!::IsWindow(hwnd_)) {
        return;
    }
    RECT window;
    ::GetWindowRect(hwnd_, &window);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &info);
    const RECT& area = info.rcWork;
    const int w = window.right - window.left;
    const int h = window.bottom - window.top;
    int x = area.left + (area.right - area.left - w) / 2;
    int y = area.top + (area.bottom - area.top - h) / 2;
    x = x < area.left ? area.left : x;
    y = y < area.top ? area.top : y;
    ::SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CWindowWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(hwnd_, msg, wParam, lParam);
}

LRESULT CALLBACK CWindowWnd::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CWindowWnd* self;
    if (msg == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        self = static_cast<CWindowWnd*>(cs->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<CWindowWnd*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (self == nullptr) {
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    if (msg == WM_NCDESTROY) {
        const LRESULT result = self->HandleMessage(msg, wParam, lParam);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        self->OnFinalMessage(hwnd); // may delete the object: nothing of it is touched after this
        return result;
    }
    return self->HandleMessage(msg, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------------

LRESULT WindowImplBase::OnClose(UINT, WPARAM, LPARAM, BOOL& handled) {
    handled = FALSE; // the default handling destroys the window
    return 0;
}

LRESULT WindowImplBase::OnDestroy(UINT, WPARAM, LPARAM, BOOL& handled) {
    handled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnNcActivate(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    if (::IsIconic(hwnd_)) {
        handled = FALSE;
    }
    return wParam == 0 ? TRUE : FALSE;
}

LRESULT WindowImplBase::OnNcCalcSize(UINT, WPARAM, LPARAM, BOOL&) {
    return 0; // the whole window is client area: the layout draws its own title bar
}

LRESULT WindowImplBase::OnNcPaint(UINT, WPARAM, LPARAM, BOOL&) {
    return 0;
}

LRESULT WindowImplBase::OnNcHitTest(UINT, WPARAM, LPARAM lParam, BOOL&) {
    POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ::ScreenToClient(hwnd_, &pt);
    RECT client;
    ::GetClientRect(hwnd_, &client);
    const UiRect caption = m_pm.GetCaptionRect();
    // Child windows (buttons, edits) take their own hits; what reaches here is background or a label.
    if (pt.x >= client.left + caption.left && pt.x < client.right - caption.right && pt.y >= caption.top &&
        pt.y < caption.bottom) {
        return HTCAPTION;
    }
    return HTCLIENT;
}

LRESULT WindowImplBase::OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, BOOL&) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &monitor);
    // Maximised, the window fills the work area and leaves the task bar visible.
    info->ptMaxPosition.x = monitor.rcWork.left - monitor.rcMonitor.left;
    info->ptMaxPosition.y = monitor.rcWork.top - monitor.rcMonitor.top;
    info->ptMaxSize.x = monitor.rcWork.right - monitor.rcWork.left;
    info->ptMaxSize.y = monitor.rcWork.bottom - monitor.rcWork.top;
    const SIZE min = m_pm.GetMinInfo();
    if (min.cx > 0) {
        info->ptMinTrackSize.x = min.cx;
    }
    if (min.cy > 0) {
        info->ptMinTrackSize.y = min.cy;
    }
    return 0;
}

LRESULT WindowImplBase::OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
    LONG_PTR style = ::GetWindowLongPtrW(hwnd_, GWL_STYLE);
    style &= ~static_cast<LONG_PTR>(WS_CAPTION);
    ::SetWindowLongPtrW(hwnd_, GWL_STYLE, style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    ::SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);

    m_pm.Init(hwnd_);
    m_pm.AddPreMessageFilter(this);
    const std::wstring layout = std::wstring(GetSkinFolder().GetData()) + GetSkinFile().GetData();
    CDialogBuilder builder;
    CControlUI* root = builder.Create(layout.c_str(), this, &m_pm, build_error_);
    if (root == nullptr) {
        return -1; // CreateWindowEx fails; the caller reports build_error_
    }
    m_pm.AttachDialog(root);
    m_pm.AddNotifier(this);
    const SIZE size = m_pm.GetInitSize();
    if (size.cx > 0 && size.cy > 0) {
        ::SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InitWindow();
    return 0;
}

LRESULT WindowImplBase::OnDpiChanged(UINT, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    if (m_pm.GetRoot() == nullptr) {
        handled = FALSE; // a window that draws itself (the pattern) stays in physical pixels
        return 0;
    }
    // Moved to a monitor of another scaling: the rectangle the system suggests keeps the window under
    // the cursor at its new size; the layout and the fonts follow the new DPI.
    m_pm.SetDpi(LOWORD(wParam));
    if (const auto* suggested = reinterpret_cast<const RECT*>(lParam)) {
        ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return 0;
}

LRESULT WindowImplBase::HandleCustomMessage(UINT, WPARAM, LPARAM, BOOL& handled) {
    handled = FALSE;
    return 0;
}

LRESULT WindowImplBase::MessageHandler(UINT msg, WPARAM wParam, LPARAM, bool& handled) {
    if (msg == WM_KEYDOWN && (wParam == VK_ESCAPE || wParam == VK_RETURN)) {
        const LRESULT r = ResponseDefaultKeyEvent(wParam);
        handled = r != FALSE;
        return r;
    }
    return 0;
}

void WindowImplBase::Notify(TNotifyUI& msg) {
    if (msg.sType == L"click") {
        OnClick(msg);
    }
}

LRESULT WindowImplBase::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    BOOL handled = TRUE;
    switch (msg) {
    case WM_CREATE:
        result = OnCreate(msg, wParam, lParam, handled);
        break;
    case WM_CLOSE:
        result = OnClose(msg, wParam, lParam, handled);
        break;
    case WM_DESTROY:
        result = OnDestroy(msg, wParam, lParam, handled);
        break;
    case WM_NCACTIVATE:
        result = OnNcActivate(msg, wParam, lParam, handled);
        break;
    case WM_NCCALCSIZE:
        result = OnNcCalcSize(msg, wParam, lParam, handled);
        break;
    case WM_NCPAINT:
        result = OnNcPaint(msg, wParam, lParam, handled);
        break;
    case WM_NCHITTEST:
        result = OnNcHitTest(msg, wParam, lParam, handled);
        break;
    case WM_GETMINMAXINFO:
        result = OnGetMinMaxInfo(msg, wParam, lParam, handled);
        break;
    case WM_DPICHANGED:
        result = OnDpiChanged(msg, wParam, lParam, handled);
        break;
    default:
        handled = FALSE;
        break;
    }
    if (handled) {
        return result;
    }
    result = HandleCustomMessage(msg, wParam, lParam, handled);
    if (handled) {
        return result;
    }
    if (m_pm.MessageHandler(msg, wParam, lParam, result)) {
        return result;
    }
    return CWindowWnd::HandleMessage(msg, wParam, lParam);
}
