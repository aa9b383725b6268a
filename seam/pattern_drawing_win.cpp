// The pattern window's drawing: the field, every edge, the selected edges after a wheel step, and the
// blink of a freshly selected seam.
#include "seam/pattern_window_win.h"

#include "lib/baselib/raii_win.h"
#include "seam/seam_drawing_win.h"

namespace {

// "修改失败", in the Chinese code page (GBK) that the developers' tools expect.
constexpr char kTraceNothingSelected[] = "\xd0\xde\xb8\xc4\xca\xa7\xb0\xdc";

} // namespace

// The table follows the gamma at every paint; a gamma of 0 or below (or not a number) keeps the
// previous table, so a typing slip does not blank the pattern.
void CScreenCtrlWnd::RefreshGammaTable() {
    if (GammaUsable(params.gamma)) {
        BuildGammaTable(static_cast<float>(params.gamma), gammaTable);
    }
}

void CScreenCtrlWnd::Paint() {
    const PaintDC dc(hwnd_);
    RECT client;
    ::GetClientRect(hwnd_, &client);
    RefreshGammaTable();
    FillField(dc.get(), client, BackgroundLevel(gammaTable, params.gray_scale));
    DrawAllSegments();
}

void CScreenCtrlWnd::DrawAllSegments() {
    RefreshGammaTable();
    WindowDC dc(hwnd_);
    if (dc.get() != nullptr) {
        DrawGrid(dc.get(), grid.Segments(), params.gray_scale, gammaTable);
    }
}

void CScreenCtrlWnd::DrawSelectedSegments() {
    std::vector<SeamSegment> selected;
    if (!grid.CollectSelected(selected)) {
        ::OutputDebugStringA(kTraceNothingSelected);
        return;
    }
    WindowDC dc(hwnd_);
    if (dc.get() != nullptr) {
        DrawSegmentList(dc.get(), selected, params.gray_scale, gammaTable);
    }
}

// One tick of timer 1: six inversions of the first selected line, so it ends as it was drawn. A click
// that selected nothing leaves the counter where it is and the timer running.
void CScreenCtrlWnd::BlinkSelectedSegment() {
    const int64_t first = grid.FirstSelectedIndex();
    if (first < 0) {
        return;
    }
    {
        WindowDC dc(hwnd_);
        if (dc.get() != nullptr) {
            InvertSegment(dc.get(), grid.Segments()[static_cast<size_t>(first)]);
        }
    }
    if (++blinkCounter >= 6) {
        ::KillTimer(hwnd_, kBlinkTimer);
    }
}
