#include "seam/pattern_window_win.h"

#include "app/main_frame.h"
#include "remote/send_all_win.h"
#include "remote/wire_format.h"

#include <new>

CScreenCtrlWnd* g_patternWindow = nullptr;

namespace {

// Owns a popup menu for the length of one right click.
class PopupMenu {
public:
    PopupMenu() : menu_(::CreatePopupMenu()) {}
    ~PopupMenu() {
        if (menu_ != nullptr) {
            ::DestroyMenu(menu_);
        }
    }
    PopupMenu(const PopupMenu&) = delete;
    PopupMenu& operator=(const PopupMenu&) = delete;
    HMENU get() const { return menu_; }

private:
    HMENU menu_;
};

} // namespace

LPCWSTR CScreenCtrlWnd::GetWindowClassName() const {
    return kMainWindowClass;
}

void CreatePatternWindowObject() {
    g_patternWindow = new (std::nothrow) CScreenCtrlWnd;
}

bool EnsurePatternWindowObject() {
    if (g_patternWindow == nullptr) {
        CreatePatternWindowObject();
        if (g_patternWindow == nullptr) {
            ShowMainMessage("not enough memory for the pattern window", "warnning");
            return false;
        }
    }
    return true;
}

void OpenPatternWindow(HWND parent, const ScreenParams& params, int socket) {
    if (!EnsurePatternWindowObject()) {
        return;
    }
    CScreenCtrlWnd& w = *g_patternWindow;
    if (w.GetHWND() != nullptr) {
        // Already open: a server whose operator or client left it open is asked to open it again. One
        // object has one window; the open one stays and takes the input.
        return;
    }
    w.params = params;
    w.grid.BuildSeamGrid(w.params); // a refused size still opens the window over the grid held
    w.blinkCounter = -1;
    UINT lines = 0;
    if (::SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0) && lines != 0) {
        // The all-ones "one page per notch" setting is -1 as a signed number: threshold -120.
        w.wheelThreshold = 120 / static_cast<int>(lines);
    } else {
        w.wheelThreshold = 0;
    }
    const HWND hwnd = w.Create(parent, L"", 0x96C80000, 0, params.start_x, params.start_y,
                               params.screen_width, params.screen_height);
    if (hwnd == nullptr) {
        return;
    }
    ::SetWindowLongW(hwnd, GWL_STYLE, 0);
    // Without its caption and border the whole window is client area: client (0, 0) is the screen's
    // first LED pixel, wherever the window manager put the frame a moment ago.
    ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    w.forwardSocket = socket;
    w.ShowModal();
}

LRESULT CScreenCtrlWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    bool forwarded = false;
    switch (msg) {
    case WM_PAINT:
        Paint();
        break;
    case WM_CHAR:
        if (wParam == 27) {
            ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
        } else if (wParam == 'X' || wParam == 'x') {
            StepAllGains(-1);
        } else if (wParam == 'Z' || wParam == 'z') {
            StepAllGains(+1);
        }
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == kPatternMenuExit && g_patternWindow != nullptr) {
            ::PostMessageW(g_patternWindow->GetHWND(), WM_CLOSE, 0, 0);
        }
        forwarded = true;
        break;
    case WM_TIMER:
        BlinkSelectedSegment();
        break;
    case WM_LBUTTONUP:
        OnLeftButtonUp(lParam);
        forwarded = true;
        break;
    case WM_RBUTTONDOWN:
        ShowMenu(lParam);
        break;
    case WM_MOUSEWHEEL:
        OnWheel(wParam);
        forwarded = true;
        break;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_KILLFOCUS:
        forwarded = true;
        break;
    default:
        break;
    }
    if (forwarded) {
        Forward(msg, wParam, lParam);
    }
    LRESULT result = 0;
    if (m_pm.MessageHandler(msg, wParam, lParam, result)) {
        return result;
    }
    return CWindowWnd::HandleMessage(msg, wParam, lParam);
}

// The local action has already happened: the client has selected, stepped or closed before the
// packet leaves. Keys, paint, timer and the right button never travel.
void CScreenCtrlWnd::Forward(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (forwardSocket == -1) {
        return;
    }
    const InputPacket packet = EncodeInputPacket(msg, wParam, static_cast<uint64_t>(lParam));
    int length = static_cast<int>(packet.size());
    if (SendAll(forwardSocket, reinterpret_cast<const char*>(packet.data()), &length) != 0) {
        // A lost or stalled link (the send waited its time out): forwarding stops, and the main window
        // shows the client disconnected.
        forwardSocket = -1;
        if (g_mainFrame != nullptr) {
            g_mainFrame->DisconnectClient();
        }
    }
}

void CScreenCtrlWnd::OnLeftButtonUp(LPARAM lParam) {
    // Clicks during a blink are refused; so is every click after one that selected nothing, whose
    // timer never counts down, until the window is opened again.
    if (blinkCounter >= 6 || blinkCounter <= -1) {
        blinkCounter = 0;
        grid.SelectSeamAt(static_cast<uint32_t>(params.screen_width),
                          static_cast<uint32_t>(params.screen_height),
                          static_cast<uint32_t>(params.mod_width), static_cast<uint32_t>(params.mod_height),
                          LOWORD(lParam), HIWORD(lParam));
        ::SetTimer(hwnd_, kBlinkTimer, 100, nullptr);
    }
}

void CScreenCtrlWnd::OnWheel(WPARAM wParam) {
    if (wheelThreshold == 0) {
        return;
    }
    const int delta = static_cast<short>(HIWORD(wParam));
    grid.StepSelectedGains(delta >= wheelThreshold);
    DrawSelectedSegments();
}

void CScreenCtrlWnd::ShowMenu(LPARAM lParam) {
    PopupMenu menu;
    if (menu.get() == nullptr) {
        return;
    }
    ::InsertMenuW(menu.get(), 0, MF_BYPOSITION | MF_STRING, kPatternMenuExit, L"exit");
    ::SetForegroundWindow(hwnd_);
    POINT pt{LOWORD(lParam), HIWORD(lParam)};
    ::ClientToScreen(hwnd_, &pt);
    ::TrackPopupMenu(menu.get(), TPM_BOTTOMALIGN, pt.x, pt.y, 0, hwnd_, nullptr);
}

void CScreenCtrlWnd::StepAllGains(int direction) {
    grid.StepAllGains(direction);
    DrawAllSegments();
}
