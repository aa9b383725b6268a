#include "seam/pattern_window_win.h"

#include "lib/baselib/identity.h"
#include "lib/baselib/memory_budget.h"
#include "lib/baselib/raii_win.h"
#include "remote/send_all_win.h"
#include "remote/wire_format.h"
#include "seam/seam_selection.h"

#include <new>

CScreenCtrlWnd* g_patternWindow = nullptr;

LPCWSTR CScreenCtrlWnd::GetWindowClassName() const {
    return kMainWindowClass;
}

void CreatePatternWindowObject() {
    g_patternWindow = new (std::nothrow) CScreenCtrlWnd;
}

bool EnsurePatternWindowObject(PatternWindowOwner* owner) {
    if (g_patternWindow == nullptr) {
        CreatePatternWindowObject();
        if (g_patternWindow == nullptr) {
            if (owner != nullptr) {
                owner->ShowMessage("not enough memory for the pattern window", "warnning");
            }
            return false;
        }
    }
    if (owner != nullptr) {
        g_patternWindow->SetOwner(owner);
    }
    return true;
}

void OpenPatternWindow(HWND parent, const ScreenParams& params, int socket, PatternWindowOwner* owner) {
    if (EnsurePatternWindowObject(owner)) {
        g_patternWindow->Open(parent, params, socket);
    }
}

void CScreenCtrlWnd::TakeScreen(const ScreenParams& screen) {
    params = screen;
    // A refused size keeps the grid held. A rebuild for other sizes is a step of its own here; a server
    // following a client's opening keeps none, since the client's undo of it stays local. The clients'
    // histories name records of a grid that is gone.
    const SeamGridCache seen = ProcessSeamGridCache();
    LimitHistory();
    const StepInfo step{StepKind::Command, static_cast<int64_t>(::GetTickCount64()), 0, false};
    if (BuildSeamGridKeepingHistory(grid, history, params, gridParams_, replaying ? nullptr : &step) ==
        kGridOk) {
        gridParams_ = params;
    }
    const SeamGridCache& now = ProcessSeamGridCache();
    if (seen.screen_width != now.screen_width || seen.screen_height != now.screen_height ||
        seen.mod_width != now.mod_width || seen.mod_height != now.mod_height) {
        replayedHistories.clear();
    }
}

void CScreenCtrlWnd::Open(HWND parent, const ScreenParams& screen, int socket) {
    if (hwnd_ != nullptr) {
        // Already open: a server whose operator or client left it open is asked to open it again. One
        // object has one window; the open one stays and takes the input.
        return;
    }
    TakeScreen(screen); // a refused size still opens the window over the grid held
    blinkCounter = -1;
    UINT lines = 0;
    if (::SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0) && lines != 0) {
        // The all-ones "one page per notch" setting is -1 as a signed number: threshold -120.
        wheelThreshold = 120 / static_cast<int>(lines);
    } else {
        wheelThreshold = 0;
    }
    const HWND hwnd = Create(parent, L"", 0x96C80000, 0, screen.start_x, screen.start_y, screen.screen_width,
                             screen.screen_height);
    if (hwnd == nullptr) {
        return;
    }
    ::SetWindowLongW(hwnd, GWL_STYLE, 0);
    // Without its caption and border the whole window is client area: client (0, 0) is the screen's
    // first LED pixel, wherever the window manager put the frame a moment ago.
    ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    forwardSocket = socket;
    ShowModal();
}

LRESULT CScreenCtrlWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (PhotoModeMessage(msg, wParam)) {
        return 0;
    }
    bool forwarded = false;
    switch (msg) {
    case WM_PAINT:
        if (photoMode_) {
            PaintPhotoMode();
        } else {
            Paint();
        }
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
    case WM_KEYDOWN:
        OnKeyDown(wParam);
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
        // A lost or stalled link (the send waited its time out): forwarding stops, and the owner
        // shows the client disconnected.
        forwardSocket = -1;
        if (owner_ != nullptr) {
            owner_->ForwardingLost();
        }
    }
}

void CScreenCtrlWnd::StopForwardingTo(int socket) {
    if (forwardSocket == socket) {
        forwardSocket = -1;
    }
}

uint64_t CScreenCtrlWnd::SetReplaying(uint64_t source) {
    const uint64_t previous = replaying;
    replaying = source;
    return previous;
}

// The history may hold a quarter of what one allocation may take now, and a server's replayed steps an
// eighth more, shared by its clients: the rest is for the grid itself and the copies that the commands
// take of it.
void CScreenCtrlWnd::LimitHistory() {
    history.SetByteLimit(MemoryBudget() / 4);
    for (auto& client : replayedHistories) {
        client.second.SetByteLimit(MemoryBudget() / 8 / replayedHistories.size());
    }
}

// On a server the steps replayed from each client are kept apart from the wall operator's own and from
// other clients': each undo takes back only steps of whoever asked for it, so nobody reverts another's
// work. The histories of the eight latest connections are kept (a server serves eight at once).
GainHistory& CScreenCtrlWnd::Steps() {
    if (replaying == 0) {
        return history;
    }
    if (replayedHistories.count(replaying) == 0) {
        if (replayedHistories.size() >= kMaxReplayedHistories) {
            replayedHistories.erase(replayedHistories.begin()); // the oldest connection's
        }
        replayedHistories.emplace(replaying, GainHistory(0));
        LimitHistory();
    }
    return replayedHistories.at(replaying);
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
        SelectionChanged();
    }
}

// With Shift a notch is ten steps, taken one by one with the wheel's own rule: exactly what ten
// notches give, bounds included. The wheel message travels as it came, Shift flag and all.
void CScreenCtrlWnd::OnWheel(WPARAM wParam) {
    if (wheelThreshold == 0) {
        return;
    }
    const int delta = static_cast<short>(HIWORD(wParam));
    const int steps = (LOWORD(wParam) & MK_SHIFT) != 0 ? 10 : 1;
    LimitHistory();
    const GainSnapshot before = Steps().SnapshotSelected(grid.Segments());
    for (int i = 0; i < steps; ++i) {
        grid.StepSelectedGains(delta >= wheelThreshold);
    }
    DrawSelectedSegments();
    Record(StepKind::Notch, before, forwardSocket != -1 ? 1 : 0);
}

void CScreenCtrlWnd::OnKeyDown(WPARAM key) {
    const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
    const bool shift = ::GetKeyState(VK_SHIFT) < 0;
    if (ctrl && (key == 'Z' || key == 'Y')) {
        UndoStep(key == 'Y' || shift, forwardSocket);
        return;
    }
    if (ctrl) {
        return;
    }
    if (StepByKey(key, shift)) {
        return;
    }
    uint16_t x = 0;
    uint16_t y = 0;
    bool found = false;
    switch (key) {
    case VK_LEFT:
        found = NeighbourSeamPoint(grid, params, SeamMove::Left, x, y);
        break;
    case VK_RIGHT:
        found = NeighbourSeamPoint(grid, params, SeamMove::Right, x, y);
        break;
    case VK_UP:
        found = NeighbourSeamPoint(grid, params, SeamMove::Up, x, y);
        break;
    case VK_DOWN:
        found = NeighbourSeamPoint(grid, params, SeamMove::Down, x, y);
        break;
    case VK_HOME:
        found = grid.FirstSelectedIndex() < 0 && CentrePoint(params, x, y);
        break;
    default:
        break;
    }
    if (found) {
        ClickAt(x, y);
    }
}

// Page Up and Page Down, and "+" and "-" (the keypad's too), step the selected seam as a notch of the
// wheel up or down does, Shift making it ten (but for the main keyboard's "+", which needs Shift to be
// typed); the notch travels as the wheel message it equals, so a server follows with what it knows.
bool CScreenCtrlWnd::StepByKey(WPARAM key, bool shift) {
    int direction = 0;
    bool ten = shift;
    switch (key) {
    case VK_PRIOR:
    case VK_ADD:
        direction = 1;
        break;
    case VK_OEM_PLUS:
        direction = 1, ten = false;
        break;
    case VK_NEXT:
    case VK_SUBTRACT:
    case VK_OEM_MINUS:
        direction = -1;
        break;
    default:
        return false;
    }
    const WPARAM notch = MAKEWPARAM(ten ? MK_SHIFT : 0, static_cast<WORD>(direction * WHEEL_DELTA));
    OnWheel(notch);
    Forward(WM_MOUSEWHEEL, notch, 0);
    return true;
}

// A seam chosen by key is selected as a click there would select it, blink and refusal during a blink
// included, and travels as that click: the server needs nothing new to follow.
void CScreenCtrlWnd::ClickAt(uint16_t x, uint16_t y) {
    if (blinkCounter >= 0 && blinkCounter < 6) {
        return;
    }
    const LPARAM point = MAKELPARAM(x, y);
    OnLeftButtonUp(point);
    Forward(WM_LBUTTONDOWN, MK_LBUTTON, point);
    Forward(WM_LBUTTONUP, 0, point);
}

void CScreenCtrlWnd::Record(StepKind kind, const GainSnapshot& before, uint32_t peer_steps) {
    Steps().Record(StepInfo{kind, static_cast<int64_t>(::GetTickCount64()), peer_steps, replaying != 0},
                   before, grid.Segments());
    SelectionChanged();
}

void CScreenCtrlWnd::ResetGains(uint32_t peer_steps) {
    LimitHistory();
    const GainSnapshot before = Steps().SnapshotAll(grid.Segments());
    grid.ResetGains();
    Record(StepKind::Command, before, peer_steps);
}

void CScreenCtrlWnd::ApplyGridCommand(std::vector<SeamSegment>&& next, uint32_t peer_steps,
                                      const ScreenState* screens) {
    const size_t size_before = grid.Size();
    if (screens != nullptr) {
        gridParams_ = screens[1].params;
    }
    LimitHistory();
    Steps().RecordReplace(
        StepInfo{StepKind::Command, static_cast<int64_t>(::GetTickCount64()), peer_steps, replaying != 0},
        grid.Segments(), next, screens);
    if (next.size() != size_before) {
        // The other histories' steps name records of a grid that is gone.
        const GainHistory& kept = Steps();
        if (&kept != &history) {
            history.Clear();
        }
        for (auto& client : replayedHistories) {
            if (&client.second != &kept) {
                client.second.Clear();
            }
        }
    }
    grid.ReplaceSeamGrid(std::move(next));
    Redraw(size_before);
    SelectionChanged();
}

void CScreenCtrlWnd::RestoreGrid(std::vector<SeamSegment>&& records, const ScreenParams& belongs_to) {
    const size_t size_before = grid.Size();
    history.Clear();
    grid.ReplaceSeamGrid(std::move(records));
    gridParams_ = belongs_to;
    ProcessSeamGridCache() = GridCacheOf(belongs_to);
    Redraw(size_before);
    SelectionChanged();
}

void CScreenCtrlWnd::UndoStep(bool redo, int socket) {
    const size_t size_before = grid.Size();
    const HistoryStep* step = redo ? history.Redo(grid.Records()) : history.Undo(grid.Records());
    if (step == nullptr) {
        return;
    }
    Undone(*step, redo);
    Redraw(size_before);
    SelectionChanged();
    if (step->peer_steps > 0 && socket != -1) {
        const InputPacket packet = EncodeInputPacket(redo ? WM_SEAM_REDO : WM_SEAM_UNDO, step->peer_steps, 0);
        int length = static_cast<int>(packet.size());
        if (SendAll(socket, reinterpret_cast<const char*>(packet.data()), &length) != 0 &&
            owner_ != nullptr) {
            owner_->ForwardingLost(); // as for every forwarded input: the server would drift apart unseen
        }
    }
}

void CScreenCtrlWnd::ReplayUndo(bool redo, uint32_t count) {
    const size_t size_before = grid.Size();
    for (uint32_t i = 0; i < count; ++i) {
        const HistoryStep* step = redo ? Steps().Redo(grid.Records()) : Steps().Undo(grid.Records());
        if (step == nullptr) {
            break;
        }
        Undone(*step, redo);
    }
    Redraw(size_before);
    SelectionChanged();
}

// A step that installed a grid of other sizes gives back the fields and the sizes the grid belongs to:
// opening the pattern window with them keeps the grid, and a save writes a header that fits it.
void CScreenCtrlWnd::Undone(const HistoryStep& step, bool redo) {
    if (!step.has_screens) {
        return;
    }
    const ScreenState& state = redo ? step.screen_after : step.screen_before;
    ProcessSeamGridCache() = state.cache;
    // An open window selects by these sizes: those of the grid it now shows.
    gridParams_ = state.params;
    if (!photoMode_) {
        params = state.params;
    }
    if (hwnd_ != nullptr && ::IsWindow(hwnd_) && !photoMode_) {
        // The open window takes the sizes of the grid it now shows, as reopening it would: drawn or
        // clicked with the sizes it had, a grid of other sizes would show its lines in the wrong places
        // and a click would select another record than the one under it.
        blinkCounter = -1;
        ::SetWindowPos(hwnd_, nullptr, params.start_x, params.start_y, params.screen_width,
                       params.screen_height, SWP_NOZORDER | SWP_NOACTIVATE);
        ::InvalidateRect(hwnd_, nullptr, FALSE); // lines of other sizes: the field is painted anew
    }
    if (owner_ != nullptr) {
        owner_->GridRestored(state.params);
    }
}

// An open window shows the gains as they are now; a grid of another length needs the field as well.
void CScreenCtrlWnd::Redraw(size_t size_before) {
    if (hwnd_ == nullptr || !::IsWindow(hwnd_)) {
        return;
    }
    if (grid.Size() != size_before) {
        ::InvalidateRect(hwnd_, nullptr, FALSE);
    } else {
        DrawAllSegments();
    }
}

void CScreenCtrlWnd::SelectionChanged() {
    if (owner_ != nullptr) {
        owner_->SelectionChanged();
    }
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
    LimitHistory();
    const GainSnapshot before = Steps().SnapshotAll(grid.Segments());
    grid.StepAllGains(direction);
    DrawAllSegments();
    Record(StepKind::Keys, before, 0); // the keys stay local, and so does their undo
}
