#include "app/main_frame.h"

#include "app/traces.h"
#include "lib/baselib/memory_budget.h"
#include "lib/sharedui/sharedui.h"
#include "lib/uilib/utf8.h"
#include "seam/pattern_window_win.h"
#include "seam/screen_params_check.h"
#include "seam/seam_selection.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

MainFrame* g_mainFrame = nullptr;

namespace {

// Every control name the dispatch relies on; a layout lacking one is refused at start-up. The photo
// correction's button and the two labels that only inform ("lab_selection", "lab_coef_file") are
// looked up where used and may be missing.
const wchar_t* const kMainControlNames[] = {
    L"edt_screen_width",
    L"edt_screen_height",
    L"edt_start_x",
    L"edt_start_y",
    L"edt_box_width",
    L"edt_box_height",
    L"edt_mod_width",
    L"edt_mod_height",
    L"edt_gray_scale",
    L"edt_gama_value",
    L"closebtn",
    L"minbtn",
    L"maxbtn",
    L"restorebtn",
    L"btn_screen_ctr",
    L"btn_reset",
    L"btn_send_to_hardware",
    L"btn_read_back",
    L"btn_solidify",
    L"btn_import_data",
    L"btn_save",
    L"btn_import_coef",
    L"btn_op_instruction",
    L"chkbox_Enable",
    L"OnlyBoxInner",
    L"btn_client",
    L"btn_server",
    L"edt_ip",
    L"edt_port",
    L"btn_connect",
    L"lab_state",
};
const size_t kMainControlCount = sizeof(kMainControlNames) / sizeof(kMainControlNames[0]);

std::wstring g_creationError;

struct ParamField {
    const wchar_t* control;
    int32_t ScreenParams::*field;
};

const ParamField kIntFields[] = {
    {L"edt_screen_width", &ScreenParams::screen_width}, {L"edt_screen_height", &ScreenParams::screen_height},
    {L"edt_start_x", &ScreenParams::start_x},           {L"edt_start_y", &ScreenParams::start_y},
    {L"edt_box_width", &ScreenParams::box_width},       {L"edt_box_height", &ScreenParams::box_height},
    {L"edt_mod_width", &ScreenParams::mod_width},       {L"edt_mod_height", &ScreenParams::mod_height},
    {L"edt_gray_scale", &ScreenParams::gray_scale},
};

void Trace(const char* gbk) {
    ::OutputDebugStringA(gbk);
}

} // namespace

// A line on standard output, in UTF-8: where a server says what nobody at its screen is asked about.
void MainFrame::PrintLine(const std::wstring& line) {
    const std::string bytes =
        Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(line.data()), line.size()));
    std::printf("%s\n", bytes.c_str());
    std::fflush(stdout);
}

// A box that a client's command raises on a server would stop the replay until someone at the wall
// answered it: it becomes a line on standard output, named after the command, and the replay goes on.
bool MainFrame::PrintInsteadOfBox(const std::wstring& text, const std::wstring& caption) {
    if (!remote_.Replaying() && !replayedSend_) {
        return false;
    }
    const std::wstring command = remote_.Replaying() ? remote_.ReplayedCommand() : L"btn_send_to_hardware";
    PrintLine(command + L": " + caption + L": " + text);
    return true;
}

// The window is gone once its final message has come (g_mainFrame is null then).
void MainFrame::ShowMessage(const char* text, const char* caption) {
    if (g_mainFrame != this || PrintInsteadOfBox(std::wstring(text, text + std::strlen(text)),
                                                 std::wstring(caption, caption + std::strlen(caption)))) {
        return;
    }
    ::MessageBoxExA(hwnd_, text, caption, MB_OK, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
}

void MainFrame::ShowMessageW(const std::wstring& text, const wchar_t* caption) {
    if (g_mainFrame != this || PrintInsteadOfBox(text, caption)) {
        return;
    }
    ::MessageBoxExW(hwnd_, text.c_str(), caption, MB_OK, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
}

void MainFrame::GridRestored(const ScreenParams& params) {
    recovery_.Touch();
    if (g_mainFrame == this) {
        ShowScreenParams(params);
    }
}

void MainFrame::ForwardingLost() {
    if (g_mainFrame == this) {
        remote_.DisconnectClient();
    }
}

LinkedPattern* MainFrame::Pattern(bool make) {
    if (make && !EnsurePatternWindowObject(this)) {
        return nullptr;
    }
    return g_patternWindow;
}

const std::wstring& MainFrame::CreationError() {
    return g_creationError;
}

MainFrame::MainFrame() = default;
MainFrame::~MainFrame() = default;

CControlUI* MainFrame::Control(const wchar_t* name) {
    return m_pm.FindControl(name);
}

CControlUI* MainFrame::CreateLayoutControl(LPCWSTR tag) {
    if (_wcsicmp(tag, L"QXButton") == 0) {
        return new CQXButtonUI;
    }
    if (_wcsicmp(tag, L"HorGroupLayout") == 0) {
        return new CHorGroupLayoutUI;
    }
    return nullptr;
}

LRESULT MainFrame::OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    const LRESULT result = WindowImplBase::OnCreate(msg, wParam, lParam, handled);
    if (result != 0) {
        g_creationError = build_error_;
        return result;
    }
    // The dispatch looks controls up by name without checks: a layout must not lack any of them.
    for (size_t i = 0; i < kMainControlCount; ++i) {
        if (Control(kMainControlNames[i]) == nullptr) {
            g_creationError = L"The layout xml\\VTSeamFrame.xml lacks the control \"" +
                              std::wstring(kMainControlNames[i]) + L"\".";
            return -1;
        }
    }
    UpdateCaptionButtons();
    m_pm.AddTranslateAccelerator(this);
    SelectionChanged();
    recovery_.Start();
    return 0;
}

bool MainFrame::TranslateAccelerator(const MSG* msg) {
    if (msg->message != WM_KEYDOWN || (msg->wParam != 'Z' && msg->wParam != 'Y') ||
        ::GetKeyState(VK_CONTROL) >= 0 || ::GetKeyState(VK_MENU) < 0) {
        return false;
    }
    if (dynamic_cast<CEditUI*>(m_pm.FindControl(msg->hwnd)) != nullptr) {
        return false;
    }
    if (g_patternWindow != nullptr) {
        const bool redo = msg->wParam == 'Y' || ::GetKeyState(VK_SHIFT) < 0;
        g_patternWindow->UndoStep(redo, remote_.ForwardSocket());
    }
    return true;
}

void MainFrame::SelectionChanged() {
    recovery_.Touch(); // every change of the grid comes this way
    CControlUI* label = g_mainFrame == this ? Control(L"lab_selection") : nullptr;
    if (label == nullptr) {
        return;
    }
    // The fields give the sizes of the grid held: those it was opened with, or an imported file's.
    label->SetText(g_patternWindow != nullptr
                       ? SelectionText(g_patternWindow->Grid(), ReadScreenParams()).c_str()
                       : L"未选择");
}

// "edt_camera_width": the camera's photos are this many pixels wide; 4000, a phone's, when the field
// is missing, empty or out of reason.
uint32_t MainFrame::PhotoCameraWidth() {
    CControlUI* field = Control(L"edt_camera_width");
    const long width = field != nullptr ? std::wcstol(field->GetText().GetData(), nullptr, 10) : 0;
    return width >= 400 && width <= 100000 ? static_cast<uint32_t>(width) : 4000u;
}

void MainFrame::PhotoRegionShown(size_t number, size_t count) {
    CControlUI* label = g_mainFrame == this ? Control(L"lab_selection") : nullptr;
    if (label == nullptr || count == 0) {
        SelectionChanged();
        return;
    }
    label->SetText((L"照片分区 " + std::to_wstring(number) + L" / " + std::to_wstring(count)).c_str());
}

LRESULT MainFrame::OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    recovery_.Finish(); // the fields still exist here
    ::PostQuitMessage(0);
    return WindowImplBase::OnDestroy(msg, wParam, lParam, handled);
}

// Counts the frames of the main window's message handling on the stack. A window destroyed inside one
// of them (a close that arrives in the loop of a message box, a dialog or the pattern window) has its
// object deleted only when the outermost returns: the handlers that were waiting then unwind over
// members that still exist.
class BusyScope {
public:
    explicit BusyScope(MainFrame& frame) : frame_(frame) { ++frame_.busyDepth_; }
    ~BusyScope() {
        if (--frame_.busyDepth_ == 0 && frame_.finalPending_) {
            frame_.Release(); // the last use of the object
        }
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    MainFrame& frame_;
};

void MainFrame::OnFinalMessage(HWND hwnd) {
    WindowImplBase::OnFinalMessage(hwnd);
    g_mainFrame = nullptr; // no message box is owned by a window that is gone
    if (busyDepth_ > 0) {
        finalPending_ = true;
        return;
    }
    Release();
}

void MainFrame::Release() {
    remote_.CloseSockets();
    delete g_patternWindow;
    g_patternWindow = nullptr;
    delete this;
}

LRESULT MainFrame::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    BusyScope busy(*this);
    switch (msg) {
    case WM_SIZE:
        UpdateCaptionButtons();
        break;
    case WM_CLOSE:
        // The upload's cards must not be left with their gate open and half their coefficients: the
        // close comes back when the worker has ended.
        if (hardware_.HoldClose()) {
            return 0;
        }
        break;
    case WM_SEND_SNAPSHOT:
        hardware_.AnswerSnapshotRequest();
        return 0;
    case WM_SERVER_STARTED:
        remote_.OnServerStarted(wParam, lParam);
        break;
    case WM_SERVER_FAILED:
        remote_.OnServerFailed(wParam, lParam);
        break;
    case WM_CLIENT_ACCEPTED:
        remote_.OnClientAccepted(wParam);
        break;
    case WM_TIMER:
        if (wParam == kKeepAliveTimer) {
            remote_.SendKeepAlive();
            return 0;
        }
        if (recovery_.OnTimer(wParam)) {
            return 0;
        }
        break;
    case WM_REPLAY_WAKE:
        remote_.DrainReplay();
        return 0;
    case WM_REPLAY_STATS:
        return remote_.ReplayStatistic(wParam);
    case WM_SEND_RESULT:
        hardware_.ShowSendResult(wParam);
        replayedSend_ = false;
        break;
    case WM_RECOVERY_OFFER:
        recovery_.OfferLeftWork();
        return 0;
    default:
        break;
    }
    if (hwnd_ == nullptr) {
        return 0; // destroyed while a box of this message was open
    }
    return WindowImplBase::HandleMessage(msg, wParam, lParam);
}

// Maximise and restore share one place in the title bar.
void MainFrame::UpdateCaptionButtons() {
    const bool zoomed = ::IsZoomed(hwnd_) != FALSE;
    if (CControlUI* max = Control(L"maxbtn")) {
        max->SetVisible(!zoomed);
    }
    if (CControlUI* restore = Control(L"restorebtn")) {
        restore->SetVisible(zoomed);
    }
}

ScreenParams MainFrame::ReadScreenParams() {
    ScreenParams p;
    for (const ParamField& f : kIntFields) {
        CControlUI* c = Control(f.control);
        p.*(f.field) = c ? _wtoi(c->GetText()) : 0;
    }
    CControlUI* gamma = Control(L"edt_gama_value");
    p.gamma = gamma ? _wtof(gamma->GetText()) : 0.0;
    return p;
}

void MainFrame::ShowScreenParams(const ScreenParams& params) {
    wchar_t buffer[64];
    for (const ParamField& f : kIntFields) {
        if (CControlUI* c = Control(f.control)) {
            _snwprintf(buffer, 64, L"%d", params.*(f.field));
            buffer[63] = L'\0';
            c->SetText(buffer);
        }
    }
    if (CControlUI* gamma = Control(L"edt_gama_value")) {
        _snwprintf(buffer, 64, L"%.1f", params.gamma);
        buffer[63] = L'\0';
        gamma->SetText(buffer);
    }
}

namespace {

// Commands that choose a file at this screen: a server has nobody to answer their dialog, so a linked
// client keeps them (and refuses them), and a server does not replay them.
bool ChoosesAFileHere(const std::wstring& sender) {
    return sender == L"btn_photo_correct" || sender == L"btn_import_data" || sender == L"btn_import_coef";
}

} // namespace

void MainFrame::Notify(TNotifyUI& msg) {
    recovery_.Touch(); // a typed field, a command: whatever it changed is written within a second
    // First, whatever the notification: the server handles it as its own.
    if (!(msg.sType == L"click" && msg.pSender != nullptr &&
          ChoosesAFileHere(msg.pSender->GetName().str()))) {
        remote_.MirrorNotification(msg);
    }
    if (msg.sType == L"click") {
        // A notification without a sender (a replayed one may lack it) names no command.
        if (msg.pSender != nullptr) {
            OnClickNotify(msg.pSender->GetName().str());
        }
    } else if (msg.sType == L"selectchanged") {
        if (msg.pSender != nullptr) {
            OnSelectChanged(msg.pSender, msg.pSender->GetName().str());
        }
    } else if (msg.sType == L"unselected") {
        Trace(kTraceUnselected);
    }
}

void MainFrame::OnClickNotify(const std::wstring& sender) {
    if (ChoosesAFileHere(sender) && remote_.Replaying()) {
        PrintLine(sender + L": not replayed: the file would be chosen at this screen");
        return;
    }
    if ((sender == L"btn_import_data" || sender == L"btn_import_coef") && remote_.IsClientConnected()) {
        // The server would not follow a grid or a file chosen here; the pair would drift apart unseen.
        ShowMessageW(sender == L"btn_import_data"
                         ? L"本机正作为客户端连接服务端：请先断开连接，再导入缝隙文件。"
                         : L"本机正作为客户端连接服务端：请先断开连接，再选择系数文件。",
                     L"warnning");
        return;
    }
    if (sender == L"closebtn") {
        ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    } else if (sender == L"minbtn") {
        ::SendMessageW(hwnd_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (sender == L"maxbtn") {
        ::SendMessageW(hwnd_, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    } else if (sender == L"restorebtn") {
        ::SendMessageW(hwnd_, WM_SYSCOMMAND, SC_RESTORE, 0);
    } else if (sender == L"btn_reset") {
        if (g_patternWindow != nullptr) {
            // A linked client's click is mirrored: the server resets too, one step of its own.
            g_patternWindow->ResetGains(remote_.IsClientConnected() ? 1 : 0);
        }
    } else if (sender == L"btn_op_instruction") {
        OpenManual();
    } else if (sender == L"btn_screen_ctr") {
        OnScreenControl();
    } else if (sender == L"btn_send_to_hardware") {
        replayedSend_ = remote_.Replaying(); // its result comes after the replay has gone on
        hardware_.OnSendToHardware();
        MSG result;
        if (!::PeekMessageW(&result, hwnd_, WM_SEND_RESULT, WM_SEND_RESULT, PM_NOREMOVE)) {
            replayedSend_ = false; // the worker ended without one: a later box is the operator's again
        }
    } else if (sender == L"btn_read_back") {
        hardware_.OnReadBack(files_.CoefficientPath());
    } else if (sender == L"btn_solidify") {
        hardware_.OnSolidify();
    } else if (sender == L"btn_import_data") {
        files_.ImportSeamFile();
    } else if (sender == L"btn_photo_correct") {
        photo_.CorrectFromPhotoCommand(remote_.Replaying(), remote_.IsClientConnected());
    } else if (sender == L"btn_import_coef") {
        files_.ChooseCoefficientFile();
    } else if (sender == L"btn_save") {
        files_.SaveSeamFile(remote_.IsServerStarted());
    } else if (sender == L"btn_connect") {
        auto* client = dynamic_cast<COptionUI*>(Control(L"btn_client"));
        if (client != nullptr && client->IsSelected()) {
            remote_.OnClientConnectClick();
        } else {
            remote_.StartServer();
        }
    }
}

// Opens the pattern window. The cards' correction goes off first, silently for the check box (no
// second switch write follows from unticking it), and nothing opens when the cards did not take it:
// the operator would tune against a corrected wall. The box then shows what the cards still do.
void MainFrame::OnScreenControl() {
    if (!ScreenOnDesktop(ReadScreenParams())) {
        return; // the cards and the check box stay as they are
    }
    auto* enable = dynamic_cast<CCheckBoxUI*>(Control(L"chkbox_Enable"));
    const bool was_on = enable != nullptr && enable->GetCheck();
    if (enable != nullptr) {
        enable->SetCheck(false, false);
    }
    if (!hardware_.EnableCorrection(false)) {
        if (enable != nullptr && !remote_.IsClientConnected()) { // a linked client's follows its wall
            enable->SetCheck(was_on, false);
        }
        return;
    }
    const ScreenParams params = ReadScreenParams();
    if (const char* unusable = UnusableScreenParam(params)) {
        ShowMessage(unusable, "warnning");
        return;
    }
    // A typo (modules of 2 x 2 for 32 x 32) can ask for a grid of many gigabytes; refused before the
    // allocation, the grid held and its tuning stay.
    const std::string refusal = MemoryRefusal(SeamGridBuildBytes(params, ProcessSeamGridCache()));
    if (!refusal.empty()) {
        const std::string text = "The screen of " + std::to_string(params.screen_width) + " x " +
                                 std::to_string(params.screen_height) + " pixels with modules of " +
                                 std::to_string(params.mod_width) + " x " +
                                 std::to_string(params.mod_height) + ": its seam grid " + refusal +
                                 ". Check the screen and module sizes.";
        ShowMessage(text.c_str(), "warnning");
        return;
    }
    remote_.RunPatternLoop([&] { OpenPatternWindow(hwnd_, params, remote_.ForwardSocket(), this); });
}

// A pattern window off the desktop would open modally where nobody sees it, over a main window that
// then takes no click. A replayed click tells the server's standard output: nobody may be at its screen.
bool MainFrame::ScreenOnDesktop(const ScreenParams& p) {
    const DesktopRect desktop{::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN),
                              ::GetSystemMetrics(SM_CXVIRTUALSCREEN), ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    if (ScreenLiesOnDesktop(p, desktop)) {
        return true;
    }
    const auto n = [](int64_t v) { return std::to_wstring(v); };
    const int64_t right = static_cast<int64_t>(desktop.left) + desktop.width - 1;
    const int64_t bottom = static_cast<int64_t>(desktop.top) + desktop.height - 1;
    const std::wstring text = L"测试画面的区域（起始 X " + n(p.start_x) + L"、起始 Y " + n(p.start_y) +
                              L"，" + n(p.screen_width) + L" x " + n(p.screen_height) +
                              L" 像素）没有完整地落在桌面上。桌面（所有显示器）从 (" + n(desktop.left) +
                              L", " + n(desktop.top) + L") 到 (" + n(right) + L", " + n(bottom) + L")，共 " +
                              n(desktop.width) + L" x " + n(desktop.height) +
                              L" 像素。请检查“起始 X”“起始 Y”和屏幕宽高；测试画面没有打开。";
    if (remote_.Replaying()) {
        const std::string utf8 = Utf16ToUtf8(std::u16string(text.begin(), text.end()));
        std::printf("btn_screen_ctr: %s\n", utf8.c_str());
        std::fflush(stdout);
    } else {
        ShowMessageW(text, L"warnning");
    }
    return false;
}

void MainFrame::OnSelectChanged(CControlUI* sender, const std::wstring& name) {
    if (name == L"btn_client") {
        Control(L"edt_ip")->SetEnabled(true);
        Control(L"edt_port")->SetEnabled(true);
        Control(L"btn_connect")->SetText(L"连接");
    } else if (name == L"btn_server") {
        Control(L"edt_ip")->SetEnabled(false);
        Control(L"edt_port")->SetEnabled(false);
        Control(L"btn_connect")->SetText(L"启动");
    } else if (name == L"chkbox_Enable") {
        auto* box = dynamic_cast<CCheckBoxUI*>(sender);
        const bool on = box != nullptr && box->GetCheck();
        Trace(on ? kTraceEnableOn : kTraceEnableOff);
        // The box shows what the cards do: they kept what they did. A linked client's box mirrors the
        // wall it drives, whose own switch the server answers for; its next click must still reach it.
        if (!hardware_.EnableCorrection(on) && box != nullptr && !remote_.IsClientConnected()) {
            box->SetCheck(!on, false);
        }
    } else if (name == L"OnlyBoxInner") {
        auto* box = dynamic_cast<CCheckBoxUI*>(sender);
        Trace(box != nullptr && box->GetCheck() ? kTraceOnlyBoxInner : kTraceOnlyBoxInnerOff);
    }
}
