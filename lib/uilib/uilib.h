#pragma once

// A small user-interface library with the classes and calls our windows are written against: a window
// base, a paint manager, controls built from XML layouts, and notifications. Controls are real Win32
// child windows, so keyboard navigation, accessibility and automation work as in any Windows program.

#include <windows.h>

#include "lib/baselib/raii_win.h"
#include "lib/uilib/layout.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class CControlUI;
class CContainerUI;
class CPaintManagerUI;

class CDuiString {
public:
    CDuiString() = default;
    CDuiString(const wchar_t* text, int length = -1);
    CDuiString(std::wstring text) : s_(std::move(text)) {}
    const wchar_t* GetData() const { return s_.c_str(); }
    operator const wchar_t*() const { return s_.c_str(); }
    int GetLength() const { return static_cast<int>(s_.size()); }
    bool IsEmpty() const { return s_.empty(); }
    int Compare(const wchar_t* other) const { return s_.compare(other ? other : L""); }
    bool operator==(const wchar_t* other) const { return Compare(other) == 0; }
    bool operator!=(const wchar_t* other) const { return Compare(other) != 0; }
    const std::wstring& str() const { return s_; }

private:
    std::wstring s_;
};

// One notification of a control, as handed to the window's notification handler.
struct TNotifyUI {
    CDuiString sType;
    CDuiString sVirtualWnd;
    CControlUI* pSender = nullptr;
    DWORD dwTimestamp = 0;
    POINT ptMouse{};
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class INotifyUI {
public:
    virtual void Notify(TNotifyUI& msg) = 0;

protected:
    ~INotifyUI() = default;
};

class IMessageFilterUI {
public:
    virtual LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) = 0;

protected:
    ~IMessageFilterUI() = default;
};

class IDialogBuilderCallback {
public:
    // Called by the layout builder for every tag it cannot build itself; null skips the tag.
    virtual CControlUI* CreateLayoutControl(LPCWSTR tag) = 0;

protected:
    ~IDialogBuilderCallback() = default;
};

class CNotifyPump {
public:
    virtual ~CNotifyPump() = default;
};

// ---------------------------------------------------------------------------------------------------
// Controls

class CControlUI {
public:
    CControlUI() = default;
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;
    virtual ~CControlUI();

    virtual LPCWSTR GetClass() const { return L"Control"; }

    const CDuiString& GetName() const { return name_; }
    void SetName(LPCWSTR name) { name_ = name; }
    virtual CDuiString GetText() const;
    virtual void SetText(LPCWSTR text);
    bool IsEnabled() const { return enabled_; }
    virtual void SetEnabled(bool enabled = true);
    bool IsVisible() const { return visible_; }
    void SetVisible(bool visible = true);

    // Layout attributes: name, text, width, height, padding, bkcolor, textcolor, enabled, visible, ...
    virtual bool SetAttribute(const std::wstring& name, const std::wstring& value);

    HWND GetHWND() const { return hwnd_; }
    CPaintManagerUI* GetManager() const { return manager_; }
    CContainerUI* GetParent() const { return parent_; }
    const UiRect& GetPos() const { return pos_; }
    LayoutItem GetLayoutItem() const;
    uint32_t GetBkColor() const { return bk_color_; }
    bool HasBkColor() const { return has_bk_color_; }
    uint32_t GetTextColor() const { return text_color_; }

    // Called by the paint manager.
    virtual void CreateNativeWindows(HWND parent, CPaintManagerUI* manager, CContainerUI* owner);
    virtual void SetPos(const UiRect& rc);
    virtual void PaintBackground(HDC dc);
    virtual void OnCommand(WORD code) { (void)code; }

protected:
    // Class name and styles of the native child window; an empty class name makes no window.
    virtual LPCWSTR NativeClass() const { return L""; }
    virtual DWORD NativeStyle() const { return 0; }
    void Notify(LPCWSTR type, WPARAM wParam = 0, LPARAM lParam = 0);

    HWND hwnd_ = nullptr;
    CPaintManagerUI* manager_ = nullptr;
    CContainerUI* parent_ = nullptr;
    CDuiString name_;
    std::wstring text_;
    bool enabled_ = true;
    bool visible_ = true;
    int fixed_width_ = 0;
    int fixed_height_ = 0;
    UiRect padding_;
    UiRect pos_;
    uint32_t bk_color_ = 0;
    bool has_bk_color_ = false;
    uint32_t text_color_ = 0x1F2933;
};

class CContainerUI : public CControlUI {
public:
    LPCWSTR GetClass() const override { return L"Container"; }
    bool Add(CControlUI* control); // takes ownership
    int GetCount() const { return static_cast<int>(items_.size()); }
    CControlUI* GetItemAt(int index) const;
    bool SetAttribute(const std::wstring& name, const std::wstring& value) override;
    void CreateNativeWindows(HWND parent, CPaintManagerUI* manager, CContainerUI* owner) override;
    void SetPos(const UiRect& rc) override;
    void PaintBackground(HDC dc) override;
    void SetEnabled(bool enabled = true) override;

protected:
    virtual bool IsHorizontal() const { return false; }
    std::vector<std::unique_ptr<CControlUI>> items_;
    UiRect inset_;
    int child_padding_ = 0;
};

class CVerticalLayoutUI : public CContainerUI {
public:
    LPCWSTR GetClass() const override { return L"VerticalLayout"; }
};

class CHorizontalLayoutUI : public CContainerUI {
public:
    LPCWSTR GetClass() const override { return L"HorizontalLayout"; }

protected:
    bool IsHorizontal() const override { return true; }
};

class CLabelUI : public CControlUI {
public:
    LPCWSTR GetClass() const override { return L"Label"; }
    bool SetAttribute(const std::wstring& name, const std::wstring& value) override;

protected:
    LPCWSTR NativeClass() const override { return L"STATIC"; }
    DWORD NativeStyle() const override;
    std::wstring align_ = L"left";
};

class CButtonUI : public CLabelUI {
public:
    LPCWSTR GetClass() const override { return L"Button"; }
    void OnCommand(WORD code) override;

protected:
    LPCWSTR NativeClass() const override { return L"BUTTON"; }
    DWORD NativeStyle() const override { return BS_PUSHBUTTON | BS_NOTIFY | WS_TABSTOP; }
};

class COptionUI : public CButtonUI {
public:
    LPCWSTR GetClass() const override { return L"Option"; }
    bool IsSelected() const { return selected_; }
    // Selecting an option of a group deselects the others of that group ("unselected" for them).
    virtual void Selected(bool selected, bool notify = true);
    const std::wstring& GetGroup() const { return group_; }
    bool SetAttribute(const std::wstring& name, const std::wstring& value) override;
    void CreateNativeWindows(HWND parent, CPaintManagerUI* manager, CContainerUI* owner) override;
    void OnCommand(WORD code) override;

protected:
    DWORD NativeStyle() const override { return BS_RADIOBUTTON | BS_NOTIFY | WS_TABSTOP; }
    std::wstring group_;
    bool selected_ = false;
};

class CCheckBoxUI : public COptionUI {
public:
    LPCWSTR GetClass() const override { return L"CheckBox"; }
    bool GetCheck() const { return selected_; }
    // With notify false nothing is raised: the dispatcher relies on this to change the box silently.
    void SetCheck(bool check, bool notify = true) { Selected(check, notify); }
    void Selected(bool selected, bool notify = true) override;
    void OnCommand(WORD code) override;

protected:
    DWORD NativeStyle() const override { return BS_CHECKBOX | BS_NOTIFY | WS_TABSTOP; }
};

class CEditUI : public CLabelUI {
public:
    LPCWSTR GetClass() const override { return L"Edit"; }
    void SetText(LPCWSTR text) override;
    bool SetAttribute(const std::wstring& name, const std::wstring& value) override;
    void OnCommand(WORD code) override;

protected:
    LPCWSTR NativeClass() const override { return L"EDIT"; }
    DWORD NativeStyle() const override;
    bool read_only_ = false;
    bool setting_text_ = false;
};

// ---------------------------------------------------------------------------------------------------
// Paint manager: owns the control tree of one window and turns child-window messages into
// notifications.

// Keys that act on the whole window whichever control has the focus (the window's shortcuts); asked
// before the dialog keys. True when the key was taken.
class ITranslateAccelerator {
public:
    virtual bool TranslateAccelerator(const MSG* msg) = 0;

protected:
    ~ITranslateAccelerator() = default;
};

class CPaintManagerUI {
public:
    CPaintManagerUI();
    ~CPaintManagerUI();
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    static void SetInstance(HINSTANCE instance);
    static HINSTANCE GetInstance();
    static void SetResourcePath(LPCWSTR path);
    static const std::wstring& GetResourcePath();
    static void SetDefaultXmlLauyoutPath(LPCWSTR path);
    static const std::wstring& GetDefaultXmlLayoutPath();
    static void MessageLoop();
    // Keyboard handling of our windows (Tab navigation, "return" in edits); true when consumed.
    static bool TranslateMessage(const MSG* msg);
    // The font of every control at a display scaling (96 = 100 %); made once per scaling.
    static HFONT GetDefaultFont(int dpi = 96);
    // The scaling of a window's monitor: the window's own on Windows 10 1607 and later, the system's
    // before that.
    static int DpiForWindow(HWND window);

    void Init(HWND window);
    // Layout coordinates and font sizes are 96-DPI units, scaled by the window's DPI: taken at Init,
    // and changed by SetDpi when the window moves to a monitor of another scaling.
    int GetDpi() const { return dpi_; }
    void SetDpi(int dpi);
    int Scale(int value) const { return ::MulDiv(value, dpi_, 96); }
    UiRect Scale(const UiRect& rc) const {
        return UiRect{Scale(rc.left), Scale(rc.top), Scale(rc.right), Scale(rc.bottom)};
    }
    HFONT GetFont() const { return GetDefaultFont(dpi_); }
    HWND GetPaintWindow() const { return window_; }
    bool AttachDialog(CControlUI* root); // takes ownership, creates the native windows
    CControlUI* GetRoot() const { return root_.get(); }
    CControlUI* FindControl(LPCWSTR name) const;
    CControlUI* FindControl(HWND child) const;
    std::vector<CControlUI*> AllControls() const;

    void AddNotifier(INotifyUI* notifier);
    void AddPreMessageFilter(IMessageFilterUI* filter);
    void AddTranslateAccelerator(ITranslateAccelerator* accelerator);
    void SendNotify(CControlUI* sender, LPCWSTR type, WPARAM wParam = 0, LPARAM lParam = 0);
    bool MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    void SetInitSize(int cx, int cy);
    // These three are in the window's pixels (scaled).
    SIZE GetInitSize() const { return SIZE{Scale(init_size_.cx), Scale(init_size_.cy)}; }
    void SetCaptionRect(const UiRect& rc) { caption_ = rc; }
    UiRect GetCaptionRect() const { return Scale(caption_); }
    void SetMinInfo(int cx, int cy) { min_size_ = SIZE{cx, cy}; }
    SIZE GetMinInfo() const { return SIZE{Scale(min_size_.cx), Scale(min_size_.cy)}; }
    void SetBkColor(uint32_t color) { bk_color_ = color; }
    void NeedUpdate();

    // Called by controls as they create their windows.
    int RegisterControl(CControlUI* control, HWND child);
    HBRUSH BrushFor(uint32_t color);
    uint32_t BackgroundBehind(const CControlUI* control) const;

private:
    void Collect(CControlUI* control, std::vector<CControlUI*>& out) const;
    void ForgetChildNames();
    void PaintWindow();
    bool DrawButton(const DRAWITEMSTRUCT& item);

    HWND window_ = nullptr;
    std::unique_ptr<CControlUI> root_;
    std::map<std::wstring, CControlUI*> by_name_;
    std::map<HWND, CControlUI*> by_window_;
    std::vector<INotifyUI*> notifiers_;
    std::vector<IMessageFilterUI*> filters_;
    std::vector<ITranslateAccelerator*> accelerators_;
    std::map<uint32_t, GdiObject<HBRUSH>> brushes_;
    int next_id_ = 1000;
    SIZE init_size_{0, 0};
    SIZE min_size_{0, 0};
    UiRect caption_;
    uint32_t bk_color_ = 0xF4F6F8;
    int dpi_ = 96;
};

// Builds a control tree from a layout file under the resource path.
class CDialogBuilder {
public:
    // Returns null and a message naming the file, line or tag when the layout cannot be built.
    CControlUI* Create(LPCWSTR layout, IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                       std::wstring& error);
};

// ---------------------------------------------------------------------------------------------------
// Windows

class CWindowWnd {
public:
    CWindowWnd() = default;
    CWindowWnd(const CWindowWnd&) = delete;
    CWindowWnd& operator=(const CWindowWnd&) = delete;
    virtual ~CWindowWnd() = default;

    HWND GetHWND() const { return hwnd_; }
    operator HWND() const { return hwnd_; }

    HWND Create(HWND parent, LPCWSTR name, DWORD style, DWORD ex_style, int x, int y, int cx, int cy,
                HMENU menu = nullptr);
    void ShowWindow(bool show = true, bool take_focus = true);
    // Runs a nested message loop until this window is destroyed; the owner is disabled meanwhile.
    UINT ShowModal();
    void CenterWindow();

    virtual LPCWSTR GetWindowClassName() const = 0;
    virtual LPCWSTR GetSuperClassName() const { return nullptr; }
    virtual UINT GetClassStyle() const { return CS_DBLCLKS; }
    virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    virtual void OnFinalMessage(HWND hwnd) { (void)hwnd; }

protected:
    bool RegisterWindowClass();
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
};

class WindowImplBase : public CWindowWnd,
                       public CNotifyPump,
                       public INotifyUI,
                       public IMessageFilterUI,
                       public IDialogBuilderCallback {
public:
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hwnd) override { (void)hwnd; }

    virtual void InitWindow() {}
    virtual void OnClick(TNotifyUI& msg) { (void)msg; }
    virtual CDuiString GetSkinFolder() = 0;
    virtual CDuiString GetSkinFile() = 0;
    virtual LRESULT ResponseDefaultKeyEvent(WPARAM wParam) {
        (void)wParam;
        return FALSE;
    }
    virtual UINT GetResourceType() const { return 1; }

    virtual LRESULT OnClose(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    virtual LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    virtual LRESULT OnNcActivate(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    virtual LRESULT OnNcCalcSize(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    virtual LRESULT OnNcPaint(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    virtual LRESULT OnNcHitTest(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    virtual LRESULT OnGetMinMaxInfo(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    virtual LRESULT OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    virtual LRESULT OnDpiChanged(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);
    virtual LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);

    LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void Notify(TNotifyUI& msg) override;
    CControlUI* CreateLayoutControl(LPCWSTR tag) override {
        (void)tag;
        return nullptr;
    }

    // Why the layout could not be built, when creating the window failed.
    const std::wstring& GetBuildError() const { return build_error_; }
    CPaintManagerUI& GetPaintManager() { return m_pm; }

protected:
    CPaintManagerUI m_pm;
    std::wstring build_error_;
};

// Text conversions for the Win32 side of the library.
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);

// The name the automation tool reads from every control's window.
constexpr wchar_t kControlNameProperty[] = L"VeltraControlName";
// Set on a window once "windowinit" has been raised, from its message loop: start-up is over, and the
// automation tool may act on it.
constexpr wchar_t kWindowReadyProperty[] = L"VeltraWindowReady";
