// The main window's correction from a photo: the picture chosen, every module edge measured, the
// pattern window object's grid given the gains that cancel what the photo shows.
#include "app/main_frame.h"
#include "files/file_io_win.h"
#include "lib/baselib/memory_budget.h"
#include "lib/uilib/utf8.h"
#include "photo/seam_photo.h"
#include "seam/pattern_window_win.h"
#include "seam/screen_params_check.h"

#include <cstdio>
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
        why = Quoted(path) + L" cannot be read.";
        return false;
    }
    const long long size = _ftelli64(file.get());
    if (size < 0 || _fseeki64(file.get(), 0, SEEK_SET) != 0) {
        why = Quoted(path) + L" cannot be read.";
        return false;
    }
    if (static_cast<uint64_t>(size) > MemoryBudget()) {
        why = Quoted(path) + L" holds " + Wide(FormatBytes(static_cast<uint64_t>(size))) + L"; " +
              Wide(FormatBytes(MemoryBudget())) + L" can be used now.";
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        why = Quoted(path) + L" cannot be read.";
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
    if (same && g_patternWindow != nullptr && g_patternWindow->grid.Size() == records) {
        return g_patternWindow->grid.CopySeamGrid();
    }
    SeamGrid fresh;
    SeamGridCache scratch;
    fresh.BuildSeamGrid(params, scratch);
    return fresh.CopySeamGrid();
}

} // namespace

// The one place where a photo's gains enter the grid: built as opening the pattern window would build
// it, then every gain set.
void InstallPhotoGains(const ScreenParams& params, const std::vector<float>& gains) {
    if (!EnsurePatternWindowObject()) {
        return;
    }
    CScreenCtrlWnd& w = *g_patternWindow;
    w.params = params;
    BuildSeamGridKeepingHistory(w.grid, w.history, w.params);
    std::vector<SeamSegment> segments =
        w.grid.Size() == gains.size() ? w.grid.CopySeamGrid() : GridForParams(params);
    if (segments.size() != gains.size()) {
        SeamGrid fresh;
        SeamGridCache scratch;
        fresh.BuildSeamGrid(params, scratch);
        segments = fresh.CopySeamGrid();
    }
    for (size_t i = 0; i < segments.size() && i < gains.size(); ++i) {
        segments[i].gain = gains[i];
    }
    w.ApplyGridCommand(std::move(segments), 0); // one step, undone with Ctrl+Z; the server has no photo
}

void MainFrame::CorrectFromPhotoCommand() {
    if (replayDepth_ > 0) {
        return; // asked by a client: nobody sits at this screen to choose a picture, and no client mirrors it
    }
    if (isClientConnected) {
        // The server's grid would not follow gains set here; the pair would drift apart unseen.
        ShowMainMessageW(L"This instance is linked to a server as its client: disconnect first, then correct "
                         L"from the photo.");
        return;
    }
    const ScreenParams params = ReadScreenParams();
    if (const char* unusable = UnusableScreenParam(params)) {
        ShowMainMessage(unusable, "warnning");
        return;
    }
    const uint64_t grid_bytes = SeamGridBuildBytes(params, SeamGridCache{});
    if (grid_bytes == 0 || grid_bytes > MemoryBudget()) {
        ShowMainMessageW(
            L"The screen of " + std::to_wstring(params.screen_width) + L" x " +
            std::to_wstring(params.screen_height) + L" pixels with modules of " +
            std::to_wstring(params.mod_width) + L" x " + std::to_wstring(params.mod_height) +
            L" has no seam grid a photo can be measured against. Check the screen and module sizes.");
        return;
    }
    std::wstring path;
    if (!RunFileDialog(hwnd_, kPhotoDialog, path)) {
        return;
    }
    std::vector<uint8_t> bytes;
    std::wstring why;
    if (!ReadWholeFile(path, bytes, why)) {
        ShowMainMessageW(why);
        return;
    }
    auto* enable = dynamic_cast<CCheckBoxUI*>(Control(L"chkbox_Enable"));
    const bool refine = enable != nullptr && enable->GetCheck();
    const std::vector<SeamSegment> current = GridForParams(params);
    const uint64_t budget = MemoryBudget();
    const PhotoCorrection result = CorrectFromPhotoFile(bytes.data(), bytes.size(), params, current, refine,
                                                        budget > bytes.size() ? budget - bytes.size() : 0);
    if (result.outcome != PhotoOutcome::Corrected) {
        ShowMainMessageW(Wide(result.why));
        return;
    }
    InstallPhotoGains(params, result.gains);
    wchar_t text[512];
    if (result.largest_where.empty()) {
        _snwprintf(text, 512, L"照片校正完成：改动了 %u 条缝隙。照片上的模组边与底色没有可测的偏差。",
                   result.changed_seams);
    } else {
        _snwprintf(
            text, 512,
            L"照片校正完成：改动了 %u 条缝隙。测得的最大偏差为 %.2f %%（%ls），在模组 (%u, %u) %ls的缝隙。",
            result.changed_seams, result.largest_percent, result.largest_brighter ? L"偏亮" : L"偏暗",
            result.largest_column, result.largest_row, result.largest_below ? L"下方" : L"右侧");
    }
    text[511] = L'\0';
    ShowMainMessageW(text, kCaption);
}
