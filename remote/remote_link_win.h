#pragma once

// The remote link of one instance: as client it mirrors the main window's notifications to a server and
// lends its socket to the pattern window's forwarding; as server it listens on a thread of its own and
// replays what clients send, on the main window's thread. The main window owns it and is reached only
// through RemoteLinkHost.

#include "lib/devicecomm/net.h"
#include "lib/uilib/uilib.h"
#include "remote/linked_pattern_win.h"
#include "remote/wire_format.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Messages with which the server thread reports. None carries a pointer: any program can send a window
// message here, so what crosses threads waits in a locked place of this process and the message only
// says that it is there.
constexpr UINT WM_SOCKET_EVENT = 0x0401;
// Posted to the server's worker window: the replay has room again for what a held-back socket sends.
constexpr UINT WM_REPLAY_RESUME = 0x0402;
constexpr UINT WM_SERVER_STARTED = 0x1000;
constexpr UINT WM_CLIENT_ACCEPTED = 0x1001;
// Sent by the server thread when its start failed (wParam: the ServerStartStep, lParam: the system's
// error code); everything it took is given back by then.
constexpr UINT WM_SERVER_FAILED = 0x1008;
// Posted by the server thread: packets wait in the replay queue.
constexpr UINT WM_REPLAY_WAKE = 0x1005;
// Asked by the automation tool: what the server replayed (wParam: 0 inputs, 1 dropped inputs, 2
// notifications, 3 and 4 the low and high half of a running hash of the inputs in order).
constexpr UINT WM_REPLAY_STATS = 0x1007;

// The main window's timer of a linked client's keep-alive: a server closes a connection that sends
// nothing for 30 s, and an operator who only looks at the wall sends nothing.
constexpr UINT_PTR kKeepAliveTimer = 0x4B41;
constexpr UINT kKeepAliveMs = 10000;

// The step of the server's start that failed, as WM_SERVER_FAILED names it.
enum class ServerStartStep { WorkerWindow = 1, Winsock, Socket, Bind, Listen };

inline const char* ServerStartStepName(ServerStartStep step) {
    switch (step) {
    case ServerStartStep::WorkerWindow:
        return "the worker window";
    case ServerStartStep::Winsock:
        return "WSAStartup()";
    case ServerStartStep::Socket:
        return "socket()";
    case ServerStartStep::Bind:
        return "bind()";
    case ServerStartStep::Listen:
        return "listen()";
    }
    return "?";
}

// What the link needs of the window that owns it.
class RemoteLinkHost {
public:
    // The window the server thread reports to; null once it is gone.
    virtual HWND Window() const = 0;
    virtual CControlUI* Control(const wchar_t* name) = 0;
    // A client's notification, handled as the window's own.
    virtual void Notify(TNotifyUI& msg) = 0;
    // The pattern window object, made now when `make` is set; null when there is none.
    virtual LinkedPattern* Pattern(bool make) = 0;

protected:
    ~RemoteLinkHost() = default;
};

class RemoteLink {
public:
    explicit RemoteLink(RemoteLinkHost& host) : host_(host) {}
    RemoteLink(const RemoteLink&) = delete;
    RemoteLink& operator=(const RemoteLink&) = delete;

    // Client role: "btn_connect" connects or disconnects; every notification is mirrored while linked.
    void OnClientConnectClick();
    // The operator's disconnect, and what a failed or timed-out send does: the link is gone either way.
    void DisconnectClient();
    void MirrorNotification(const TNotifyUI& msg);
    // A notification of no control, which a server drops: only the connection's idle time restarts.
    void SendKeepAlive();
    bool IsClientConnected() const { return isClientConnected; }
    // The socket the pattern window forwards its input to: the client's, -1 when not linked.
    int ForwardSocket() const;

    // Server role.
    void StartServer();
    bool IsServerStarted() const { return isServerStarted; }
    void OnServerStarted(WPARAM address, LPARAM port);
    // Shows why the start failed; the button starts again.
    void OnServerFailed(WPARAM step, LPARAM error);
    void OnClientAccepted(WPARAM address);
    void DrainReplay();
    LRESULT ReplayStatistic(WPARAM which);
    // True while a client's notification is replayed: nobody sits at this screen to answer a dialog.
    bool Replaying() const { return replayDepth_ > 0; }
    // The control whose notification is being replayed.
    const std::wstring& ReplayedCommand() const { return replayedCommand_; }
    // Runs the pattern window's modal loop: inside it the replay goes on, since the client tunes on that
    // window while it is open.
    void RunPatternLoop(const std::function<void()>& open);

    // Called by the server thread once it listens, and with its worker window.
    void ServerListening(net::Socket listener);
    void SetWorkerWindow(HWND window) { workerWindow = window; }

    void CloseSockets();

private:
    void ReplayNotification(const NotifyRecord& record, uint64_t source);
    void ReplayInput(const std::vector<WirePacket>& inputs);
    void CountInput(const WirePacket& input);

    RemoteLinkHost& host_;
    net::Socket listenSocket; // each socket holds its own Winsock start-up
    net::Socket clientSocket;
    bool isServerStarted = false;
    bool serverStarting_ = false; // a server thread runs its start: a further click waits for its end
    bool isClientConnected = false;
    std::atomic<HWND> workerWindow{nullptr};
    struct ReplayStats {
        uint64_t inputs = 0;
        uint64_t dropped = 0;
        uint64_t notifications = 0;
        uint64_t hash = 14695981039346656037ull; // FNV-1a over the inputs' 12 bytes each, in order
    } replayStats;
    // Replayed notifications whose handlers have not returned, and the depth at which one of them runs
    // the pattern window's loop (inside it, the replay goes on).
    int replayDepth_ = 0;
    int patternReplayDepth_ = 0;
    std::wstring replayedCommand_;
};
