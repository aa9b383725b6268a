// The pattern window's photo mode: the wall shown for photos, region by region, with calibration lines.
#include "lib/baselib/memory_budget.h"
#include "lib/baselib/raii_win.h"
#include "seam/pattern_window_win.h"
#include "seam/seam_drawing_win.h"

// Space and Right go to the next region, Left back, Esc or "P" leave the mode; the window stays. Every
// other input is swallowed: a click or a notch here would tune a grid
// the operator cannot see, and none of it is forwarded.
bool CScreenCtrlWnd::PhotoModeMessage(UINT msg, WPARAM wParam) {
    if (!photoMode_) {
        if (msg == WM_CHAR && (wParam == 'p' || wParam == 'P')) {
            EnterPhotoMode();
            return true;
        }
        return false;
    }
    switch (msg) {
    case WM_CHAR:
        if (wParam == 27 || wParam == 'p' || wParam == 'P') {
            LeavePhotoMode();
        } else if (wParam == ' ') {
            ShowRegion(region_ + 1);
        }
        return true;
    case WM_KEYDOWN:
        if (wParam == VK_RIGHT) {
            ShowRegion(region_ + 1);
        } else if (wParam == VK_LEFT && region_ > 0) {
            ShowRegion(region_ - 1);
        }
        return true;
    case WM_MOUSEWHEEL:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_MOUSEMOVE:
        return true;
    default:
        return false;
    }
}

void CScreenCtrlWnd::EnterPhotoMode() {
    const uint32_t camera = owner_ != nullptr ? owner_->PhotoCameraWidth() : 4000;
    std::vector<PhotoRegion> regions = PhotoRegions(params, camera);
    const uint64_t records = grid.Size();
    // The signs and the gains' copy: five bytes a record, within what may be taken now.
    if (regions.empty() || records == 0 || records * 5 > MemoryBudget() / 4) {
        if (owner_ != nullptr) {
            owner_->ShowMessageW(L"这些屏幕参数和“照片宽度”分不出照片分区：每个屏像素在照片里要占 2.5 个"
                                 L"像素，每个区域还要与相邻区域重叠一个模组。请检查模组尺寸和“照片宽度”。",
                                 L"warnning");
        }
        return;
    }
    const GridIndex index{static_cast<uint64_t>(params.screen_width / params.mod_width),
                          static_cast<uint64_t>(params.screen_height / params.mod_height)};
    photoSigns_ = CalibrationSigns(index);
    photoRecord_.shown = true;
    photoRecord_.params = params;
    photoRecord_.regions = std::move(regions);
    photoRecord_.gains.resize(grid.Size());
    for (size_t i = 0; i < grid.Size(); ++i) {
        photoRecord_.gains[i] = grid.Segments()[i].gain;
    }
    photoMode_ = true;
    ShowRegion(0);
}

void CScreenCtrlWnd::LeavePhotoMode() {
    photoMode_ = false;
    photoSigns_.clear();
    photoSigns_.shrink_to_fit();
    ::InvalidateRect(hwnd_, nullptr, TRUE);
    if (owner_ != nullptr) {
        owner_->PhotoRegionShown(0, 0);
    }
}

// Past the last region the mode starts again at the first.
void CScreenCtrlWnd::ShowRegion(size_t index) {
    region_ = index < photoRecord_.regions.size() ? index : 0;
    ::InvalidateRect(hwnd_, nullptr, TRUE);
    if (owner_ != nullptr) {
        owner_->PhotoRegionShown(region_ + 1, photoRecord_.regions.size());
    }
}

void CScreenCtrlWnd::PaintPhotoMode() {
    const PaintDC dc(hwnd_);
    RECT client;
    ::GetClientRect(hwnd_, &client);
    RefreshGammaTable();
    FillField(dc.get(), client, 0);
    if (region_ < photoRecord_.regions.size()) {
        DrawPhotoRegion(dc.get(), grid.Segments(), photoSigns_, photoRecord_.regions[region_],
                        params.gray_scale, gammaTable);
    }
}
