// The client role: connect, disconnect, and the mirroring of every notification of the main window.
#include "remote/client_win.h"

#include "lib/baselib/raii_win.h"
#include "remote/remote_link_win.h"
#include "remote/send_all_win.h"
#include "remote/wire_format.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>

namespace {

// The connect blocks the window while it runs; a server that never answers must not hold it for the
// system's own minute-long retries.
constexpr int kConnectTimeoutMs = 5000;

// A server that stops reading fills the socket's buffers; a send then waits at most this long before
// the link counts as lost, and the window answers again.
constexpr DWORD kSendTimeoutMs = 2000;
// Well over a second of mouse moves and notifications: a server that stopped reading is noticed then,
// instead of after megabytes of stale input that it would replay long after the operator made it.
constexpr int kSendBufferBytes = 16 * 1024;

// Address and port texts take at most 63 bytes each, a terminating zero after them.
constexpr size_t kEndpointTextLimit = 64;

bool ConnectWithin(SOCKET s, const sockaddr* address, int length) {
    u_long nonblocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonblocking);
    bool connected = ::connect(s, address, length) == 0;
    if (!connected && ::WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval tv{kConnectTimeoutMs / 1000, (kConnectTimeoutMs % 1000) * 1000};
        connected = ::select(0, nullptr, &writable, &failed, &tv) > 0 && FD_ISSET(s, &writable) &&
                    !FD_ISSET(s, &failed);
        if (!connected) {
            ::WSASetLastError(WSAETIMEDOUT);
        }
    }
    nonblocking = 0;
    ::ioctlsocket(s, FIONBIO, &nonblocking); // sends block, as the pattern window expects
    return connected;
}

} // namespace

int ConnectToServer(net::Socket& out, const char* host, const char* port) {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 0), &data) != 0) {
        std::fputs("WSAStartup failed.\n", stderr);
        std::exit(1);
    }
    // The start-up goes with the connected socket, or is given back here when none connects.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int resolved = ::getaddrinfo(host, port, &hints, &found);
    if (resolved != 0) {
        wchar_t text[1024] = L"";
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                             FORMAT_MESSAGE_MAX_WIDTH_MASK,
                         nullptr, static_cast<DWORD>(resolved), 0, text, 1024, nullptr);
        std::fwprintf(stderr, L"getaddrinfo: %ls\n", text);
        ::WSACleanup();
        return 1;
    }
    bool connected = false;
    for (addrinfo* a = found; a != nullptr && !connected; a = a->ai_next) {
        const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            std::perror("client: socket");
            continue;
        }
        if (!ConnectWithin(s, a->ai_addr, static_cast<int>(a->ai_addrlen))) {
            ::closesocket(s);
            std::perror("client: connect");
            continue;
        }
        const DWORD send_timeout = kSendTimeoutMs;
        ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send_timeout),
                     sizeof(send_timeout));
        const int send_buffer = kSendBufferBytes;
        ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&send_buffer),
                     sizeof(send_buffer));
        out = net::Socket(static_cast<net::Native>(s));
        connected = true;
    }
    ::freeaddrinfo(found);
    if (!connected) {
        ::WSACleanup();
        std::fputs("client: failed to connect\n", stderr);
        return 2;
    }
    return 0;
}

void RemoteLink::OnClientConnectClick() {
    if (clientSocket.Valid()) {
        DisconnectClient();
        return;
    }
    std::string host;
    std::string port;
    // Texts that do not convert, or that would not fit with their terminating zero, are refused before
    // any attempt: a cut address could reach another machine.
    if (!NarrowWireText(host_.Control(L"edt_ip")->GetText().str(), host) ||
        !NarrowWireText(host_.Control(L"edt_port")->GetText().str(), port) ||
        host.size() >= kEndpointTextLimit || port.size() >= kEndpointTextLimit) {
        host_.Control(L"lab_state")->SetText(L"connect fail");
        return;
    }
    int connected = 1;
    {
        const WaitCursor busy; // up to the connect's time-out when nothing answers
        connected = ConnectToServer(clientSocket, host.c_str(), port.c_str());
    }
    if (connected == 0) {
        host_.Control(L"lab_state")->SetText(L"connected！");
        isClientConnected = true;
        ::SetTimer(host_.Window(), kKeepAliveTimer, kKeepAliveMs, nullptr);
        host_.Control(L"btn_connect")->SetText(L"unconnected");
    } else {
        host_.Control(L"lab_state")->SetText(L"connect fail");
    }
}

int RemoteLink::ForwardSocket() const {
    return clientSocket.Valid() ? static_cast<int>(clientSocket.Handle()) : -1;
}

void RemoteLink::DisconnectClient() {
    if (!clientSocket.Valid()) {
        return;
    }
    if (LinkedPattern* pattern = host_.Pattern(false)) {
        pattern->StopForwardingTo(ForwardSocket());
    }
    clientSocket.Close();
    ::KillTimer(host_.Window(), kKeepAliveTimer);
    host_.Control(L"btn_connect")->SetText(L"connect");
    host_.Control(L"lab_state")->SetText(L"unconnected");
    isClientConnected = false;
}

// Sent whatever else went out: a timer that counted only idle time would cost more than the packet.
void RemoteLink::SendKeepAlive() {
    if (!isClientConnected) {
        return;
    }
    NotifyRecord record;
    record.type = L"keepalive";
    std::vector<uint8_t> packet;
    EncodeNotifyPacket(record, packet);
    int length = static_cast<int>(packet.size());
    if (SendAll(ForwardSocket(), reinterpret_cast<const char*>(packet.data()), &length) != 0) {
        std::fprintf(stderr, "client: keep-alive failed with error %d: disconnected\n", ::WSAGetLastError());
        DisconnectClient();
    }
}

void RemoteLink::MirrorNotification(const TNotifyUI& msg) {
    if (!isClientConnected || msg.pSender == nullptr) {
        return;
    }
    NotifyRecord record;
    record.type = msg.sType.str();
    record.virtual_window = msg.sVirtualWnd.str();
    record.sender_name = msg.pSender->GetName().str();
    record.sender_text = msg.pSender->GetText().str();
    record.timestamp = msg.dwTimestamp;
    record.wparam = static_cast<uint32_t>(msg.wParam);
    record.lparam = static_cast<uint32_t>(msg.lParam);
    if (auto* box = dynamic_cast<CCheckBoxUI*>(msg.pSender);
        box != nullptr && record.type == L"selectchanged") {
        record.wparam = box->GetCheck() ? 1 : 0; // the state the click left, for the server's box
    }
    record.x = msg.ptMouse.x;
    record.y = msg.ptMouse.y;
    std::vector<uint8_t> packet;
    if (!EncodeNotifyPacket(record, packet)) {
        ::OutputDebugStringA("notification not mirrored: its texts do not fit a packet\n");
        return;
    }
    int length = static_cast<int>(packet.size());
    if (SendAll(ForwardSocket(), reinterpret_cast<const char*>(packet.data()), &length) != 0) {
        std::fprintf(stderr, "client: send failed with error %d: disconnected\n", ::WSAGetLastError());
        DisconnectClient();
    }
}
