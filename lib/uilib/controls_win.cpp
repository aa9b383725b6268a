#include "lib/uilib/uilib.h"

#include "lib/uilib/utf8.h"

namespace {

bool ParseBool(const std::wstring& value) {
    return value == L"true" || value == L"1";
}

std::string Narrow(const std::wstring& value) {
    return Utf8FromWide(value);
}

} // namespace

CDuiString::CDuiString(const wchar_t* text, int length) {
    if (text == nullptr) {
        return;
    }
    if (length < 0) {
        s_ = text;
    } else {
        s_.assign(text, static_cast<size_t>(length));
    }
}

std::wstring WideFromUtf8(const std::string& text) {
    const std::u16string u = Utf8ToUtf16(text);
    return std::wstring(u.begin(), u.end());
}

std::string Utf8FromWide(const std::wstring& text) {
    return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

// ---------------------------------------------------------------------------------------------------

CControlUI::~CControlUI() = default;

CDuiString CControlUI::GetText() const {
    if (hwnd_ == nullptr) {
        return CDuiString(text_);
    }
    const int length = ::GetWindowTextLengthW(hwnd_);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = ::GetWindowTextW(hwnd_, &text[0], length + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return CDuiString(text);
}

void CControlUI::SetText(LPCWSTR text) {
    text_ = text ? text : L"";
    if (hwnd_ != nullptr) {
        ::SetWindowTextW(hwnd_, text_.c_str());
    }
}

void CControlUI::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (hwnd_ != nullptr) {
        ::EnableWindow(hwnd_, enabled ? TRUE : FALSE);
    }
}

void CControlUI::SetVisible(bool visible) {
    if (visible_ == visible) {
        return;
    }
    visible_ = visible;
    if (hwnd_ != nullptr) {
        ::ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
    }
    if (manager_ != nullptr) {
        manager_->NeedUpdate();
    }
}

bool CControlUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    if (name == L"name") {
        name_ = value.c_str();
    } else if (name == L"text") {
        text_ = value;
    } else if (name == L"width" || name == L"height") {
        const auto v = ParseIntValue(Narrow(value));
        if (!v || *v < 0) {
            return false;
        }
        (name == L"width" ? fixed_width_ : fixed_height_) = *v;
    } else if (name == L"padding") {
        const auto v = ParseRectValue(Narrow(value));
        if (!v) {
            return false;
        }
        padding_ = *v;
    } else if (name == L"bkcolor" || name == L"textcolor") {
        const auto v = ParseColorValue(Narrow(value));
        if (!v) {
            return false;
        }
        if (name == L"bkcolor") {
            bk_color_ = *v;
            has_bk_color_ = true;
        } else {
            text_color_ = *v;
        }
    } else if (name == L"enabled") {
        enabled_ = ParseBool(value);
    } else if (name == L"visible") {
        visible_ = ParseBool(value);
    }
    // Other attributes (tooltips, images, fonts of a richer skin) are accepted and ignored.
    return true;
}

LayoutItem CControlUI::GetLayoutItem() const {
    LayoutItem item;
    // In the window's pixels: the layout's 96-DPI units scaled by the window's DPI.
    const bool scaled = manager_ != nullptr;
    item.fixed_width = scaled ? manager_->Scale(fixed_width_) : fixed_width_;
    item.fixed_height = scaled ? manager_->Scale(fixed_height_) : fixed_height_;
    item.padding = scaled ? manager_->Scale(padding_) : padding_;
    item.visible = visible_;
    return item;
}

void CControlUI::CreateNativeWindows(HWND parent, CPaintManagerUI* manager, CContainerUI* owner) {
    manager_ = manager;
    parent_ = owner;
    const LPCWSTR cls = NativeClass();
    if (cls[0] == L'\0') {
        return;
    }
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | NativeStyle();
    if (visible_) {
        style |= WS_VISIBLE;
    }
    if (!enabled_) {
        style |= WS_DISABLED;
    }
    const DWORD ex_style = wcscmp(cls, L"EDIT") == 0 ? WS_EX_CLIENTEDGE : 0;
    hwnd_ = ::CreateWindowExW(ex_style, cls, text_.c_str(), style, 0, 0, 0, 0, parent, nullptr,
                              CPaintManagerUI::GetInstance(), nullptr);
    if (hwnd_ == nullptr) {
        return; // the control stays windowless; FindControl still finds it by name
    }
    const int id = manager->RegisterControl(this, hwnd_);
    ::SetWindowLongPtrW(hwnd_, GWLP_ID, id);
    ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(manager->GetFont()), FALSE);
    if (!name_.IsEmpty()) {
        // Other processes (the automation tool) read a control's layout name through a global atom.
        const ATOM atom = ::GlobalAddAtomW(name_.GetData());
        ::SetPropW(hwnd_, kControlNameProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(atom)));
    }
}

void CControlUI::SetPos(const UiRect& rc) {
    pos_ = rc;
    if (hwnd_ != nullptr) {
        ::MoveWindow(hwnd_, rc.left, rc.top, rc.Width(), rc.Height(), TRUE);
    }
}

void CControlUI::PaintBackground(HDC dc) {
    if (has_bk_color_ && visible_) {
        const RECT r{pos_.left, pos_.top, pos_.right, pos_.bottom};
        ::FillRect(dc, &r, manager_->BrushFor(bk_color_));
    }
}

void CControlUI::Notify(LPCWSTR type, WPARAM wParam, LPARAM lParam) {
    if (manager_ != nullptr) {
        manager_->SendNotify(this, type, wParam, lParam);
    }
}

// ---------------------------------------------------------------------------------------------------

bool CContainerUI::Add(CControlUI* control) {
    if (control == nullptr) {
        return false;
    }
    items_.emplace_back(control);
    return true;
}

CControlUI* CContainerUI::GetItemAt(int index) const {
    if (index < 0 || index >= GetCount()) {
        return nullptr;
    }
    return items_[static_cast<size_t>(index)].get();
}

bool CContainerUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    if (name == L"inset") {
        const auto v = ParseRectValue(Narrow(value));
        if (!v) {
            return false;
        }
        inset_ = *v;
        return true;
    }
    if (name == L"childpadding") {
        const auto v = ParseIntValue(Narrow(value));
        if (!v) {
            return false;
        }
        child_padding_ = *v;
        return true;
    }
    return CControlUI::SetAttribute(name, value);
}

void CContainerUI::CreateNativeWindows(HWND parent, CPaintManagerUI* manager, CContainerUI* owner) {
    CControlUI::CreateNativeWindows(parent, manager, owner);
    for (auto& item : items_) {
        item->CreateNativeWindows(parent, manager, this);
    }
}

void CContainerUI::SetPos(const UiRect& rc) {
    CControlUI::SetPos(rc);
    std::vector<LayoutItem> items;
    items.reserve(items_.size());
    for (const auto& item : items_) {
        items.push_back(item->GetLayoutItem());
    }
    const std::vector<UiRect> places =
        manager_ != nullptr ? ArrangeLinear(rc, manager_->Scale(inset_), manager_->Scale(child_padding_),
                                            IsHorizontal(), items)
                            : ArrangeLinear(rc, inset_, child_padding_, IsHorizontal(), items);
    for (size_t i = 0; i < items_.size(); ++i) {
        items_[i]->SetPos(places[i]);
    }
}

void CContainerUI::PaintBackground(HDC dc) {
    if (!visible_) {
        return;
    }
    CControlUI::PaintBackground(dc);
    for (auto& item : items_) {
        item->PaintBackground(dc);
    }
}

void CContainerUI::SetEnabled(bool enabled) {
    CControlUI::SetEnabled(enabled);
    for (auto& item : items_) {
        item->SetEnabled(enabled);
    }
}

// ---------------------------------------------------------------------------------------------------

bool CLabelUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    if (name == L"align") {
        align_ = value;
        return true;
    }
    return CControlUI::SetAttribute(name, value);
}

DWORD CLabelUI::NativeStyle() const {
    DWORD style = SS_NOPREFIX | SS_CENTERIMAGE;
    if (align_ == L"center") {
        style |= SS_CENTER;
    } else if (align_ == L"right") {
        style |= SS_RIGHT;
    }
    return style;
}

void CButtonUI::OnCommand(WORD code) {
    if (code == BN_CLICKED) {
        Notify(L"click");
    } else if (code == BN_SETFOCUS) {
        Notify(L"setfocus");
    } else if (code == BN_KILLFOCUS) {
        Notify(L"killfocus");
    }
}

bool COptionUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    if (name == L"group") {
        group_ = value;
        return true;
    }
    if (name == L"selected") {
        selected_ = ParseBool(value);
        return true;
    }
    return CButtonUI::SetAttribute(name, value);
}

void COptionUI::CreateNativeWindows(HWND parent, CPaintManagerUI* manager, CContainerUI* owner) {
    CButtonUI::CreateNativeWindows(parent, manager, owner);
    if (hwnd_ != nullptr) {
        ::SendMessageW(hwnd_, BM_SETCHECK, selected_ ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

void COptionUI::Selected(bool selected, bool notify) {
    if (selected_ == selected) {
        return;
    }
    selected_ = selected;
    if (hwnd_ != nullptr) {
        ::SendMessageW(hwnd_, BM_SETCHECK, selected ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    if (selected && !group_.empty() && manager_ != nullptr) {
        for (CControlUI* c : manager_->AllControls()) {
            auto* other = dynamic_cast<COptionUI*>(c);
            if (other != nullptr && other != this && other->group_ == group_ && other->selected_) {
                other->Selected(false, notify);
            }
        }
    }
    if (notify) {
        Notify(selected ? L"selectchanged" : L"unselected");
    }
}

void COptionUI::OnCommand(WORD code) {
    if (code == BN_CLICKED) {
        // An option of a group is selected by a click and only left by choosing another; one without a
        // group toggles.
        Selected(group_.empty() ? !selected_ : true);
    } else {
        CButtonUI::OnCommand(code);
    }
}

void CCheckBoxUI::Selected(bool selected, bool notify) {
    if (selected_ == selected) {
        return;
    }
    selected_ = selected;
    if (hwnd_ != nullptr) {
        ::SendMessageW(hwnd_, BM_SETCHECK, selected ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    if (notify) {
        Notify(L"selectchanged");
    }
}

void CCheckBoxUI::OnCommand(WORD code) {
    if (code == BN_CLICKED) {
        Selected(!selected_);
    } else {
        CButtonUI::OnCommand(code);
    }
}

void CEditUI::SetText(LPCWSTR text) {
    // Text set by the program raises no "textchanged"; only the user's typing does.
    setting_text_ = true;
    CLabelUI::SetText(text);
    setting_text_ = false;
}

bool CEditUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
    if (name == L"readonly") {
        read_only_ = ParseBool(value);
        return true;
    }
    return CLabelUI::SetAttribute(name, value);
}

DWORD CEditUI::NativeStyle() const {
    DWORD style = ES_AUTOHSCROLL | WS_TABSTOP;
    if (read_only_) {
        style |= ES_READONLY;
    }
    return style;
}

void CEditUI::OnCommand(WORD code) {
    if (code == EN_CHANGE && !setting_text_) {
        Notify(L"textchanged");
    } else if (code == EN_SETFOCUS) {
        Notify(L"setfocus");
    } else if (code == EN_KILLFOCUS) {
        Notify(L"killfocus");
    }
}
