#include "lib/sharedui/sharedui.h"

#include "lib/baselib/raii_win.h"

void CHorGroupLayoutUI::PaintBackground(HDC dc) {
    CHorizontalLayoutUI::PaintBackground(dc);
    if (!visible_ || pos_.Width() <= 0) {
        return;
    }
    const int title_height = manager_->Scale(20);
    RECT frame{pos_.left, pos_.top + title_height / 2, pos_.right, pos_.bottom};
    {
        const GdiObject<HPEN> pen(::CreatePen(PS_SOLID, 1, RGB(0xC3, 0xCD, 0xD8)));
        const SelectedObject with_pen(dc, pen.get());
        const SelectedObject with_brush(dc, ::GetStockObject(NULL_BRUSH));
        ::RoundRect(dc, frame.left, frame.top, frame.right, frame.bottom, manager_->Scale(6),
                    manager_->Scale(6));
    }

    if (!text_.empty()) {
        const uint32_t bk = manager_->BackgroundBehind(this);
        ::SetBkMode(dc, OPAQUE);
        ::SetBkColor(dc, RGB((bk >> 16) & 0xFF, (bk >> 8) & 0xFF, bk & 0xFF));
        ::SetTextColor(dc, RGB(0x33, 0x4E, 0x68));
        RECT title{pos_.left + manager_->Scale(10), pos_.top, pos_.right - manager_->Scale(10),
                   pos_.top + title_height};
        const std::wstring caption = L" " + text_ + L" ";
        ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &title,
                    DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
}
