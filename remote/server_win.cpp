// The server role: listen on port 6666, accept up to eight clients, and hand what they send to the
// main window's thread, which replays it.
#include "remote/server_win.h"

#include "lib/baselib/memory_budget.h"
#include "remote/remote_link_win.h"
#include "remote/replay_rules.h"
#include "remote/wire_format.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdarg>
#include <cstdio>
#include <new>
#include <utility>
#include <vector>

namespace {

constexpr u_short kServerPort = 6666;
constexpr wchar_t kWorkerClass[] = L"AsyncSelect";
constexpr int kBacklog = 5;
constexpr DWORD kReceiveSize = 8192;
constexpr int kMaxConnections = 8;
// A connection that completes no packet for this long is closed: a peer that sleeps, lost its cable or
// holds a connection open without using it must not keep a place of the eight. A linked client sends
// a keep-alive at least every 10 s while it has nothing else to send.
constexpr ULONGLONG kIdleLimitMs = 30000;
constexpr UINT kIdleSweepMs = 5000;
constexpr UINT_PTR kIdleTimer = 1;
// The packets one receive can complete: its bytes as input packets, the smallest, after the rest of a
// packet begun by the receive before.
constexpr size_t kPacketsPerReceive = (kReceiveSize + 255) / kInputPacketSize + 1;
// Received and not yet replayed: a client that sends faster than the replay goes waits in TCP.
constexpr size_t kReplayCapacity = 1024;

// One accepted connection. Each receive fills the buffer from its start; the receiver keeps a packet
// whose rest has not arrived yet.
struct SOCKET_INFORMATION {
    CHAR Buffer[kReceiveSize];
    WSABUF DataBuf;
    SOCKET Socket;
    SOCKET_INFORMATION* Next;
    WireReceiver receiver;
    bool held_back;           // a read event came while the replay queue was full: read when it has room
    ULONGLONG last_packet_ms; // when its latest packet was completed, or it was accepted
    uint64_t serial;          // numbers its packets: a client's undo takes back that client's steps only
};

// Touched on the server thread only.
SOCKET_INFORMATION* g_socketList = nullptr;
uint64_t g_connectionSerial = 0;
SOCKET g_listener = INVALID_SOCKET;
HWND g_serverMainWindow = nullptr;

// Every diagnostic goes out at once: a line still in the buffer is lost when the process is ended.
void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

// False when the record cannot be had; the socket is then closed, since nothing could follow its stream.
bool AddSocketInformation(SOCKET s) {
    void* memory = sizeof(SOCKET_INFORMATION) <= MemoryBudget()
                       ? ::GlobalAlloc(GPTR, sizeof(SOCKET_INFORMATION))
                       : nullptr;
    if (memory == nullptr) {
        Say("GlobalAlloc() failed with error %d\n", static_cast<int>(::GetLastError()));
        ::closesocket(s);
        return false;
    }
    Say("GlobalAlloc() for SOCKET_INFORMATION is OK!\n");
    auto* info = new (memory) SOCKET_INFORMATION();
    info->Socket = s;
    info->last_packet_ms = ::GetTickCount64();
    info->serial = ++g_connectionSerial;
    info->Next = g_socketList;
    g_socketList = info;
    return true;
}

int CountSocketInformation() {
    int n = 0;
    for (SOCKET_INFORMATION* info = g_socketList; info != nullptr; info = info->Next) {
        ++n;
    }
    return n;
}

SOCKET_INFORMATION* FindSocketInformation(SOCKET s) {
    for (SOCKET_INFORMATION* info = g_socketList; info != nullptr; info = info->Next) {
        if (info->Socket == s) {
            return info;
        }
    }
    return nullptr;
}

void RemoveSocketInformation(SOCKET s) {
    SOCKET_INFORMATION* previous = nullptr;
    for (SOCKET_INFORMATION* info = g_socketList; info != nullptr; previous = info, info = info->Next) {
        if (info->Socket == s) {
            (previous == nullptr ? g_socketList : previous->Next) = info->Next;
            ::closesocket(info->Socket);
            info->~SOCKET_INFORMATION();
            ::GlobalFree(info);
            return;
        }
    }
}

} // namespace

ReplayQueue& Replay() {
    static ReplayQueue* queue = new ReplayQueue(kReplayCapacity, kPacketsPerReceive);
    return *queue;
}

namespace {

void OnRead(SOCKET s) {
    SOCKET_INFORMATION* info = FindSocketInformation(s);
    if (info == nullptr) {
        // Its connection is gone (an event queued before its close); the handle may already name a
        // socket of another part of the program.
        return;
    }
    if (!Replay().MayReceive()) {
        info->held_back = true; // the bytes stay in TCP, which holds the client back
        return;
    }
    info->DataBuf.len = kReceiveSize;
    info->DataBuf.buf = info->Buffer;
    DWORD received = 0;
    DWORD flags = 0;
    if (::WSARecv(s, &info->DataBuf, 1, &received, &flags, nullptr, nullptr) == SOCKET_ERROR) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) {
            Say("WSARecv() failed with error %d\n", ::WSAGetLastError());
            RemoveSocketInformation(s);
        }
        return;
    }
    std::vector<WirePacket> packets;
    const bool well_formed =
        info->receiver.Receive(reinterpret_cast<const uint8_t*>(info->Buffer), received, packets);
    if (!packets.empty()) {
        info->last_packet_ms = ::GetTickCount64();
    }
    for (WirePacket& packet : packets) {
        packet.source = info->serial;
    }
    if (!packets.empty() && Replay().Push(packets)) {
        ::PostMessageW(g_serverMainWindow, WM_REPLAY_WAKE, 0, 0);
    }
    if (!well_formed) {
        Say("Malformed packet on socket %d: closing the connection\n", static_cast<int>(s));
        RemoveSocketInformation(s);
    }
}

// The replay has room again: the sockets held back are read now, since no new read event comes for
// bytes that waited.
void OnResume() {
    std::vector<SOCKET> held;
    for (SOCKET_INFORMATION* info = g_socketList; info != nullptr; info = info->Next) {
        if (info->held_back) {
            info->held_back = false;
            held.push_back(info->Socket);
        }
    }
    for (const SOCKET s : held) {
        OnRead(s);
    }
}

// Closes the connections that completed no packet within the idle limit. One held back by a full replay
// queue waits for this server, not for its peer.
void CloseIdleConnections() {
    const ULONGLONG now = ::GetTickCount64();
    std::vector<SOCKET> idle;
    for (SOCKET_INFORMATION* info = g_socketList; info != nullptr; info = info->Next) {
        if (!info->held_back && now - info->last_packet_ms >= kIdleLimitMs) {
            idle.push_back(info->Socket);
        }
    }
    for (const SOCKET s : idle) {
        Say("Socket number %d closed: no packet for %d s\n", static_cast<int>(s),
            static_cast<int>(kIdleLimitMs / 1000));
        RemoveSocketInformation(s);
    }
}

void OnAccept(HWND window, SOCKET listener) {
    sockaddr_storage peer{};
    int length = 128;
    const SOCKET s = ::accept(listener, reinterpret_cast<sockaddr*>(&peer), &length);
    if (s == INVALID_SOCKET) {
        Say("accept() failed with error %d\n", ::WSAGetLastError());
        return;
    }
    Say("accept() is OK!\n");
    if (CountSocketInformation() >= kMaxConnections) {
        // The newcomer is someone who wants to work now; the one idle longest makes room.
        SOCKET_INFORMATION* idlest = g_socketList;
        for (SOCKET_INFORMATION* info = g_socketList; info != nullptr; info = info->Next) {
            if (info->last_packet_ms < idlest->last_packet_ms) {
                idlest = info;
            }
        }
        Say("Socket number %d closed for socket number %d: %d clients are connected, it was idle longest\n",
            static_cast<int>(idlest->Socket), static_cast<int>(s), kMaxConnections);
        RemoveSocketInformation(idlest->Socket);
    }
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(&peer);
    ::SendMessageW(g_serverMainWindow, WM_CLIENT_ACCEPTED, ntohl(ipv4->sin_addr.s_addr), 0);
    if (!AddSocketInformation(s)) {
        return;
    }
    Say("Socket number %d connected\n", static_cast<int>(s));
    ::WSAAsyncSelect(s, window, WM_SOCKET_EVENT, FD_READ | FD_WRITE | FD_CLOSE);
}

LRESULT CALLBACK WorkerWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_REPLAY_RESUME) {
        OnResume();
        return 0;
    }
    if (msg == WM_TIMER && wParam == kIdleTimer) {
        CloseIdleConnections();
        return 0;
    }
    if (msg != WM_SOCKET_EVENT) {
        return ::DefWindowProcW(window, msg, wParam, lParam);
    }
    const SOCKET s = static_cast<SOCKET>(wParam);
    if (WSAGETSELECTERROR(lParam) != 0) {
        Say("Socket failed with error %d\n", WSAGETSELECTERROR(lParam));
        RemoveSocketInformation(s);
        return 0;
    }
    Say("Socket looks fine!\n");
    switch (WSAGETSELECTEVENT(lParam)) {
    case FD_READ:
        OnRead(s);
        break;
    case FD_ACCEPT:
        if (s == g_listener) {
            OnAccept(window, s);
        }
        break;
    case FD_CLOSE:
        Say("Closing socket %d\n", static_cast<int>(s));
        RemoveSocketInformation(s);
        break;
    default:
        break;
    }
    return 0;
}

HWND MakeWorkerWindow() {
    WNDCLASSW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WorkerWindowProc;
    wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kWorkerClass;
    if (::RegisterClassW(&wc) == 0) {
        const DWORD error = ::GetLastError();
        Say("RegisterClass() failed with error %d\n", static_cast<int>(error));
        ::SetLastError(error);
        return nullptr;
    }
    Say("RegisterClass() is OK!\n");
    const HWND window =
        ::CreateWindowExW(0, kWorkerClass, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    if (window == nullptr) {
        const DWORD error = ::GetLastError();
        Say("CreateWindow() failed with error %d\n", static_cast<int>(error));
        ::SetLastError(error); // for the caller's report
        return nullptr;
    }
    Say("CreateWindow() is OK!\n");
    return window;
}

} // namespace

namespace {

// The listening socket with the Winsock start-up it holds; invalid after saying why, with the step
// that failed and its error code.
net::Socket MakeListener(ServerStartStep& failed, int& error) {
    WSADATA data;
    const int started = ::WSAStartup(MAKEWORD(2, 0), &data);
    if (started != 0) {
        Say("WSAStartup() failed with error %d\n", started);
        failed = ServerStartStep::Winsock;
        error = started;
        return net::Socket();
    }
    Say("WSAStartup() is OK!\n");
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener == INVALID_SOCKET) {
        failed = ServerStartStep::Socket;
        error = ::WSAGetLastError();
        Say("socket() failed with error %d\n", error);
        ::WSACleanup();
        return net::Socket();
    }
    Say("socket() is pretty fine!\n");
    return net::Socket(static_cast<net::Native>(listener));
}

// Says why the start failed, gives back what it took (the window, its class, the socket with its
// Winsock start-up), and tells the main window: a later start then begins from nothing, as the first.
void StartFailed(RemoteLink* link, HWND window, net::Socket& listener, ServerStartStep step, int error) {
    if (step == ServerStartStep::Bind && error == WSAEADDRINUSE) {
        Say("Server start failed: port %d is in use by another program (bind() error %d)\n", kServerPort,
            error);
    } else {
        Say("Server start failed at %s: error %d\n", ServerStartStepName(step), error);
    }
    g_listener = INVALID_SOCKET;
    listener.Close();
    if (window != nullptr) {
        link->SetWorkerWindow(nullptr);
        ::DestroyWindow(window);
    }
    ::UnregisterClassW(kWorkerClass, nullptr);
    ::SendMessageW(g_serverMainWindow, WM_SERVER_FAILED, static_cast<WPARAM>(step),
                   static_cast<LPARAM>(error));
}

} // namespace

void ServerThreadProc(RemoteLink* link, HWND main) {
    g_serverMainWindow = main;
    net::Socket owned;
    const HWND window = MakeWorkerWindow();
    if (window == nullptr) {
        const int error = static_cast<int>(::GetLastError());
        Say("MakeWorkerWindow() failed!\n");
        StartFailed(link, nullptr, owned, ServerStartStep::WorkerWindow, error);
        return;
    }
    Say("MakeWorkerWindow() is OK!\n");
    link->SetWorkerWindow(window);
    ServerStartStep failed = ServerStartStep::Socket;
    int error = 0;
    owned = MakeListener(failed, error);
    if (!owned.Valid()) {
        StartFailed(link, window, owned, failed, error);
        return;
    }
    const SOCKET listener = static_cast<SOCKET>(owned.Handle());
    g_listener = listener;
    if (::WSAAsyncSelect(listener, window, WM_SOCKET_EVENT, FD_ACCEPT | FD_CLOSE) == 0) {
        Say("WSAAsyncSelect() is OK lol!\n");
    } else {
        Say("WSAAsyncSelect() failed with error code %d\n", ::WSAGetLastError());
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(kServerPort);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR) {
        error = ::WSAGetLastError();
        Say("bind() failed with error %d\n", error);
        StartFailed(link, window, owned, ServerStartStep::Bind, error);
        return;
    }
    Say("bind() is OK maaa!\n");
    if (::listen(listener, kBacklog) == SOCKET_ERROR) {
        error = ::WSAGetLastError();
        Say("listen() failed with error %d\n", error);
        StartFailed(link, window, owned, ServerStartStep::Listen, error);
        return;
    }
    Say("listen() is also OK! I am listening now...\n");
    ::SetTimer(window, kIdleTimer, kIdleSweepMs, nullptr);
    link->ServerListening(std::move(owned)); // closed with the main window
    ::SendMessageW(g_serverMainWindow, WM_SERVER_STARTED, INADDR_ANY, kServerPort);
    MSG msg;
    for (;;) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            return;
        }
        if (got == -1) {
            Say("\nGetMessage() failed with error %d\n", static_cast<int>(::GetLastError()));
            return;
        }
        Say("\nGetMessage() is pretty fine!\n");
        Say("Translating a message...\n");
        ::TranslateMessage(&msg);
        Say("Dispatching a message...\n");
        ::DispatchMessageW(&msg);
    }
}
