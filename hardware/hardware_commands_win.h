#pragma once

// The main window's hardware commands: the upload behind the progress window, the correction switch,
// the permanent store and the read-back. They own the device manager and tell the main window through
// its CommandHost.

#include "hardware/send_seam_data.h"
#include "lib/devicecomm/devicecomm.h"
#include "lib/uilib/thread_msg_wnd.h"
#include "seam/screen_params.h"
#include "seam/seam_grid.h"
#include "seam/window_owner_win.h"

#include <mutex>
#include <string>
#include <vector>

// Posted by the send worker with its outcome in wParam.
constexpr UINT WM_SEND_RESULT = 0x1003;
constexpr WPARAM kSendFinished = 0;
constexpr WPARAM kSendDeviceError = 1;
constexpr WPARAM kSendMemoryError = 2;
// Sent by the send worker to the main window's thread for its copy of the fields and the grid, which
// it leaves in the snapshot slot.
constexpr UINT WM_SEND_SNAPSHOT = 0x1004;

struct SendSnapshot {
    bool has_pattern = false;
    bool too_large = false; // the grid's copy would exceed the memory budget
    ScreenParams params;
    std::vector<SeamSegment> segments;
};

class HardwareCommands {
public:
    explicit HardwareCommands(CommandHost& host);
    HardwareCommands(const HardwareCommands&) = delete;
    HardwareCommands& operator=(const HardwareCommands&) = delete;

    // Switches the cards' seam correction and waits for their answer; "device errer" and false when the
    // device cannot be opened or the cards did not take the switch.
    bool EnableCorrection(bool on);
    // "btn_send_to_hardware": returns once the progress window is closed and the worker has ended.
    void OnSendToHardware();
    // The worker's request for the snapshot, and its outcome, on the main window's thread.
    void AnswerSnapshotRequest();
    void ShowSendResult(WPARAM outcome);
    // A close asked for while the worker runs waits for it: true when this one was held back.
    bool HoldClose();
    void OnSolidify();
    // "btn_read_back" from the coefficient file chosen with the file commands.
    void OnReadBack(const std::wstring& coefficientPath);

    CCommInstMan commManager;

private:
    void SendToHardwareProc(ExtendUILib::CTreadMsgWndUI* progress);
    // The upload itself; `report` is cleared when there is nothing to tell (no pattern window object).
    SendOutcome SendWork(ExtendUILib::CTreadMsgWndUI* progress, bool& report);
    void TakeSendSnapshot(SendSnapshot& snapshot);

    CommandHost& host_;
    // A close asked for while the send worker runs waits for it.
    bool workerRunning_ = false;
    bool closePending_ = false;
    // The send worker's copy of the fields and the grid, asked for with WM_SEND_SNAPSHOT.
    std::mutex snapshotLock_;
    bool snapshotWanted_ = false;
    SendSnapshot snapshot_;
};
