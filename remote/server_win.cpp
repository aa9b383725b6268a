// The server role: listen on port 6666, accept any number of clients, and hand what they send to the
// main window's thread, which replays it.
#include "remote/server_win.h"

#include "app/main_frame.h"
#include "remote/wire_format.h"
#include "seam/pattern_window_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdarg>
#include <cstdio>
#include <new>
#include <vector>

namespace {

constexpr u_short kServerPort = 6666;
constexpr int kBacklog = 5;
constexpr DWORD kReceiveSize = 8192;

// One accepted connection. Each receive fills the buffer from its start; the receiver keeps a packet
// whose rest has not arrived yet.
struct SOCKET_INFORMATION {
    CHAR Buffer[kReceiveSize];
    WSABUF DataBuf;
    SOCKET Socket;
    SOCKET_INFORMATION* Next;
    WireReceiver receiver;
};

// Touched on the server thread only.
SOCKET_INFORMATION* g_socketList = nullptr;
MainFrame* g_serverMain = nullptr;
CScreenCtrlWnd* g_serverPattern = nullptr;
HWND g_serverMainWindow = nullptr;

// Every diagnostic goes out at once: a line still in the buffer is lost when the process is ended.
void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

void AddSocketInformation(SOCKET s) {
    void* memory = ::GlobalAlloc(GPTR, sizeof(SOCKET_INFORMATION));
    if (memory == nullptr) {
        Say("GlobalAlloc() failed with error %d\n", static_cast<int>(::GetLastError()));
        return;
    }
    Say("GlobalAlloc() for SOCKET_INFORMATION is OK!\n");
    auto* info = new (memory) SOCKET_INFORMATION();
    info->Socket = s;
    info->Next = g_socketList;
    g_socketList = info;
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

// Hands the packets of one receive to the main window's thread, in stream order: each notification on
// its own, the input messages between them as one batch. The main window's thread answers at once, so
// this thread goes on receiving while a replayed notification runs a modal loop there.
void Replay(const std::vector<WirePacket>& packets) {
    std::vector<WirePacket> inputs;
    const auto flush = [&inputs] {
        if (!inputs.empty()) {
            ::SendMessageW(g_serverMainWindow, WM_REPLAY_INPUT, 0, reinterpret_cast<LPARAM>(&inputs));
            inputs.clear();
        }
    };
    for (const WirePacket& packet : packets) {
        if (packet.is_notification) {
            flush();
            ::SendMessageW(g_serverMainWindow, WM_REPLAY_NOTIFY, 0,
                           reinterpret_cast<LPARAM>(&packet.notification));
        } else {
            inputs.push_back(packet);
        }
    }
    flush();
}

void OnRead(SOCKET s) {
    SOCKET_INFORMATION* info = FindSocketInformation(s);
    if (info == nullptr) {
        // Its record could not be allocated at accept: nothing can follow its stream.
        Say("Socket %d has no record: closing it\n", static_cast<int>(s));
        ::closesocket(s);
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
    // The bytes leave the record before they are walked: nothing that runs during the walk can
    // overwrite them.
    const std::vector<uint8_t> bytes(info->Buffer, info->Buffer + received);
    std::vector<WirePacket> packets;
    const bool well_formed = info->receiver.Receive(bytes.data(), bytes.size(), packets);
    Replay(packets);
    if (!well_formed) {
        Say("Malformed packet on socket %d: closing the connection\n", static_cast<int>(s));
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
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(&peer);
    ::SendMessageW(g_serverMainWindow, WM_CLIENT_ACCEPTED, ntohl(ipv4->sin_addr.s_addr), 0);
    AddSocketInformation(s);
    Say("Socket number %d connected\n", static_cast<int>(s));
    ::WSAAsyncSelect(s, window, WM_SOCKET_EVENT, FD_READ | FD_WRITE | FD_CLOSE);
}

LRESULT CALLBACK WorkerWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
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
        OnAccept(window, s);
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
    wc.lpszClassName = L"AsyncSelect";
    if (::RegisterClassW(&wc) == 0) {
        Say("RegisterClass() failed with error %d\n", static_cast<int>(::GetLastError()));
        return nullptr;
    }
    Say("RegisterClass() is OK!\n");
    const HWND window =
        ::CreateWindowExW(0, L"AsyncSelect", L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    if (window == nullptr) {
        Say("CreateWindow() failed with error %d\n", static_cast<int>(::GetLastError()));
        return nullptr;
    }
    Say("CreateWindow() is OK!\n");
    return window;
}

} // namespace

void ServerThreadProc(MainFrame* main, CScreenCtrlWnd* pattern) {
    g_serverMain = main;
    g_serverPattern = pattern;
    g_serverMainWindow = main->GetHWND();
    const HWND window = MakeWorkerWindow();
    if (window == nullptr) {
        Say("MakeWorkerWindow() failed!\n");
        return;
    }
    Say("MakeWorkerWindow() is OK!\n");
    main->workerWindow = window;
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 0), &data) != 0) {
        Say("WSAStartup() failed with error %d\n", ::WSAGetLastError());
        return;
    }
    Say("WSAStartup() is OK!\n");
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener == INVALID_SOCKET) {
        Say("socket() failed with error %d\n", ::WSAGetLastError());
        return;
    }
    Say("socket() is pretty fine!\n");
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
        Say("bind() failed with error %d\n", ::WSAGetLastError());
        return;
    }
    Say("bind() is OK maaa!\n");
    if (::listen(listener, kBacklog) == SOCKET_ERROR) {
        Say("listen() failed with error %d\n", ::WSAGetLastError());
        return;
    }
    Say("listen() is also OK! I am listening now...\n");
    main->listenSocket = static_cast<int>(listener);
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
