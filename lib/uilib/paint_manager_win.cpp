#include "lib/uilib/uilib.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace {

HINSTANCE g_instance = nullptr;
std::wstring g_resource_path;
std::wstring g_layout_path;

// Windows that have controls, for the keyboard handling of the message loops. Pattern windows (no
// controls) are never listed, so their keys reach them untranslated.
std::mutex g_managers_lock;
std::vector<CPaintManagerUI*> g_managers;

// A window-internal message that raises "windowinit" once the window is up.
const UINT kWindowInitMessage = WM_APP + 0x3F0;

COLORREF ToColorRef(uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

int CALLBACK FontExists(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool HasFontFamily(const wchar_t* face) {
    const WindowDC screen(nullptr);
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    ::EnumFontFamiliesExW(screen.get(), &lf, FontExists, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

} // namespace

CPaintManagerUI::CPaintManagerUI() = default;

CPaintManagerUI::~CPaintManagerUI() {
    {
        std::lock_guard<std::mutex> lock(g_managers_lock);
        g_managers.erase(std::remove(g_managers.begin(), g_managers.end(), this), g_managers.end());
    }
    root_.reset(); // the controls go before the brushes they were painted with
}

void CPaintManagerUI::SetInstance(HINSTANCE instance) {
    g_instance = instance;
}
HINSTANCE CPaintManagerUI::GetInstance() {
    return g_instance ? g_instance : ::GetModuleHandleW(nullptr);
}
void CPaintManagerUI::SetResourcePath(LPCWSTR path) {
    g_resource_path = path ? path : L"";
}
const std::wstring& CPaintManagerUI::GetResourcePath() {
    return g_resource_path;
}
void CPaintManagerUI::SetDefaultXmlLauyoutPath(LPCWSTR path) {
    g_layout_path = path ? path : L"";
}
const std::wstring& CPaintManagerUI::GetDefaultXmlLayoutPath() {
    return g_layout_path;
}

HFONT CPaintManagerUI::GetDefaultFont(int dpi) {
    // One font for every control, with Chinese glyphs whatever the system's dialog font is. A handful
    // of scalings at most is ever used, so the fonts live as long as the program.
    static std::mutex lock;
    static std::map<int, HFONT> fonts;
    std::lock_guard<std::mutex> guard(lock);
    if (dpi < 48 || dpi > 960) {
        dpi = 96;
    }
    HFONT& font = fonts[dpi];
    if (font == nullptr) {
        static const wchar_t* face = [] {
            if (HasFontFamily(L"Microsoft YaHei")) {
                return L"Microsoft YaHei";
            }
            return HasFontFamily(L"WenQuanYi Micro Hei") ? L"WenQuanYi Micro Hei" : L"Tahoma";
        }();
        font = ::CreateFontW(-::MulDiv(14, dpi, 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                             DEFAULT_PITCH | FF_SWISS, face);
        if (font == nullptr) {
            font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
        }
    }
    return font;
}

int CPaintManagerUI::DpiForWindow(HWND window) {
    // Looked up, not linked: Windows 7 and 8 have no such call.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto get_dpi_for_window = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    UINT dpi = 0;
    if (get_dpi_for_window != nullptr && window != nullptr) {
        dpi = get_dpi_for_window(window);
    }
    if (dpi == 0) {
        const WindowDC screen(nullptr);
        dpi = static_cast<UINT>(::GetDeviceCaps(screen.get(), LOGPIXELSX));
    }
    return dpi >= 48 && dpi <= 960 ? static_cast<int>(dpi) : 96;
}

void CPaintManagerUI::MessageLoop() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!TranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

bool CPaintManagerUI::TranslateMessage(const MSG* msg) {
    if (msg->hwnd == nullptr || msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) {
        return false;
    }
    const HWND top = ::GetAncestor(msg->hwnd, GA_ROOT);
    CPaintManagerUI* manager = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_managers_lock);
        for (CPaintManagerUI* m : g_managers) {
            if (m->window_ == top) {
                manager = m;
            }
        }
    }
    if (manager == nullptr) {
        return false;
    }
    for (ITranslateAccelerator* a : manager->accelerators_) {
        if (a->TranslateAccelerator(msg)) {
            return true;
        }
    }
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
        CControlUI* control = manager->FindControl(msg->hwnd);
        if (dynamic_cast<CEditUI*>(control) != nullptr) {
            manager->SendNotify(control, L"return");
            return true;
        }
    }
    return ::IsDialogMessageW(top, const_cast<MSG*>(msg)) != FALSE;
}

void CPaintManagerUI::Init(HWND window) {
    window_ = window;
    dpi_ = DpiForWindow(window);
}

void CPaintManagerUI::SetDpi(int dpi) {
    if (dpi < 48 || dpi > 960 || dpi == dpi_) {
        return;
    }
    dpi_ = dpi;
    const HFONT font = GetFont();
    for (const auto& entry : by_window_) {
        ::SendMessageW(entry.first, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    NeedUpdate();
}

bool CPaintManagerUI::AttachDialog(CControlUI* root) {
    root_.reset(root);
    if (root == nullptr || window_ == nullptr) {
        return false;
    }
    root->CreateNativeWindows(window_, this, nullptr);
    by_name_.clear();
    for (CControlUI* c : AllControls()) {
        if (!c->GetName().IsEmpty() && by_name_.count(c->GetName().str()) == 0) {
            by_name_[c->GetName().str()] = c;
        }
    }
    {
        std::lock_guard<std::mutex> lock(g_managers_lock);
        g_managers.push_back(this);
    }
    // Tab moves between the controls as in a dialog.
    ::SetWindowLongPtrW(window_, GWL_EXSTYLE,
                        ::GetWindowLongPtrW(window_, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    NeedUpdate();
    ::PostMessageW(window_, kWindowInitMessage, 0, 0);
    return true;
}

void CPaintManagerUI::Collect(CControlUI* control, std::vector<CControlUI*>& out) const {
    out.push_back(control);
    if (auto* container = dynamic_cast<CContainerUI*>(control)) {
        for (int i = 0; i < container->GetCount(); ++i) {
            Collect(container->GetItemAt(i), out);
        }
    }
}

std::vector<CControlUI*> CPaintManagerUI::AllControls() const {
    std::vector<CControlUI*> out;
    if (root_) {
        Collect(root_.get(), out);
    }
    return out;
}

CControlUI* CPaintManagerUI::FindControl(LPCWSTR name) const {
    if (name == nullptr) {
        return nullptr;
    }
    const auto it = by_name_.find(name);
    return it == by_name_.end() ? nullptr : it->second;
}

CControlUI* CPaintManagerUI::FindControl(HWND child) const {
    const auto it = by_window_.find(child);
    return it == by_window_.end() ? nullptr : it->second;
}

int CPaintManagerUI::RegisterControl(CControlUI* control, HWND child) {
    by_window_[child] = control;
    return next_id_++;
}

void CPaintManagerUI::AddNotifier(INotifyUI* notifier) {
    notifiers_.push_back(notifier);
}
void CPaintManagerUI::AddPreMessageFilter(IMessageFilterUI* filter) {
    filters_.push_back(filter);
}

void CPaintManagerUI::AddTranslateAccelerator(ITranslateAccelerator* accelerator) {
    accelerators_.push_back(accelerator);
}

void CPaintManagerUI::SendNotify(CControlUI* sender, LPCWSTR type, WPARAM wParam, LPARAM lParam) {
    TNotifyUI msg;
    msg.sType = type;
    msg.pSender = sender;
    msg.dwTimestamp = ::GetTickCount();
    ::GetCursorPos(&msg.ptMouse);
    if (window_ != nullptr) {
        ::ScreenToClient(window_, &msg.ptMouse);
    }
    msg.wParam = wParam;
    msg.lParam = lParam;
    // A copy: a notifier may add another while it runs.
    const std::vector<INotifyUI*> notifiers = notifiers_;
    for (INotifyUI* n : notifiers) {
        n->Notify(msg);
    }
}

void CPaintManagerUI::SetInitSize(int cx, int cy) {
    init_size_ = SIZE{cx, cy};
}

void CPaintManagerUI::NeedUpdate() {
    if (root_ == nullptr || window_ == nullptr) {
        return;
    }
    RECT rc;
    ::GetClientRect(window_, &rc);
    root_->SetPos(UiRect{rc.left, rc.top, rc.right, rc.bottom});
    ::InvalidateRect(window_, nullptr, TRUE);
}

HBRUSH CPaintManagerUI::BrushFor(uint32_t color) {
    auto it = brushes_.find(color);
    if (it == brushes_.end()) {
        it = brushes_.emplace(color, GdiObject<HBRUSH>(::CreateSolidBrush(ToColorRef(color)))).first;
    }
    return it->second.get();
}

uint32_t CPaintManagerUI::BackgroundBehind(const CControlUI* control) const {
    for (const CControlUI* c = control; c != nullptr; c = c->GetParent()) {
        if (c->HasBkColor()) {
            return c->GetBkColor();
        }
    }
    return bk_color_;
}

// Sent before the children go: the last moment their properties can be taken back. The name atoms are
// global, so each is released exactly once here.
void CPaintManagerUI::ForgetChildNames() {
    ::RemovePropW(window_, kWindowReadyProperty);
    for (const auto& entry : by_window_) {
        const HANDLE atom = ::RemovePropW(entry.first, kControlNameProperty);
        if (atom != nullptr) {
            ::GlobalDeleteAtom(static_cast<ATOM>(reinterpret_cast<UINT_PTR>(atom)));
        }
    }
}

void CPaintManagerUI::PaintWindow() {
    const PaintDC dc(window_);
    RECT rc;
    ::GetClientRect(window_, &rc);
    ::FillRect(dc.get(), &rc, BrushFor(bk_color_));
    ::SelectObject(dc.get(), GetFont());
    root_->PaintBackground(dc.get());
}

// An owner-drawn button of the layout; false when the item is no control of this window.
bool CPaintManagerUI::DrawButton(const DRAWITEMSTRUCT& item) {
    CControlUI* control = FindControl(item.hwndItem);
    if (control == nullptr) {
        return false;
    }
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    uint32_t bk = control->HasBkColor() ? control->GetBkColor() : 0xE4E8EC;
    if (disabled) {
        bk = 0xD5DAE0;
    } else if (pressed) {
        bk = ((bk >> 1) & 0x7F7F7F) + ((0x101010 >> 1) & 0x7F7F7F);
    }
    ::FillRect(item.hDC, &item.rcItem, BrushFor(bk));
    ::SetBkMode(item.hDC, TRANSPARENT);
    ::SetTextColor(item.hDC, ToColorRef(disabled ? 0x7B8794 : control->GetTextColor()));
    ::SelectObject(item.hDC, GetFont());
    const std::wstring text = control->GetText().str();
    RECT r = item.rcItem;
    ::DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &r,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if ((item.itemState & ODS_FOCUS) != 0) {
        RECT f = item.rcItem;
        ::InflateRect(&f, -Scale(3), -Scale(3));
        ::DrawFocusRect(item.hDC, &f);
    }
    return true;
}

bool CPaintManagerUI::MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    for (IMessageFilterUI* f : filters_) {
        bool handled = false;
        const LRESULT r = f->MessageHandler(msg, wParam, lParam, handled);
        if (handled) {
            result = r;
            return true;
        }
    }
    if (root_ == nullptr) {
        return false; // a window without controls paints and handles everything itself
    }
    switch (msg) {
    case WM_DESTROY:
        ForgetChildNames();
        return false;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) {
            NeedUpdate();
        }
        return false;
    case WM_ERASEBKGND:
        result = 1; // everything is painted in WM_PAINT, without flicker
        return true;
    case WM_PAINT:
        PaintWindow();
        result = 0;
        return true;
    case WM_COMMAND: {
        CControlUI* control = FindControl(reinterpret_cast<HWND>(lParam));
        if (control == nullptr) {
            return false;
        }
        control->OnCommand(HIWORD(wParam));
        result = 0;
        return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        CControlUI* control = FindControl(reinterpret_cast<HWND>(lParam));
        if (control == nullptr || dynamic_cast<CEditUI*>(control) != nullptr) {
            return false;
        }
        HDC dc = reinterpret_cast<HDC>(wParam);
        const uint32_t bk =
            control->HasBkColor() ? control->GetBkColor() : BackgroundBehind(control->GetParent());
        ::SetTextColor(dc, ToColorRef(control->IsEnabled() ? control->GetTextColor() : 0x8A96A3));
        ::SetBkColor(dc, ToColorRef(bk));
        result = reinterpret_cast<LRESULT>(BrushFor(bk));
        return true;
    }
    case WM_DRAWITEM:
        if (!DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) {
            return false;
        }
        result = TRUE;
        return true;
    default:
        break;
    }
    if (msg == kWindowInitMessage) {
        ::SetPropW(window_, kWindowReadyProperty, reinterpret_cast<HANDLE>(1));
        SendNotify(root_.get(), L"windowinit");
        result = 0;
        return true;
    }
    return false;
}
