// The main window's side of the server role: starting the server thread, its reports, and the replay of
// what clients send, all on the main window's own thread.
#include "app/main_frame.h"
#include "remote/replay_rules.h"
#include "remote/server_win.h"
#include "seam/pattern_window_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <thread>

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

void MainFrame::StartServer() {
    if (isServerStarted) {
        return;
    }
    if (!EnsurePatternWindowObject()) {
        return;
    }
    std::thread(ServerThreadProc, this, g_patternWindow).detach();
}

void MainFrame::OnServerStarted(WPARAM address, LPARAM port) {
    isServerStarted = true;
    Control(L"edt_ip")->SetText(DottedAddress(address).c_str());
    wchar_t text[256];
    _snwprintf(text, 256, L"%d", static_cast<int>(port));
    text[255] = L'\0';
    Control(L"edt_port")->SetText(text);
    Control(L"lab_state")->SetText(L"已启动！");
    Control(L"btn_connect")->SetEnabled(false);
}

void MainFrame::OnClientAccepted(WPARAM address) {
    wchar_t text[256];
    _snwprintf(text, 256, L"客户端 %ls 已连接", DottedAddress(address).c_str());
    text[255] = L'\0';
    Control(L"lab_state")->SetText(text);
}

// Replays what waits, in stream order. A replayed notification whose handler runs a modal loop of its
// own (a message box, a dialog, the progress window) is not entered again from that loop: what follows
// waits until the handler has returned. Inside the pattern window's loop the replay goes on, since the
// client tunes on that window while it is open.
void MainFrame::DrainReplay() {
    if (replayDepth_ > 0 && replayDepth_ != patternReplayDepth_) {
        return; // the handler that runs will come back to the queue
    }
    std::vector<WirePacket> packets;
    bool resume = false;
    while (hwnd_ != nullptr && Replay().Pop(packets, resume)) {
        if (resume && workerWindow != nullptr) {
            ::PostMessageW(workerWindow, WM_REPLAY_RESUME, 0, 0);
        }
        if (packets.front().is_notification) {
            ++replayDepth_;
            ReplayNotification(packets.front().notification);
            --replayDepth_;
        } else {
            ReplayInput(packets);
        }
    }
}

void MainFrame::ReplayNotification(const NotifyRecord& record) {
    CControlUI* sender = Control(record.sender_name.c_str());
    if (sender == nullptr) {
        return; // names no control here: neither handled nor mirrored
    }
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
    Notify(msg);
}

void MainFrame::ReplayInput(const std::vector<WirePacket>& inputs) {
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
    for (const WirePacket& input : inputs) {
        const HWND pattern = g_patternWindow != nullptr ? g_patternWindow->GetHWND() : nullptr;
        uint32_t wparam = input.wparam;
        if (pattern == nullptr || !::IsWindow(pattern) ||
            !AcceptReplayInput(input.message, wparam, input.lparam)) {
            ++replayStats.dropped; // nothing for this window to act on, or nothing a client forwards
            continue;
        }
        ++replayStats.inputs;
        for (const uint32_t v : {input.message, input.wparam, input.lparam}) {
            for (int shift = 0; shift < 32; shift += 8) {
                replayStats.hash = (replayStats.hash ^ ((v >> shift) & 0xFF)) * 1099511628211ull;
            }
        }
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

LRESULT MainFrame::ReplayStatistic(WPARAM which) {
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

void MainFrame::CloseRemoteSockets() {
    if (listenSocket != -1) {
        ::closesocket(static_cast<SOCKET>(listenSocket));
        ::WSACleanup();
        listenSocket = -1;
    }
    if (clientSocket != -1) {
        ::closesocket(static_cast<SOCKET>(clientSocket));
        ::WSACleanup();
        clientSocket = -1;
    }
}
