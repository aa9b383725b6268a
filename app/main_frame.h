#pragma once

#include "lib/devicecomm/devicecomm.h"
#include "lib/uilib/thread_msg_wnd.h"
#include "lib/uilib/uilib.h"
#include "remote/wire_format.h"
#include "seam/screen_params.h"
#include "seam/seam_grid.h"

#include <mutex>
#include <string>
#include <vector>

constexpr wchar_t kMainWindowClass[] = L"VELTRA_SEAM_MAINFRAM";
constexpr wchar_t kMainWindowTitle[] = L"Veltra-Seam V1.0";

// Messages with which background work reports to the main window. None carries a pointer: any program
// can send a window message here, so what crosses threads waits in a locked place of this process and
// the message only says that it is there.
constexpr UINT WM_SOCKET_EVENT = 0x0401;
// Posted to the server's worker window: the replay has room again for what a held-back socket sends.
constexpr UINT WM_REPLAY_RESUME = 0x0402;
constexpr UINT WM_SERVER_STARTED = 0x1000;
constexpr UINT WM_CLIENT_ACCEPTED = 0x1001;
constexpr UINT WM_SEND_RESULT = 0x1003;
// Sent by the send worker to the main window's thread for its copy of the fields and the grid, which
// it leaves in the main window's snapshot slot.
constexpr UINT WM_SEND_SNAPSHOT = 0x1004;
// Posted by the server thread: packets wait in the replay queue.
constexpr UINT WM_REPLAY_WAKE = 0x1005;
// Asked by the automation tool: what the server replayed (wParam: 0 inputs, 1 dropped inputs, 2
// notifications, 3 and 4 the low and high half of a running hash of the inputs in order).
constexpr UINT WM_REPLAY_STATS = 0x1007;

struct SendSnapshot {
    bool has_pattern = false;
    bool too_large = false; // the grid's copy would exceed the memory budget
    ScreenParams params;
    std::vector<SeamSegment> segments;
};

// The operator's form and the owner of every command: one per process.
class MainFrame : public WindowImplBase {
public:
    MainFrame();
    ~MainFrame() override;

    LPCWSTR GetWindowClassName() const override { return kMainWindowClass; }
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hwnd) override;
    void InitWindow() override {}
    CDuiString GetSkinFolder() override { return CDuiString(L""); }
    CDuiString GetSkinFile() override { return CDuiString(L"xml\\VTSeamFrame.xml"); }
    UINT GetResourceType() const override { return 1; }
    LRESULT OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) override;
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) override;
    void Notify(TNotifyUI& msg) override;
    CControlUI* CreateLayoutControl(LPCWSTR tag) override;

    // Switches the cards' seam correction; "device errer" and false when the device cannot be opened.
    bool EnableCorrection(bool on);

    ScreenParams ReadScreenParams();
    void ShowScreenParams(const ScreenParams& params);
    void OpenManual();

    // Hardware commands.
    void OnSendToHardware();
    void SendToHardwareProc(ExtendUILib::CTreadMsgWndUI* progress);
    void TakeSendSnapshot(SendSnapshot& snapshot);
    void AnswerSnapshotRequest();
    void OnSolidify();
    void OnReadBack();

    // Remote link.
    void OnClientConnectClick();
    void MirrorNotification(const TNotifyUI& msg);
    void StartServer();
    void OnServerStarted(WPARAM address, LPARAM port);
    void OnClientAccepted(WPARAM address);
    void DrainReplay();
    void ReplayNotification(const NotifyRecord& record);
    void ReplayInput(const std::vector<WirePacket>& inputs);
    void DisconnectClient();
    LRESULT ReplayStatistic(WPARAM which);
    void CloseRemoteSockets();

    // File commands.
    void SaveSeamFile();
    void ImportSeamFile();
    void ChooseCoefficientFile();

    // Correction from a photo of the wall.
    void CorrectFromPhotoCommand();

    // Why the window could not be created; kept outside the object, which is gone by then.
    static const std::wstring& CreationError();

    int listenSocket = -1;
    int clientSocket = -1;
    bool isServerStarted = false;
    bool isClientConnected = false;
    HWND workerWindow = nullptr;
    bool hasCoefficientFile = false;
    std::wstring coefficientPath;
    CCommInstMan commManager;

    struct ReplayStats {
        uint64_t inputs = 0;
        uint64_t dropped = 0;
        uint64_t notifications = 0;
        uint64_t hash = 14695981039346656037ull; // FNV-1a over the inputs' 12 bytes each, in order
    } replayStats;

private:
    friend class BusyScope;
    void Release();
    void OnClickNotify(const std::wstring& sender);
    void OnScreenControl();
    void OnSelectChanged(CControlUI* sender, const std::wstring& name);
    void UpdateCaptionButtons();
    CControlUI* Control(const wchar_t* name);

    // Frames of this window's message handling on the stack: the object outlives the last of them.
    int busyDepth_ = 0;
    bool finalPending_ = false;
    // A close asked for while the send worker runs waits for it.
    bool workerRunning_ = false;
    bool closePending_ = false;
    // Replayed notifications whose handlers have not returned, and the depth at which one of them runs
    // the pattern window's loop (inside it, the replay goes on).
    int replayDepth_ = 0;
    int patternReplayDepth_ = 0;
    // The send worker's copy of the fields and the grid, asked for with WM_SEND_SNAPSHOT.
    std::mutex snapshotLock_;
    bool snapshotWanted_ = false;
    SendSnapshot snapshot_;
};

// The single main window object; null before start-up creates it and after its window is gone.
extern MainFrame* g_mainFrame;

// Message boxes of the commands: ANSI texts, OK only, owned by the main window, English (US).
void ShowMainMessage(const char* text, const char* caption);
// The same for messages that name files or sizes: wide text, so that a path in Chinese reads as it is.
void ShowMainMessageW(const std::wstring& text, const wchar_t* caption = L"warnning");

// Builds the pattern window object's grid for `params` as opening the window would, then gives every
// record its gain from `gains` (grid order): the one step in which a photo changes the grid.
void InstallPhotoGains(const ScreenParams& params, const std::vector<float>& gains);

// Every control name the dispatch relies on; a layout lacking one is refused at start-up.
extern const wchar_t* const kMainControlNames[];
extern const size_t kMainControlCount;
