// The main window's file commands: save the seam file, import one, choose the coefficient file.
#include "files/file_commands_win.h"

#include "files/file_io_win.h"
#include "files/seam_file.h"
#include "lib/baselib/memory_budget.h"
#include "lib/baselib/path.h"
#include "lib/baselib/raii_win.h"
#include "seam/pattern_window_win.h"

#include <cstdio>
#include <memory>

namespace {

// Each filter is one pair of zero-terminated texts; the literal's own terminator ends the list.
const FileDialogSettings kSaveDialog{true, L"Seam Files\0*.chk\0", L"chk", L"seam"};
const FileDialogSettings kImportDialog{false, L"All Files\0*.chk\0", L"chk", L""};
const FileDialogSettings kCoefficientDialog{false, L"coefficient(*.dat)\0*.dat\0", L"dat", L""};

// A server writes its seam file here, without a dialog: nobody sits at its screen to answer one.
constexpr wchar_t kServerSeamFile[] = L"d:data.chk";

std::wstring Widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::wstring HeaderProblem(SeamFileStatus status, const SeamFileContents& file, uint64_t budget) {
    switch (status) {
    case SeamFileStatus::TooShort:
        return L"it is shorter than the 48 bytes of a seam file's header.";
    case SeamFileStatus::ZeroModule:
        return L"its module width or height is 0.";
    case SeamFileStatus::TooLarge: {
        const ScreenParams& h = file.header;
        return L"its header (screen " + std::to_wstring(h.screen_width) + L" x " +
               std::to_wstring(h.screen_height) + L", modules " + std::to_wstring(h.mod_width) + L" x " +
               std::to_wstring(h.mod_height) + L") announces " + std::to_wstring(file.record_count) +
               L" records; reading them " + Widen(MemoryRefusal(file.record_bytes, budget)) + L".";
    }
    case SeamFileStatus::Truncated:
    case SeamFileStatus::BadGain:
    case SeamFileStatus::Ok:
        break;
    }
    return L"";
}

std::wstring ModuleSizes(const ScreenParams& h) {
    return L"屏幕 " + std::to_wstring(h.screen_width) + L" x " + std::to_wstring(h.screen_height) +
           L"，模组 " + std::to_wstring(h.mod_width) + L" x " + std::to_wstring(h.mod_height);
}

// Why the import refuses a file; every text ends by saying that nothing changed.
std::wstring ImportRefusal(const std::wstring& path, SeamFileStatus status, const SeamFileContents& file,
                           uint64_t budget) {
    const std::wstring unchanged = L"接缝数据和屏幕参数都没有改变。";
    if (status == SeamFileStatus::Truncated) {
        return L"接缝文件 " + Quoted(path) + L" 不完整，未导入：文件头的尺寸（" + ModuleSizes(file.header) +
               L"）需要 " + std::to_wstring(file.record_count) + L" 条接缝记录，文件只有 " +
               std::to_wstring(file.whole_records) + L" 条完整记录。" + unchanged;
    }
    if (status == SeamFileStatus::BadGain) {
        return L"接缝文件 " + Quoted(path) + L" 未导入：第 " + std::to_wstring(file.bad_record + 1u) +
               L" 条记录（共 " + std::to_wstring(file.record_count) + L" 条）的增益 " +
               GainText(file.records[file.bad_record].gain) +
               L" 不是 0 到 2 之间的数，本工具不会写出这样的增益：文件已损坏，或不是接缝文件。" + unchanged;
    }
    return Quoted(path) + L" is not a usable seam file: " + HeaderProblem(status, file, budget);
}

} // namespace

namespace {

std::wstring SizesText(uint32_t sw, uint32_t sh, uint32_t mw, uint32_t mh, uint64_t records) {
    return L"a screen of " + std::to_wstring(sw) + L" x " + std::to_wstring(sh) + L" with modules of " +
           std::to_wstring(mw) + L" x " + std::to_wstring(mh) + L" (" + std::to_wstring(records) +
           L" records)";
}

// Why a file with this header and these records would not import as it was tuned: its header would
// announce another number of records than follow it. Empty when they agree. Before any grid exists the
// header alone would be such a file: the import refuses it, and a save chosen over an earlier seam file
// would have replaced its tuning with nothing.
std::wstring MismatchOfHeaderAndGrid(const ScreenParams& header, size_t records) {
    uint32_t announced = 0;
    const bool counted = SeamFileRecordCount(header, announced);
    if (counted && announced == records) {
        return L"";
    }
    if (records == 0) {
        return L"还没有可保存的接缝数据：请先按现在的尺寸点“打开测试画面”，或导入接缝文件，再保存。";
    }
    const SeamGridCache& grid = ProcessSeamGridCache();
    return L"The seam data is for " +
           SizesText(grid.screen_width, grid.screen_height, grid.mod_width, grid.mod_height, records) +
           L", but the fields now describe " +
           SizesText(static_cast<uint32_t>(header.screen_width), static_cast<uint32_t>(header.screen_height),
                     static_cast<uint32_t>(header.mod_width), static_cast<uint32_t>(header.mod_height),
                     announced) +
           L". Open the pattern window with the sizes to keep, or put the fields back, then save again.";
}

// A server's operator sits at another desk: what goes wrong is said on standard output, where a box
// would stop the replay until someone at the wall answered it.
void ReportSaveProblem(CommandHost& host, bool server, const std::wstring& text) {
    if (server) {
        std::printf("btn_save: %ls\n", text.c_str());
        std::fflush(stdout);
    } else {
        host.ShowMessageW(text, L"warnning");
    }
}

} // namespace

void FileCommands::SaveSeamFile(bool server) {
    std::wstring target;
    if (server) {
        target = kServerSeamFile;
    } else {
        std::wstring chosen;
        if (!RunFileDialog(host_.Window(), kSaveDialog, chosen)) {
            return;
        }
        const std::wstring folder = Util::Path::GetFileFolder(chosen);
        if (folder.empty()) {
            return;
        }
        target = folder + L"\\" + Util::Path::GetFileName(chosen) + L".chk";
    }
    const ScreenParams header =
        host_.ReadScreenParams(); // the fields as they read now, not the pattern's copy
    static const std::vector<SeamSegment> kNoRecords;
    // The save runs on the thread that owns the grid, so it writes from the grid in place: an 8K wall's
    // two million records need no second copy.
    const std::vector<SeamSegment>& records =
        g_patternWindow != nullptr ? g_patternWindow->Grid().Segments() : kNoRecords;
    const std::wstring mismatch = MismatchOfHeaderAndGrid(header, records.size());
    if (!mismatch.empty()) {
        ReportSaveProblem(host_, server,
                          (records.empty() ? L"未保存到 " + Quoted(target) + L"："
                                           : L"Not saved to " + Quoted(target) + L": ") +
                              mismatch);
        return;
    }
    std::wstring why;
    bool written = false;
    {
        const WaitCursor busy; // two million records on an 8K wall
        written = ReplaceFileContents(
            target, [&](const ByteSink& sink) { return WriteSeamFile(header, records, sink); }, why);
    }
    if (!written) {
        ReportSaveProblem(host_, server,
                          L"The seam file could not be saved to " + Quoted(target) + L": " + why +
                              L". A file that was there keeps its contents.");
        return;
    }
    host_.WorkSaved();
}

void FileCommands::ImportSeamFile() {
    std::wstring path;
    if (!RunFileDialog(host_.Window(), kImportDialog, path)) {
        return;
    }
    InputFile file = OpenForReading(path);
    if (!file) {
        return; // as a cancelled dialog: the file is gone or held by another program
    }
    SeamFileContents contents;
    const uint64_t budget = MemoryBudget();
    SeamFileStatus status = SeamFileStatus::TooShort;
    {
        const WaitCursor busy; // two million records on an 8K wall
        status = ReadSeamFile(
            [&](uint8_t* buffer, size_t size) { return std::fread(buffer, 1, size, file.get()); }, budget,
            contents);
    }
    file.reset();
    if (status != SeamFileStatus::Ok) {
        // Nothing is installed and the fields keep what the operator typed.
        host_.ShowMessageW(ImportRefusal(path, status, contents, budget), L"warnning");
        return;
    }
    if (!EnsurePatternWindowObject(&host_)) {
        return;
    }
    // The grid now belongs to the header's sizes: opening the pattern window with them must keep it,
    // not rebuild it with every gain back at 1.0.
    const ScreenParams& h = contents.header;
    const ScreenState screens[2] = {ScreenState{host_.ReadScreenParams(), ProcessSeamGridCache()},
                                    ScreenState{h, SeamGridCache{static_cast<uint32_t>(h.screen_width),
                                                                 static_cast<uint32_t>(h.screen_height),
                                                                 static_cast<uint32_t>(h.mod_width),
                                                                 static_cast<uint32_t>(h.mod_height)}}};
    // The server, if linked, imports a file of its own choosing: the step stays local.
    const WaitCursor busy; // the history keeps the grid it replaces
    g_patternWindow->ApplyGridCommand(std::move(contents.records), 0, screens);
    ProcessSeamGridCache() = screens[1].cache;
    host_.ShowScreenParams(h);
    host_.SelectionChanged();
    host_.WorkSaved();
}

void FileCommands::ChooseCoefficientFile() {
    std::wstring chosen;
    if (RunFileDialog(host_.Window(), kCoefficientDialog, chosen)) {
        coefficientPath = chosen;
    }
    // A cancelled dialog keeps an earlier choice.
    if (!coefficientPath.empty()) {
        hasCoefficientFile = true;
    }
    ShowCoefficientFile();
}

void FileCommands::RestoreCoefficientPath(const std::wstring& path) {
    coefficientPath = path;
    hasCoefficientFile = !path.empty();
    ShowCoefficientFile();
}

void FileCommands::ShowCoefficientFile() {
    if (CControlUI* label = host_.Control(L"lab_coef_file")) {
        const size_t cut = coefficientPath.find_last_of(L"\\/");
        const std::wstring name =
            cut == std::wstring::npos ? coefficientPath : coefficientPath.substr(cut + 1);
        label->SetText((L"系数文件：" + (name.empty() ? std::wstring(L"未选择") : name)).c_str());
    }
}
