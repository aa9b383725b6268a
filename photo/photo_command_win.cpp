// The main window's correction from a photo: the picture chosen, every module edge measured, the
// pattern window object's grid given the gains that cancel what the photo shows.
#include "photo/photo_command_win.h"

#include "files/file_io_win.h"
#include "hardware/edge_gains.h"
#include "lib/baselib/raii_win.h"
#include "lib/baselib/memory_budget.h"
#include "lib/uilib/utf8.h"
#include "photo/seam_photo.h"
#include "seam/pattern_window_win.h"
#include "seam/screen_params_check.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <vector>

namespace {

constexpr wchar_t kCaption[] = L"照片校正";
const FileDialogSettings kPhotoDialog{
    false, L"Pictures (*.png;*.jpg;*.jpeg;*.bmp)\0*.png;*.jpg;*.jpeg;*.bmp\0", L"jpg", L""};

std::wstring Wide(const std::string& utf8) {
    const std::u16string text = Utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

// The whole file, when the memory budget allows it; otherwise `why` says what it would need.
bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>& bytes, std::wstring& why) {
    InputFile file = OpenForReading(path);
    if (!file || _fseeki64(file.get(), 0, SEEK_END) != 0) {
        why = Quoted(path) + L" 读不出来。";
        return false;
    }
    const long long size = _ftelli64(file.get());
    if (size < 0 || _fseeki64(file.get(), 0, SEEK_SET) != 0) {
        why = Quoted(path) + L" 读不出来。";
        return false;
    }
    if (const std::string refusal = MemoryRefusal(static_cast<uint64_t>(size)); !refusal.empty()) {
        why = L"读 " + Quoted(path) + L"：" + Wide(refusal) + L"。";
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        why = Quoted(path) + L" 读不出来。";
        return false;
    }
    return true;
}

// The grid the pattern window would hold once opened with `params`: the one held when its sizes are
// those of the last build, else a new one with every gain at 1.0.
std::vector<SeamSegment> GridForParams(const ScreenParams& params) {
    const SeamGridCache& cache = ProcessSeamGridCache();
    const bool same = cache.screen_width == static_cast<uint32_t>(params.screen_width) &&
                      cache.screen_height == static_cast<uint32_t>(params.screen_height) &&
                      cache.mod_width == static_cast<uint32_t>(params.mod_width) &&
                      cache.mod_height == static_cast<uint32_t>(params.mod_height);
    const uint64_t records = 4ull * static_cast<uint64_t>(params.screen_width / params.mod_width) *
                             static_cast<uint64_t>(params.screen_height / params.mod_height);
    if (same && g_patternWindow != nullptr && g_patternWindow->Grid().Size() == records) {
        return g_patternWindow->Grid().CopySeamGrid();
    }
    return FreshSeamGrid(params);
}

// Cameras number their photos: "IMG_9.jpg" comes before "IMG_10.jpg", as the operator took them.
bool NameOrder(const std::wstring& a, const std::wstring& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::iswdigit(a[i]) && std::iswdigit(b[j])) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::iswdigit(a[ei])) {
                ++ei;
            }
            while (ej < b.size() && std::iswdigit(b[ej])) {
                ++ej;
            }
            std::wstring x = a.substr(i, ei - i), y = b.substr(j, ej - j);
            x.erase(0, std::min(x.find_first_not_of(L'0'), x.size()));
            y.erase(0, std::min(y.find_first_not_of(L'0'), y.size()));
            if (x.size() != y.size() || x != y) {
                return x.size() != y.size() ? x.size() < y.size() : x < y;
            }
            i = ei, j = ej;
            continue;
        }
        const wint_t x = std::towlower(a[i]), y = std::towlower(b[j]);
        if (x != y) {
            return x < y;
        }
        ++i, ++j;
    }
    return a.size() - i < b.size() - j;
}

bool SameSizes(const ScreenParams& a, const ScreenParams& b) {
    return a.screen_width == b.screen_width && a.screen_height == b.screen_height &&
           a.mod_width == b.mod_width && a.mod_height == b.mod_height;
}

} // namespace

// The one place where a photo's gains enter the grid: built as opening the pattern window would build
// it, then every gain set.
void PhotoCommand::InstallPhotoGains(const ScreenParams& params, const std::vector<float>& gains) {
    if (!EnsurePatternWindowObject(&host_)) {
        return;
    }
    CScreenCtrlWnd& w = *g_patternWindow;
    w.TakeScreen(params);
    std::vector<SeamSegment> segments =
        w.Grid().Size() == gains.size() ? w.Grid().CopySeamGrid() : GridForParams(params);
    if (segments.size() != gains.size()) {
        segments = FreshSeamGrid(params);
    }
    for (size_t i = 0; i < segments.size() && i < gains.size(); ++i) {
        segments[i].gain = gains[i];
    }
    w.ApplyGridCommand(std::move(segments), 0); // one step, undone with Ctrl+Z; the server has no photo
}

PhotoInput PhotoCommand::WhatTheWallShowed(const ScreenParams& params, std::wstring& cards) {
    PhotoInput input;
    input.params = params;
    input.grid = GridForParams(params);
    input.budget = MemoryBudget();
    input.remembered_slope = calibrated_slope_;
    input.previous = previous_.measured.empty() ? nullptr : &previous_;
    const CardEdgeGains read = ReadCardEdgeGains(devices_, input.grid, MemoryBudget() / 4);
    const auto* enable = dynamic_cast<CCheckBoxUI*>(host_.Control(L"chkbox_Enable"));
    const bool ticked = enable != nullptr && enable->GetCheck();
    cards = read.correction == CardsCorrection::On ? L"已启用"
            : read.correction == CardsCorrection::Off
                ? L"未启用"
                : (ticked ? L"无法读取（按已勾选的启用处理）" : L"无法读取（按未勾选的启用处理）");
    if (read.correction == CardsCorrection::On) {
        input.shown = ShownBy::Cards;
        input.applied = read.gains;
        return input;
    }
    if (read.correction == CardsCorrection::Unreadable && ticked) {
        input.shown = ShownBy::Cards; // as the check box says: the cards hold the grid's gains
        return input;
    }
    // The cards show nothing of their own: the photo is of the pattern window, in its photo mode when
    // that was last shown for these sizes.
    const CScreenCtrlWnd::PhotoModeRecord* mode =
        g_patternWindow != nullptr ? &g_patternWindow->LastPhotoMode() : nullptr;
    if (mode != nullptr && mode->shown && mode->gains.size() == input.grid.size() &&
        SameSizes(mode->params, params)) {
        input.shown = ShownBy::PhotoMode;
        input.applied = mode->gains;
    }
    return input;
}

std::wstring PhotoCommand::Describe(const PhotoCorrection& result, const std::wstring& cards) const {
    std::wstring text;
    if (result.outcome == PhotoOutcome::Corrected) {
        text = L"照片校正完成：改动了 " + std::to_wstring(result.changed_seams) + L" 条缝隙。";
    } else {
        text = Wide(result.why);
    }
    for (const std::string& unusable : result.unusable) {
        text += L"\n" + Wide(unusable);
    }
    wchar_t line[256];
    if (result.largest_where.empty()) {
        _snwprintf(line, 256, L"\n照片上的模组边缘与底色没有可测的偏差。");
    } else {
        _snwprintf(
            line, 256,
            L"\n测得的最大偏差为 %.2f %%（%ls），在模组 (%u, %u) %ls的缝隙；校正后预计不超过 %.2f %%。",
            result.largest_percent, result.largest_brighter ? L"偏亮" : L"偏暗", result.largest_column,
            result.largest_row, result.largest_below ? L"下方" : L"右侧", result.predicted_percent);
    }
    line[255] = L'\0';
    text += line;
    const wchar_t* sources[] = {L"没有已知的对比，按 sRGB 估计", L"由照片模式的校准线测得",
                                L"由上次改动的系数与照片的变化测得", L"沿用上一张照片模式照片的测量"};
    _snwprintf(line, 256, L"\n相机响应：%ls（%.2f）。\n接收卡校正：%ls。",
               sources[static_cast<int>(result.response)], result.slope, cards.c_str());
    line[255] = L'\0';
    return text + line;
}

void PhotoCommand::CorrectFromPhotoCommand(bool replayed, bool linked) {
    if (replayed) {
        return; // asked by a client: nobody sits at this screen to choose a picture, and no client mirrors it
    }
    if (linked) {
        // The server's grid would not follow gains set here; the pair would drift apart unseen.
        host_.ShowMessageW(L"本机正作为客户端连接服务端：请先断开连接，再做照片校正。", L"warnning");
        return;
    }
    const ScreenParams params = host_.ReadScreenParams();
    if (const char* unusable = UnusableScreenParam(params)) {
        host_.ShowMessage(unusable, "warnning");
        return;
    }
    const uint64_t grid_bytes = SeamGridBuildBytes(params, SeamGridCache{});
    if (grid_bytes == 0 || grid_bytes > MemoryBudget()) {
        host_.ShowMessageW(L"屏幕参数（" + std::to_wstring(params.screen_width) + L" x " +
                               std::to_wstring(params.screen_height) + L"，模组 " +
                               std::to_wstring(params.mod_width) + L" x " +
                               std::to_wstring(params.mod_height) +
                               L"）描述的不是能用照片测量的缝隙网格。请检查屏幕尺寸和模组尺寸。",
                           L"warnning");
        return;
    }
    std::vector<std::wstring> paths;
    if (!RunMultiFileDialog(host_.Window(), kPhotoDialog, paths)) {
        return;
    }
    std::sort(paths.begin(), paths.end(), NameOrder);
    const WaitCursor busy;
    std::wstring cards;
    PhotoCorrection result;
    if (paths.size() == 1) {
        std::vector<uint8_t> bytes;
        std::wstring why;
        if (!ReadWholeFile(paths[0], bytes, why)) {
            host_.ShowMessageW(why, L"warnning");
            return;
        }
        PhotoInput input = WhatTheWallShowed(params, cards);
        input.budget = input.budget > bytes.size() ? input.budget - bytes.size() : 0;
        result = CorrectFromPhotoFile(bytes.data(), bytes.size(), input);
    } else {
        // Photo k shows region k of the layout the photo mode showed last for these sizes.
        const CScreenCtrlWnd::PhotoModeRecord* mode =
            g_patternWindow != nullptr ? &g_patternWindow->LastPhotoMode() : nullptr;
        const size_t regions =
            mode != nullptr && mode->shown && SameSizes(mode->params, params) ? mode->regions.size() : 0;
        if (regions != paths.size()) {
            host_.ShowMessageW(
                L"选了 " + std::to_wstring(paths.size()) + L" 张照片，" +
                    (regions == 0 ? std::wstring(L"但还没有为这些屏幕参数显示过照片分区")
                                  : L"但上次显示的照片分区有 " + std::to_wstring(regions) + L" 个区域") +
                    L"：请在测试画面里按 P 显示照片分区，每个区域拍一张，再按顺序一次选中全部照片。",
                L"warnning");
            return;
        }
        const PhotoInput input = WhatTheWallShowed(params, cards);
        result = CorrectFromRegionPhotos(input, mode->regions,
                                         [&paths](size_t k, std::vector<uint8_t>& bytes, std::string& why) {
                                             std::wstring wide;
                                             if (ReadWholeFile(paths[k], bytes, wide)) {
                                                 return true;
                                             }
                                             const std::u16string text(wide.begin(), wide.end());
                                             why = Utf16ToUtf8(text);
                                             return false;
                                         });
    }
    if (result.outcome == PhotoOutcome::Corrected) {
        InstallPhotoGains(params, result.gains);
    }
    if (result.outcome == PhotoOutcome::Corrected || result.outcome == PhotoOutcome::NoImprovement) {
        previous_ = result.readings;
        calibrated_slope_ = result.response == ResponseSource::Calibrated ? result.slope : calibrated_slope_;
        host_.ShowMessageW(Describe(result, cards), kCaption);
        return;
    }
    host_.ShowMessageW(Wide(result.why) + L"\n接收卡校正：" + cards + L"。", kCaption);
}
