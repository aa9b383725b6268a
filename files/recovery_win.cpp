// This run's recovery set and the start-up offer of what an earlier run left unsaved.
#include "files/recovery_win.h"

#include "files/file_io_win.h"
#include "lib/baselib/memory_budget.h"
#include "lib/baselib/path.h"
#include "seam/pattern_window_win.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <system_error>

namespace {

// The texts a save reads its header from, kept as typed: "2.25" must not come back as "2.3".
const wchar_t* const kRecoveryFields[] = {
    L"edt_screen_width", L"edt_screen_height", L"edt_start_x",    L"edt_start_y",    L"edt_box_width",
    L"edt_box_height",   L"edt_mod_width",     L"edt_mod_height", L"edt_gray_scale", L"edt_gama_value",
};
constexpr UINT_PTR kTickTimer = 0x5E01;
constexpr UINT_PTR kSliceTimer = 0x5E02;
// Records copied per tick of a pass: 3.5 MB, well under a millisecond.
constexpr size_t kSliceRecords = 131072;

std::u16string U16(const std::wstring& w) {
    return std::u16string(w.begin(), w.end());
}

uint64_t Now() {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// A run holds a mutex of its set's name while it lives; the system ends it with the run, however the
// run ends. Creating it claims a set that no live run holds.
UniqueHandle Claim(const std::wstring& id, bool& claimed) {
    ::SetLastError(ERROR_SUCCESS); // only "already exists" is set by the call itself
    UniqueHandle h(::CreateMutexW(nullptr, FALSE, (L"Veltra-Seam-recovery-" + id).c_str()));
    claimed = h.Valid() && ::GetLastError() != ERROR_ALREADY_EXISTS;
    return h;
}

std::wstring LocalTime(uint64_t written) {
    FILETIME utc{static_cast<DWORD>(written & 0xFFFFFFFFu), static_cast<DWORD>(written >> 32)};
    FILETIME local;
    SYSTEMTIME t{};
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &t)) {
        return L"未知时间";
    }
    wchar_t text[64];
    _snwprintf(text, 64, L"%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
               t.wSecond);
    text[63] = L'\0';
    return text;
}

const std::vector<SeamSegment>& HeldGrid() {
    static const std::vector<SeamSegment> kNone;
    return g_patternWindow != nullptr ? g_patternWindow->Grid().Segments() : kNone;
}

InputFile OpenSet(const std::wstring& path) {
    return OpenForReading(path);
}

ByteSource SourceOf(FILE* file) {
    return [file](uint8_t* buffer, size_t size) { return std::fread(buffer, 1, size, file); };
}

} // namespace

RecoveryKeeper::~RecoveryKeeper() {
    StopWriter();
}

std::wstring RecoveryKeeper::SetPath(const std::wstring& id) const {
    return folder_ + L"\\" + id + L".rec";
}

void RecoveryKeeper::Start() {
    baseline_ = SeamFileHash(host_.ReadScreenParams(), HeldGrid());
    const std::wstring user = Util::Path::GetUserDataFolder();
    if (user.empty()) {
        return; // no per-user folder: nothing is kept, and nothing beside the exe instead
    }
    folder_ = user + L"\\recovery";
    ::CreateDirectoryW(folder_.c_str(), nullptr);
    // The start time first: the sets sort oldest first by name.
    wchar_t id[48];
    _snwprintf(id, 48, L"%016llx-%lu", static_cast<unsigned long long>(Now()), ::GetCurrentProcessId());
    id[47] = L'\0';
    id_ = id;
    bool claimed = false;
    claim_ = Claim(id_, claimed);
    try {
        writer_ = std::thread(&RecoveryKeeper::WriterLoop, this);
    } catch (const std::system_error&) {
        folder_.clear(); // no writer: nothing is kept, the window goes on
        return;
    }
    ::SetTimer(host_.Window(), kTickTimer, 1000, nullptr);
    ::PostMessageW(host_.Window(), WM_RECOVERY_OFFER, 0, 0);
}

void RecoveryKeeper::OfferLeftWork() {
    if (folder_.empty()) {
        return;
    }
    std::vector<std::wstring> ids;
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((folder_ + L"\\*.rec").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            ids.push_back(name.substr(0, name.size() - 4));
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    std::sort(ids.begin(), ids.end());
    for (const std::wstring& id : ids) {
        if (id != id_ && Offer(id)) {
            return;
        }
    }
}

// True when the set was restored. A set whose run still lives is its run's; one that a seam file holds
// in full, or that the operator declines, is removed; a damaged one is left where it is, untouched.
bool RecoveryKeeper::Offer(const std::wstring& id) {
    bool claimed = false;
    const UniqueHandle claim = Claim(id, claimed);
    if (!claimed) {
        return false;
    }
    const std::wstring path = SetPath(id);
    RecoveryState state;
    {
        InputFile file = OpenSet(path);
        if (!file || ReadRecoveryHead(SourceOf(file.get()), state) != RecoveryStatus::Ok) {
            return false;
        }
    }
    if (!state.Unsaved()) {
        ::DeleteFileW(path.c_str());
        return false;
    }
    const std::wstring text =
        L"上次运行在 " + LocalTime(state.written_at) + L" 还有没有保存到接缝文件的工作：屏幕参数，和 " +
        std::to_wstring(state.tuned_records) +
        L" 条增益不是 1.0 "
        L"的模组边。\n\n要恢复吗？\n“是”：恢复这些参数和增益。\n“否”：放弃它们，以后不再询问。";
    const int answer =
        ::MessageBoxW(host_.Window(), text.c_str(), L"恢复上次的工作", MB_YESNO | MB_ICONQUESTION);
    if (answer != IDYES) {
        ::DeleteFileW(path.c_str());
        return false;
    }
    InputFile file = OpenSet(path);
    const uint64_t budget = MemoryBudget();
    const RecoveryStatus status =
        file ? ReadRecoveryFile(SourceOf(file.get()), budget, state) : RecoveryStatus::Damaged;
    file.reset();
    if (status != RecoveryStatus::Ok) {
        host_.ShowMessageW(L"上次的工作无法恢复：文件 " + Quoted(path) +
                               (status == RecoveryStatus::TooLarge
                                    ? L" 的接缝数据" + std::wstring(L"超出了现在可用的内存") + L"。"
                                    : std::wstring(L" 已损坏。")) +
                               L"它留在原处，没有改动。",
                           L"warnning");
        return false;
    }
    if (!Restore(state)) {
        return false; // kept for the next start
    }
    ::DeleteFileW(path.c_str());
    return true;
}

// Fields, path and grid exactly as the ended run held them: a save now writes the bytes it would have.
bool RecoveryKeeper::Restore(RecoveryState& state) {
    if (state.has_grid && !EnsurePatternWindowObject(&host_)) {
        return false; // the owner has said so
    }
    for (size_t i = 0; i < state.fields.size() && i < sizeof(kRecoveryFields) / sizeof(kRecoveryFields[0]);
         ++i) {
        if (CControlUI* field = host_.Control(kRecoveryFields[i])) {
            field->SetText(std::wstring(state.fields[i].begin(), state.fields[i].end()).c_str());
        }
    }
    files_.RestoreCoefficientPath(std::wstring(state.coefficient_path.begin(), state.coefficient_path.end()));
    if (state.has_grid) {
        g_patternWindow->RestoreGrid(std::move(state.records), state.grid_params);
    }
    baseline_ = state.baseline_hash;
    host_.SelectionChanged();
    Touch();
    return true;
}

void RecoveryKeeper::Saved() {
    baseline_ = SeamFileHash(host_.ReadScreenParams(), HeldGrid());
    Touch(); // the set is rewritten with the new baseline, or removed
}

bool RecoveryKeeper::OnTimer(UINT_PTR id) {
    if (id == kTickTimer) {
        if (!passing_ && changes_ != written_) {
            StartPass();
        }
        return true;
    }
    if (id == kSliceTimer) {
        StepPass();
        return true;
    }
    return false;
}

void RecoveryKeeper::StartPass() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (hasJob_ || writing_) {
            return; // the writer is behind: the next second tries again
        }
    }
    const size_t size = HeldGrid().size();
    // The copy is sized by the grid: it must fit the budget like every other.
    if (static_cast<uint64_t>(size) * sizeof(SeamSegment) > MemoryBudget()) {
        ::OutputDebugStringA("recovery: the grid's copy exceeds the memory budget; not written\n");
        written_ = changes_;
        return;
    }
    try {
        mirror_.resize(size);
    } catch (const std::bad_alloc&) {
        written_ = changes_;
        return;
    }
    passing_ = true;
    passChanges_ = changes_;
    next_ = 0;
    StepPass();
    if (passing_) {
        ::SetTimer(host_.Window(), kSliceTimer, USER_TIMER_MINIMUM, nullptr);
    }
}

void RecoveryKeeper::StepPass() {
    const std::vector<SeamSegment>& grid = HeldGrid();
    if (!passing_ || changes_ != passChanges_ || grid.size() != mirror_.size()) {
        passing_ = false;
        ::KillTimer(host_.Window(), kSliceTimer);
        return;
    }
    const size_t n = std::min(kSliceRecords, grid.size() - next_);
    std::copy(grid.begin() + static_cast<std::ptrdiff_t>(next_),
              grid.begin() + static_cast<std::ptrdiff_t>(next_ + n),
              mirror_.begin() + static_cast<std::ptrdiff_t>(next_));
    next_ += n;
    if (next_ < grid.size()) {
        return;
    }
    passing_ = false;
    ::KillTimer(host_.Window(), kSliceTimer);
    written_ = passChanges_;
    Job job = TakeJob(std::move(mirror_));
    mirror_ = std::vector<SeamSegment>();
    std::lock_guard<std::mutex> guard(lock_);
    job_ = std::move(job);
    hasJob_ = true;
    wake_.notify_one();
}

RecoveryKeeper::Job RecoveryKeeper::TakeJob(std::vector<SeamSegment>&& records) {
    Job job;
    for (const wchar_t* name : kRecoveryFields) {
        CControlUI* field = host_.Control(name);
        job.state.fields.push_back(field != nullptr ? U16(field->GetText().GetData()) : std::u16string());
    }
    job.state.coefficient_path = U16(files_.CoefficientPath());
    job.state.has_grid = g_patternWindow != nullptr;
    job.state.grid_params = g_patternWindow != nullptr ? g_patternWindow->GridParams() : ScreenParams{};
    job.state.records = std::move(records);
    job.state.baseline_hash = baseline_;
    job.header = host_.ReadScreenParams();
    return job;
}

// On the writer's thread: the hashes, then the set replaced in one step (temporary file, flush,
// rename), or removed when a seam file holds all of it.
void RecoveryKeeper::Write(Job& job) {
    RecoveryState& s = job.state;
    s.content_hash = SeamFileHash(job.header, s.records);
    s.tuned_records = TunedRecordCount(s.records);
    s.written_at = Now();
    const std::wstring path = SetPath(id_);
    if (!s.Unsaved()) {
        if (lastContent_ != 0) {
            ::DeleteFileW(path.c_str());
        }
        lastContent_ = 0;
        return;
    }
    if (s.content_hash == lastContent_ && s.baseline_hash == lastBaseline_ && s.fields == lastFields_ &&
        s.coefficient_path == lastPath_) {
        return; // the set on disk says the same
    }
    ::CreateDirectoryW(folder_.c_str(), nullptr); // emptied by hand meanwhile, perhaps
    std::wstring why;
    if (ReplaceFileContents(
            path, [&](const ByteSink& sink) { return WriteRecoveryFile(s, sink); }, why)) {
        lastContent_ = s.content_hash;
        lastBaseline_ = s.baseline_hash;
        lastFields_ = s.fields;
        lastPath_ = s.coefficient_path;
    } else {
        ::OutputDebugStringW((L"recovery: " + path + L": " + why + L"\n").c_str());
    }
}

void RecoveryKeeper::WriterLoop() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        wake_.wait(guard, [&] { return hasJob_ || stop_; });
        if (!hasJob_) {
            return; // stopped with nothing left to write
        }
        Job job = std::move(job_);
        hasJob_ = false;
        writing_ = true;
        guard.unlock();
        try {
            Write(job);
        } catch (const std::exception&) {
            // Memory for the encoding could not be had: the set on disk stays as it was, and the
            // next change tries again.
            ::OutputDebugStringA("recovery: the set could not be written\n");
        }
        guard.lock();
        writing_ = false;
        wake_.notify_all();
    }
}

void RecoveryKeeper::StopWriter() {
    if (!writer_.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    writer_.join();
}

// The last second's changes are written here, on the window's thread, once the writer has finished:
// a close without saving must leave them for the next start.
void RecoveryKeeper::Finish() {
    if (folder_.empty()) {
        return;
    }
    ::KillTimer(host_.Window(), kTickTimer);
    ::KillTimer(host_.Window(), kSliceTimer);
    passing_ = false;
    StopWriter();
    if (static_cast<uint64_t>(HeldGrid().size()) * sizeof(SeamSegment) > MemoryBudget()) {
        return; // as during the run: the set on disk stays what it was
    }
    Job job = TakeJob(std::vector<SeamSegment>(HeldGrid()));
    Write(job);
    folder_.clear();
}
