#pragma once

// Two control kinds of the shared control library that our layouts use.

#include "lib/uilib/uilib.h"

// A flat, colour-filled push button (the layout's "QXButton").
class CQXButtonUI : public CButtonUI {
public:
    LPCWSTR GetClass() const override { return L"QXButton"; }

protected:
    DWORD NativeStyle() const override { return BS_OWNERDRAW | BS_NOTIFY | WS_TABSTOP; }
};

// A horizontal container drawn as a titled group frame (the layout's "HorGroupLayout"); its "text"
// is the title.
class CHorGroupLayoutUI : public CHorizontalLayoutUI {
public:
    LPCWSTR GetClass() const override { return L"HorGroupLayout"; }
    void PaintBackground(HDC dc) override;
};
