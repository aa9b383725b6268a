// "btn_send_to_hardware": the upload runs on a worker thread behind the modal progress window. The
// switch lives here too; the store and the read-back are in store_and_read_back_win.cpp.
#include "hardware/hardware_commands_win.h"

#include "hardware/correction_switch.h"
#include "hardware/send_seam_data.h"
#include "hardware/thread_win.h"
#include "lib/baselib/memory_budget.h"
#include "lib/baselib/raii_win.h"
#include "lib/devicecomm/devicecomm_ini.h"
#include "seam/pattern_window_win.h"

namespace {

using SendThread = CEasyUseThread<HardwareCommands, ExtendUILib::CTreadMsgWndUI*>;

class WindowProgress final : public SendProgress {
public:
    explicit WindowProgress(ExtendUILib::CTreadMsgWndUI& window) : window_(window) {}
    void Trace(const std::wstring& line) override { window_.Trace(L"%ls", line.c_str()); }
    void Progress(uint64_t done, uint64_t total) override { window_.SetProgress(done, total); }

private:
    ExtendUILib::CTreadMsgWndUI& window_;
};

} // namespace

HardwareCommands::HardwareCommands(CommandHost& host) : commManager(ReadDeviceSettings()), host_(host) {}

// Every card is written, and a silent controller takes its time-outs: seconds on a large wall.
bool HardwareCommands::EnableCorrection(bool on) {
    bool switched = false;
    {
        const WaitCursor busy;
        switched = SwitchCorrection(commManager, on);
    }
    if (!switched) {
        host_.ShowMessage("device errer", "warnning");
        return false;
    }
    return true;
}

void HardwareCommands::OnSendToHardware() {
    ExtendUILib::CTreadMsgWndUI progress;
    progress.SetwParam(0);
    progress.SetlParam(0);
    auto* thread = new SendThread(this, &HardwareCommands::SendToHardwareProc, &progress);
    progress.SetThread(static_cast<IBaseThread*>(thread));
    workerRunning_ = true;
    progress.Domodal(host_.Window());
    // The worker is never killed: it may hold a lock, and its cards their open gates. It ends on its
    // own (every device call has a deadline); until then its requests for the snapshot are answered.
    thread->WaitServingSentMessages();
    delete thread;
    workerRunning_ = false;
    if (closePending_) {
        closePending_ = false;
        ::PostMessageW(host_.Window(), WM_CLOSE, 0, 0);
    }
}

bool HardwareCommands::HoldClose() {
    if (workerRunning_) {
        closePending_ = true;
    }
    return workerRunning_;
}

void HardwareCommands::ShowSendResult(WPARAM outcome) {
    if (outcome == kSendDeviceError) {
        host_.ShowMessage("device errer", "warnning");
    } else if (outcome == kSendMemoryError) {
        host_.ShowMessage("memory errer", "warnning");
    } else {
        host_.ShowMessage("send seam data finish", " ");
    }
}

void HardwareCommands::AnswerSnapshotRequest() {
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
void HardwareCommands::TakeSendSnapshot(SendSnapshot& snapshot) {
    snapshot.has_pattern = g_patternWindow != nullptr;
    if (!snapshot.has_pattern) {
        return;
    }
    snapshot.params = host_.ReadScreenParams();
    const uint64_t bytes = static_cast<uint64_t>(g_patternWindow->Grid().Size()) * sizeof(SeamSegment);
    snapshot.too_large = bytes > MemoryBudget();
    if (!snapshot.too_large) {
        snapshot.segments = g_patternWindow->Grid().CopySeamGrid();
    }
}

// Whatever ends the work, an exception included, the progress window closes and the main window is
// told: a progress window left open over the disabled main window could not be closed by anyone.
void HardwareCommands::SendToHardwareProc(ExtendUILib::CTreadMsgWndUI* progress) {
    bool report = true;
    const SendOutcome outcome = GuardedSend([&] { return SendWork(progress, report); });
    progress->Close(true);
    if (report) {
        const WPARAM result = outcome == SendOutcome::DeviceError   ? kSendDeviceError
                              : outcome == SendOutcome::MemoryError ? kSendMemoryError
                                                                    : kSendFinished;
        ::PostMessageW(host_.Window(), WM_SEND_RESULT, result, 0);
    }
}

SendOutcome HardwareCommands::SendWork(ExtendUILib::CTreadMsgWndUI* progress, bool& report) {
    {
        std::lock_guard<std::mutex> guard(snapshotLock_);
        snapshotWanted_ = true;
        snapshot_ = SendSnapshot{};
    }
    ::SendMessageW(host_.Window(), WM_SEND_SNAPSHOT, 0, 0);
    SendSnapshot snapshot;
    {
        std::lock_guard<std::mutex> guard(snapshotLock_);
        snapshotWanted_ = false;
        snapshot = std::move(snapshot_);
    }
    if (!snapshot.has_pattern) {
        report = false; // nothing was tuned, nothing to send or to say
        return SendOutcome::Finished;
    }
    progress->Trace(L"sending");
    if (snapshot.too_large) {
        progress->Trace(L"memory errer");
        return SendOutcome::MemoryError;
    }
    WindowProgress shown(*progress);
    return SendSeamData(commManager, snapshot.params, snapshot.segments, MemoryBudget(), shown);
}
