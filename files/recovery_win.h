#pragma once

// Nothing the operator did is lost to a crash, a killed process or a close without saving: each run
// keeps a recovery set of its own in %LOCALAPPDATA%\Veltra-Seam\recovery and writes it again, in the
// background, within a second of every change. The next start offers what an earlier run left unsaved.

#include "files/file_commands_win.h"
#include "files/recovery_file.h"
#include "lib/baselib/raii_win.h"
#include "seam/window_owner_win.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Posted by the main window to itself once it shows: the start-up question comes from its own loop.
constexpr UINT WM_RECOVERY_OFFER = 0x1009;

class RecoveryKeeper {
public:
    RecoveryKeeper(CommandHost& host, FileCommands& files) : host_(host), files_(files) {}
    ~RecoveryKeeper();
    RecoveryKeeper(const RecoveryKeeper&) = delete;
    RecoveryKeeper& operator=(const RecoveryKeeper&) = delete;

    // Once the main window exists: names this run's set, notes the state a later one is compared with,
    // and posts WM_RECOVERY_OFFER.
    void Start();
    // Offers the sets that ended runs left with unsaved work, the oldest first, until one is restored.
    void OfferLeftWork();
    // Anything may have changed (a notification, a step of the grid): a write follows within a second.
    void Touch() { ++changes_; }
    // The fields and the grid now equal a seam file, saved or imported: nothing is left to ask about.
    void Saved();
    // The main window's timers; true when `id` was one of these.
    bool OnTimer(UINT_PTR id);
    // At the end of the program: the last state written, or the set removed when a seam file holds it.
    void Finish();

private:
    struct Job {
        RecoveryState state;
        ScreenParams header; // what a save would write now
    };

    std::wstring SetPath(const std::wstring& id) const;
    bool Offer(const std::wstring& id);
    bool Restore(RecoveryState& state);
    void StartPass();
    void StepPass();
    Job TakeJob(std::vector<SeamSegment>&& records);
    void Write(Job& job);
    void WriterLoop();
    void StopWriter();

    CommandHost& host_;
    FileCommands& files_;
    std::wstring folder_; // empty: recovery is off (no per-user folder)
    std::wstring id_;
    UniqueHandle claim_; // held while this run lives: its set is not another run's to offer
    std::atomic<uint64_t> baseline_{0};
    std::atomic<uint64_t> changes_{0};
    uint64_t written_ = 0; // changes_ as of the last pass handed to the writer

    // A pass copies the grid a slice per timer tick, so that no tick holds the window for long; a
    // change during the pass abandons it, and the next second begins another.
    bool passing_ = false;
    uint64_t passChanges_ = 0;
    size_t next_ = 0;
    std::vector<SeamSegment> mirror_;

    std::thread writer_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool hasJob_ = false;
    bool writing_ = false;
    bool stop_ = false;
    Job job_;
    uint64_t lastContent_ = 0; // of the set on disk, 0 when none
    uint64_t lastBaseline_ = 0;
    std::vector<std::u16string> lastFields_;
    std::u16string lastPath_;
};
