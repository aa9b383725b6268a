#pragma once

#include "lib/uilib/uilib.h"
#include "seam/gamma_table.h"
#include "seam/screen_params.h"
#include "seam/seam_grid.h"

// The borderless window over the LED screen on which the operator tunes the seams. One object per
// process: it exists before its window, outlives it, and keeps the grid, gains and gamma table from
// one opening to the next.
class CScreenCtrlWnd : public WindowImplBase {
public:
    CScreenCtrlWnd() = default;
    ~CScreenCtrlWnd() override = default;

    LPCWSTR GetWindowClassName() const override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hwnd) override { (void)hwnd; } // the object outlives its window
    void InitWindow() override {}
    CDuiString GetSkinFolder() override { return CDuiString(L""); }
    CDuiString GetSkinFile() override { return CDuiString(L"xml\\CScreenCtrlWnd.xml"); }
    UINT GetResourceType() const override { return 1; }
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) override {
        return WindowImplBase::OnDestroy(msg, wParam, lParam, handled);
    }
    void Notify(TNotifyUI& msg) override { (void)msg; }

    // Drawing on the open window.
    void Paint();
    void DrawAllSegments();
    void DrawSelectedSegments();
    void BlinkSelectedSegment();

    // The keys "Z" and "X": every gain one step, then the whole grid redrawn.
    void StepAllGains(int direction);
    void ResetGains() { grid.ResetGains(); }

    SeamGrid grid;
    int blinkCounter = 0;
    ScreenParams params{};
    GammaTable gammaTable{};
    int wheelThreshold = 0;
    int forwardSocket = -1;

private:
    void OnWheel(WPARAM wParam);
    void OnLeftButtonUp(LPARAM lParam);
    void ShowMenu(LPARAM lParam);
    void Forward(UINT msg, WPARAM wParam, LPARAM lParam);
    void RefreshGammaTable();
};

// The single pattern window object; null until first needed.
extern CScreenCtrlWnd* g_patternWindow;

// Makes the object on first need; g_patternWindow stays null when it cannot be had.
void CreatePatternWindowObject();
// The object, made now if there is none; false, after telling the operator, when it cannot be had.
bool EnsurePatternWindowObject();

// Opens the window over the screen the parameters describe and returns once it has been closed.
void OpenPatternWindow(HWND parent, const ScreenParams& params, int socket);

constexpr UINT kPatternMenuExit = 100;
constexpr UINT_PTR kBlinkTimer = 1;
