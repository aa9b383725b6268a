// "btn_send_to_hardware": the upload runs on a worker thread behind the modal progress window.
#include "app/main_frame.h"
#include "hardware/send_seam_data.h"
#include "hardware/thread_win.h"
#include "lib/baselib/memory_budget.h"
#include "lib/uilib/thread_msg_wnd.h"
#include "seam/pattern_window_win.h"

namespace {

using SendThread = CEasyUseThread<MainFrame, ExtendUILib::CTreadMsgWndUI*>;

class WindowProgress final : public SendProgress {
public:
    explicit WindowProgress(ExtendUILib::CTreadMsgWndUI& window) : window_(window) {}
    void Trace(const std::wstring& line) override { window_.Trace(L"%ls", line.c_str()); }
    void Progress(uint64_t done, uint64_t total) override { window_.SetProgress(done, total); }

private:
    ExtendUILib::CTreadMsgWndUI& window_;
};

} // namespace

void MainFrame::OnSendToHardware() {
    ExtendUILib::CTreadMsgWndUI progress;
    progress.SetwParam(0);
    progress.SetlParam(0);
    auto* thread = new SendThread(this, &MainFrame::SendToHardwareProc, &progress);
    progress.SetThread(static_cast<IBaseThread*>(thread));
    workerRunning_ = true;
    progress.Domodal(hwnd_);
    // The worker is never killed: it may hold a lock, and its cards their open gates. It ends on its
    // own (every device call has a deadline); until then its requests for the snapshot are answered.
    thread->WaitServingSentMessages();
    delete thread;
    workerRunning_ = false;
    if (closePending_) {
        closePending_ = false;
        ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    }
}

void MainFrame::AnswerSnapshotRequest() {
    {
        std::lock_guard<std::mutex> guard(snapshotLock_);
        if (!snapshotWanted_) {
            return; // not asked for by our worker
        }
    }
    SendSnapshot taken;
    TakeSendSnapshot(taken);
    std::lock_guard<std::mutex> guard(snapshotLock_);
    snapshot_ = std::move(taken);
}

// The edit fields and the grid belong to the main window's thread: the worker asks that thread for its
// copy instead of reading them while they may change.
void MainFrame::TakeSendSnapshot(SendSnapshot& snapshot) {
    snapshot.has_pattern = g_patternWindow != nullptr;
    if (!snapshot.has_pattern) {
        return;
    }
    snapshot.params = ReadScreenParams();
    const uint64_t bytes = static_cast<uint64_t>(g_patternWindow->grid.Size()) * sizeof(SeamSegment);
    snapshot.too_large = bytes > MemoryBudget();
    if (!snapshot.too_large) {
        snapshot.segments = g_patternWindow->grid.CopySeamGrid();
    }
}

void MainFrame::SendToHardwareProc(ExtendUILib::CTreadMsgWndUI* progress) {
    {
        std::lock_guard<std::mutex> guard(snapshotLock_);
        snapshotWanted_ = true;
        snapshot_ = SendSnapshot{};
    }
    ::SendMessageW(hwnd_, WM_SEND_SNAPSHOT, 0, 0);
    SendSnapshot snapshot;
    {
        std::lock_guard<std::mutex> guard(snapshotLock_);
        snapshotWanted_ = false;
        snapshot = std::move(snapshot_);
    }
    if (!snapshot.has_pattern) {
        progress->Close(true);
        return;
    }
    progress->Trace(L"sending");
    if (snapshot.too_large) {
        progress->Trace(L"memory errer");
        progress->Close(true);
        return;
    }
    WindowProgress shown(*progress);
    const SendOutcome outcome =
        SendSeamData(commManager, snapshot.params, snapshot.segments, MemoryBudget(), shown);
    progress->Close(true);
    if (outcome != SendOutcome::MemoryError) {
        ::PostMessageW(hwnd_, WM_SEND_RESULT, outcome == SendOutcome::DeviceError ? 1 : 0, 0);
    }
}
