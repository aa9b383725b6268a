// The main window's side of the server role: starting the server thread, its reports, and the replay of
// what clients send, all on the main window's own thread.
#include "remote/remote_link_win.h"
#include "remote/replay_rules.h"
#include "remote/server_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <thread>
#include <utility>

namespace {

std::wstring DottedAddress(WPARAM host_order) {
    in_addr address{};
    address.s_addr = htonl(static_cast<u_long>(host_order));
    char text[65] = "";
    ::inet_ntop(AF_INET, &address, text, sizeof(text));
    wchar_t wide[256] = L"";
    std::mbstowcs(wide, text, 255);
    return wide;
}

} // namespace

void RemoteLink::StartServer() {
    if (isServerStarted || serverStarting_) {
        return;
    }
    if (host_.Pattern(true) == nullptr) {
        return; // the server replays into the pattern window object: none, no server
    }
    serverStarting_ = true;
    std::thread(ServerThreadProc, this, host_.Window()).detach();
}

void RemoteLink::OnServerFailed(WPARAM step, LPARAM error) {
    serverStarting_ = false;
    wchar_t text[256];
    if (static_cast<ServerStartStep>(step) == ServerStartStep::Bind && error == WSAEADDRINUSE) {
        _snwprintf(text, 256, L"启动失败：端口 6666 已被其他程序占用（错误 %d）", static_cast<int>(error));
    } else {
        const char* name = ServerStartStepName(static_cast<ServerStartStep>(step));
        _snwprintf(text, 256, L"启动失败：%hs 出错（错误 %d）", name, static_cast<int>(error));
    }
    text[255] = L'\0';
    host_.Control(L"lab_state")->SetText(text);
}

void RemoteLink::ServerListening(net::Socket listener) {
    listenSocket = std::move(listener);
}

void RemoteLink::OnServerStarted(WPARAM address, LPARAM port) {
    isServerStarted = true;
    serverStarting_ = false;
    host_.Control(L"edt_ip")->SetText(DottedAddress(address).c_str());
    wchar_t text[256];
    _snwprintf(text, 256, L"%d", static_cast<int>(port));
    text[255] = L'\0';
    host_.Control(L"edt_port")->SetText(text);
    host_.Control(L"lab_state")->SetText(L"已启动！");
    host_.Control(L"btn_connect")->SetEnabled(false);
}

void RemoteLink::OnClientAccepted(WPARAM address) {
    wchar_t text[256];
    _snwprintf(text, 256, L"客户端 %ls 已连接", DottedAddress(address).c_str());
    text[255] = L'\0';
    host_.Control(L"lab_state")->SetText(text);
}

// The allow-list writes the numbers out.
static_assert(WM_SEAM_UNDO == 0x8101 && WM_SEAM_REDO == 0x8102, "undo and redo as the allow-list knows them");

namespace {

// Marks what the pattern window object records while a client's packet is replayed.
class ReplayingScope {
public:
    ReplayingScope(RemoteLinkHost& host, uint64_t source) : host_(host), object_(host.Pattern(false)) {
        if (object_ != nullptr) {
            previous_ = object_->SetReplaying(source);
        }
    }
    ~ReplayingScope() {
        if (object_ != nullptr && object_ == host_.Pattern(false)) {
            object_->SetReplaying(previous_);
        }
    }
    ReplayingScope(const ReplayingScope&) = delete;
    ReplayingScope& operator=(const ReplayingScope&) = delete;

private:
    RemoteLinkHost& host_;
    LinkedPattern* object_;
    uint64_t previous_ = 0;
};

} // namespace

void RemoteLink::RunPatternLoop(const std::function<void()>& open) {
    const int outer = patternReplayDepth_;
    patternReplayDepth_ = replayDepth_; // the replay goes on inside this window's loop
    if (replayDepth_ > 0 && Replay().Size() > 0) {
        // What arrived with the click that opens the window waits in the queue, and no new wake comes
        // for it: the window's loop is woken for it at once, not by the client's next packet.
        ::PostMessageW(host_.Window(), WM_REPLAY_WAKE, 0, 0);
    }
    // The window's loop runs inside the replay of the click that opened it, but what the wall operator
    // does in it is the operator's own; each packet replayed inside marks itself.
    LinkedPattern* object = host_.Pattern(false);
    const uint64_t replaying = object != nullptr ? object->SetReplaying(0) : 0;
    open();
    if (object != nullptr && object == host_.Pattern(false)) {
        object->SetReplaying(replaying);
    }
    patternReplayDepth_ = outer;
}

// Replays what waits, in stream order. A replayed notification whose handler runs a modal loop of its
// own (a message box, a dialog, the progress window) is not entered again from that loop: what follows
// waits until the handler has returned. Inside the pattern window's loop the replay goes on, since the
// client tunes on that window while it is open.
void RemoteLink::DrainReplay() {
    if (replayDepth_ > 0 && replayDepth_ != patternReplayDepth_) {
        return; // the handler that runs will come back to the queue
    }
    std::vector<WirePacket> packets;
    bool resume = false;
    while (host_.Window() != nullptr && Replay().Pop(packets, resume)) {
        const HWND worker = workerWindow;
        if (resume && worker != nullptr) {
            ::PostMessageW(worker, WM_REPLAY_RESUME, 0, 0);
        }
        if (packets.front().is_notification) {
            ++replayDepth_;
            ReplayNotification(packets.front().notification, packets.front().source);
            --replayDepth_;
        } else {
            ReplayInput(packets);
        }
    }
}

void RemoteLink::ReplayNotification(const NotifyRecord& record, uint64_t source) {
    if (record.sender_name.empty()) {
        return; // a client's keep-alive: it kept the connection from counting as idle, nothing more
    }
    CControlUI* sender = host_.Control(record.sender_name.c_str());
    if (sender == nullptr) {
        return; // names no control here: neither handled nor mirrored
    }
    const ReplayingScope replaying(host_, source);
    ++replayStats.notifications;
    if (dynamic_cast<CEditUI*>(sender) != nullptr) {
        sender->SetText(record.sender_text.c_str()); // the client's field, before its notification runs
    }
    if (auto* option = dynamic_cast<COptionUI*>(sender)) {
        const bool selected = record.type == L"selectchanged";
        if (selected || record.type == L"unselected") {
            const bool role = record.sender_name == L"btn_client" || record.sender_name == L"btn_server";
            if (role && isServerStarted) {
                return; // a client cannot turn the server it talks to into something else
            }
            // The box takes the state the click gave it on the client before the handler reads it.
            if (auto* box = dynamic_cast<CCheckBoxUI*>(sender)) {
                box->SetCheck((record.wparam & 1) != 0, false);
            } else {
                option->Selected(selected, false);
            }
        }
    }
    TNotifyUI msg;
    msg.sType = record.type;
    msg.sVirtualWnd = record.virtual_window;
    msg.pSender = sender;
    msg.dwTimestamp = record.timestamp;
    msg.ptMouse = POINT{record.x, record.y};
    msg.wParam = record.wparam;
    msg.lParam = static_cast<int32_t>(record.lparam);
    const std::wstring outer = replayedCommand_; // a replay nested in a replayed pattern window
    replayedCommand_ = record.sender_name;
    host_.Notify(msg);
    replayedCommand_ = outer;
}

void RemoteLink::ReplayInput(const std::vector<WirePacket>& inputs) {
    // The server's own cursor follows the client's, over the same point of the pattern. Moves that
    // arrived together take the cursor to the last of them in one step: the pointer cannot be seen at
    // a place it held for microseconds, and each step costs a round trip to the display. A move is
    // always made before a later input of another kind is delivered.
    HWND moved_over = nullptr;
    POINT cursor{};
    const auto move_cursor = [&] {
        if (moved_over != nullptr) {
            ::ClientToScreen(moved_over, &cursor);
            ::SetCursorPos(cursor.x, cursor.y);
            moved_over = nullptr;
        }
    };
    const ReplayingScope replaying(host_, inputs.front().source);
    for (const WirePacket& input : inputs) {
        uint32_t wparam = input.wparam;
        const bool accepted = AcceptReplayInput(input.message, wparam, input.lparam);
        LinkedPattern* object = host_.Pattern(false);
        if (object != nullptr) {
            object->SetReplaying(input.source); // a run of inputs may hold several clients' in turn
        }
        if (accepted && (input.message == WM_SEAM_UNDO || input.message == WM_SEAM_REDO) &&
            object != nullptr) {
            // The client's history, not its window: an undo in the client's main window reaches a
            // server whose pattern window is closed as well.
            move_cursor();
            ++replayStats.inputs;
            object->ReplayUndo(input.message == WM_SEAM_REDO, wparam);
            continue;
        }
        const HWND pattern = object != nullptr ? object->ReplayWindow() : nullptr;
        if (pattern == nullptr || !::IsWindow(pattern) || !accepted) {
            ++replayStats.dropped; // nothing for this window to act on, or nothing a client forwards
            continue;
        }
        CountInput(input);
        if (input.message == WM_MOUSEMOVE) {
            // x and y are the low and high 16 bits, unsigned: a negative x arrives far to the right.
            cursor = POINT{static_cast<LONG>(input.lparam & 0xFFFF), static_cast<LONG>(input.lparam >> 16)};
            moved_over = pattern;
            continue;
        }
        move_cursor();
        ::SendMessageW(pattern, input.message, wparam, static_cast<int32_t>(input.lparam));
    }
    move_cursor();
}

void RemoteLink::CountInput(const WirePacket& input) {
    ++replayStats.inputs;
    for (const uint32_t v : {input.message, input.wparam, input.lparam}) {
        for (int shift = 0; shift < 32; shift += 8) {
            replayStats.hash = (replayStats.hash ^ ((v >> shift) & 0xFF)) * 1099511628211ull;
        }
    }
}

LRESULT RemoteLink::ReplayStatistic(WPARAM which) {
    switch (which) {
    case 0:
        return static_cast<LRESULT>(replayStats.inputs);
    case 1:
        return static_cast<LRESULT>(replayStats.dropped);
    case 2:
        return static_cast<LRESULT>(replayStats.notifications);
    case 3:
        return static_cast<LRESULT>(replayStats.hash & 0xFFFFFFFF);
    case 4:
        return static_cast<LRESULT>(replayStats.hash >> 32);
    default:
        return 0;
    }
}

void RemoteLink::CloseSockets() {
    listenSocket.Close();
    clientSocket.Close();
}
