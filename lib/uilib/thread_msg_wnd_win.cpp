#include "lib/uilib/thread_msg_wnd.h"

#include "lib/baselib/raii_win.h"
#include "lib/uilib/uilib.h"

#include <cstdarg>
#include <cwchar>

namespace ExtendUILib {

namespace {

const UINT kShowPending = WM_APP + 0x101;
const UINT kCloseNow = WM_APP + 0x102;
const UINT_PTR kRefreshTimer = 1;
constexpr int kWidth = 520;
constexpr int kHeight = 340;
constexpr int kMargin = 12;
constexpr int kBarHeight = 18;

int Px(int value, int dpi) {
    return ::MulDiv(value, dpi, 96);
}

// The bar along the bottom of the client area, and the list above it, in the window's pixels.
RECT BarRect(HWND hwnd, int dpi) {
    RECT client;
    ::GetClientRect(hwnd, &client);
    return RECT{Px(kMargin, dpi), client.bottom - Px(kMargin + kBarHeight, dpi),
                client.right - Px(kMargin, dpi), client.bottom - Px(kMargin, dpi)};
}

void PlaceList(HWND hwnd, HWND list, int dpi) {
    RECT client;
    ::GetClientRect(hwnd, &client);
    const RECT bar = BarRect(hwnd, dpi);
    ::MoveWindow(list, Px(kMargin, dpi), Px(kMargin, dpi), client.right - 2 * Px(kMargin, dpi),
                 bar.top - 2 * Px(kMargin, dpi), TRUE);
    ::SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(CPaintManagerUI::GetDefaultFont(dpi)), TRUE);
}

bool RegisterClassOnce() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &DefWindowProcW; // replaced per window at creation
    wc.hInstance = CPaintManagerUI::GetInstance();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_WAIT);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kTraceWindowClass;
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

} // namespace

CTreadMsgWndUI::~CTreadMsgWndUI() {
    const HWND hwnd = GetHWND();
    if (hwnd != nullptr && ::IsWindow(hwnd)) {
        ::DestroyWindow(hwnd); // its WM_DESTROY takes the lock: not held here
    }
}

HWND CTreadMsgWndUI::GetHWND() {
    std::lock_guard<std::mutex> guard(lock_);
    return hwnd_;
}

void CTreadMsgWndUI::Post(UINT msg) {
    // Under the lock: the window cannot go away between the test and the post.
    if (hwnd_ == nullptr) {
        return;
    }
    if (msg == kShowPending) {
        // One refresh at a time, and at most ten a second: a worker tracing a line per card must not
        // keep the window busy redrawing (under Wine a list box redraw costs milliseconds).
        if (refresh_posted_) {
            return;
        }
        refresh_posted_ = true;
    }
    ::PostMessageW(hwnd_, msg, 0, 0);
}

void CTreadMsgWndUI::Trace(const wchar_t* format, ...) {
    wchar_t line[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vswprintf(line, sizeof(line) / sizeof(line[0]), format, args);
    va_end(args);
    if (n < 0) {
        line[sizeof(line) / sizeof(line[0]) - 1] = L'\0'; // cut, not lost
    }
    std::lock_guard<std::mutex> guard(lock_);
    pending_.emplace_back(line);
    Post(kShowPending);
}

void CTreadMsgWndUI::SetProgress(uint64_t done, uint64_t total) {
    std::lock_guard<std::mutex> guard(lock_);
    permille_ = total == 0 ? 0 : static_cast<int>((done > total ? total : done) * 1000 / total);
    Post(kShowPending);
}

void CTreadMsgWndUI::Close(bool close) {
    if (!close) {
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    closing_ = true;
    Post(kCloseNow);
}

int CTreadMsgWndUI::Domodal(HWND owner) {
    if (!RegisterClassOnce()) {
        return -1;
    }
    RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    if (owner != nullptr) {
        ::GetWindowRect(owner, &area);
    }
    dpi_ = CPaintManagerUI::DpiForWindow(owner);
    RECT frame{0, 0, Px(kWidth, dpi_), Px(kHeight, dpi_)};
    const DWORD style = WS_POPUP | WS_CAPTION | WS_BORDER | WS_CLIPCHILDREN;
    ::AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int w = frame.right - frame.left;
    const int h = frame.bottom - frame.top;
    const HWND hwnd = ::CreateWindowExW(0, kTraceWindowClass, L"Veltra-Seam", style,
                                        area.left + (area.right - area.left - w) / 2,
                                        area.top + (area.bottom - area.top - h) / 2, w, h, owner, nullptr,
                                        CPaintManagerUI::GetInstance(), nullptr);
    if (hwnd == nullptr) {
        return -1;
    }
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CTreadMsgWndUI::WindowProc));
    list_ = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
                              WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL, 0, 0, 0,
                              0, hwnd, nullptr, CPaintManagerUI::GetInstance(), nullptr);
    PlaceList(hwnd, list_, dpi_);
    ::SetPropW(hwnd, kProgressProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0)));
    owner_ = owner;
    {
        std::lock_guard<std::mutex> guard(lock_);
        hwnd_ = hwnd;
        closing_ = false;
    }
    if (owner != nullptr) {
        ::EnableWindow(owner, FALSE);
    }
    ::ShowWindow(hwnd, SW_SHOWNORMAL);
    ShowPending(hwnd); // lines traced before the window existed
    // Without a thread, or with one that cannot start, nothing would ever close the window.
    if (thread_ == nullptr || thread_->Run() != 0) {
        Close(true);
    }
    MSG msg{};
    while (::IsWindow(hwnd)) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam)); // the outer loop must see it too
            ::DestroyWindow(hwnd);
            break;
        }
        if (got < 0) {
            break;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}

void CTreadMsgWndUI::ShowPending(HWND hwnd) {
    std::vector<std::wstring> lines;
    int permille;
    {
        std::lock_guard<std::mutex> guard(lock_);
        lines.swap(pending_);
        permille = permille_;
        shown_permille_ = permille;
    }
    if (!lines.empty()) {
        ::SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
        for (const std::wstring& line : lines) {
            ::SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        }
        const LRESULT count = ::SendMessageW(list_, LB_GETCOUNT, 0, 0);
        ::SendMessageW(list_, LB_SETTOPINDEX, static_cast<WPARAM>(count > 0 ? count - 1 : 0), 0);
        ::SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(list_, nullptr, TRUE);
    }
    if (reinterpret_cast<INT_PTR>(::GetPropW(hwnd, kProgressProperty)) != static_cast<INT_PTR>(permille)) {
        ::SetPropW(hwnd, kProgressProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(permille)));
        const RECT bar = BarRect(hwnd, dpi_);
        ::InvalidateRect(hwnd, &bar, FALSE);
    }
}

void CTreadMsgWndUI::PaintBar(HWND hwnd, HDC dc) {
    const int permille = static_cast<int>(reinterpret_cast<INT_PTR>(::GetPropW(hwnd, kProgressProperty)));
    const RECT bar = BarRect(hwnd, dpi_);
    ::FrameRect(dc, &bar, static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH)));
    RECT inner = bar;
    ::InflateRect(&inner, -Px(2, dpi_), -Px(2, dpi_));
    RECT done = inner;
    done.right = inner.left + (inner.right - inner.left) * permille / 1000;
    RECT rest = inner;
    rest.left = done.right;
    const GdiObject<HBRUSH> fill(::CreateSolidBrush(RGB(0x2F, 0x6F, 0xAE)));
    ::FillRect(dc, &done, fill.get());
    ::FillRect(dc, &rest, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
}

LRESULT CALLBACK CTreadMsgWndUI::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CTreadMsgWndUI*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) {
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    return self->HandleMessage(hwnd, msg, wParam, lParam);
}

LRESULT CTreadMsgWndUI::HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case kShowPending:
        ShowPending(hwnd);
        ::SetTimer(hwnd, kRefreshTimer, 100, nullptr);
        return 0;
    case WM_TIMER:
        if (wParam == kRefreshTimer) {
            ::KillTimer(hwnd, kRefreshTimer);
            bool more;
            {
                std::lock_guard<std::mutex> guard(lock_);
                refresh_posted_ = false;
                more = !pending_.empty() || permille_ != shown_permille_;
            }
            if (more) {
                ShowPending(hwnd);
                std::lock_guard<std::mutex> guard(lock_);
                refresh_posted_ = true;
                ::SetTimer(hwnd, kRefreshTimer, 100, nullptr);
            }
            return 0;
        }
        break;
    case kCloseNow:
    case WM_CLOSE: {
        bool closing;
        {
            std::lock_guard<std::mutex> guard(lock_);
            closing = closing_;
        }
        if (!closing) {
            return 0; // the work ends the window, not the operator: a half-sent wall is worse than waiting
        }
        ShowPending(hwnd);
        // The owner comes back before the window goes, so that it, not another program, is activated.
        if (owner_ != nullptr) {
            ::EnableWindow(owner_, TRUE);
        }
        ::DestroyWindow(hwnd);
        return 0;
    }
    case WM_DPICHANGED: {
        // Moved to a monitor of another scaling: the suggested rectangle, and the list and bar inside.
        dpi_ = LOWORD(wParam);
        const auto* r = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(hwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        PlaceList(hwnd, list_, dpi_);
        ::InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    case WM_PAINT: {
        const PaintDC dc(hwnd);
        PaintBar(hwnd, dc.get());
        return 0;
    }
    case WM_DESTROY: {
        ::RemovePropW(hwnd, kProgressProperty);
        std::lock_guard<std::mutex> guard(lock_);
        hwnd_ = nullptr;
        break;
    }
    case WM_NCDESTROY:
        if (owner_ != nullptr) {
            ::EnableWindow(owner_, TRUE);
            ::SetForegroundWindow(owner_);
        }
        list_ = nullptr;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        break;
    default:
        break;
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace ExtendUILib
