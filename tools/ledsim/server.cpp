#include "tools/ledsim/server.h"

#include "lib/baselib/memory_budget.h"

#include <chrono>
#include <cstdio>

namespace ledsim {

namespace {
constexpr int kPollMs = 100; // how quickly a stop is noticed
}

Server::Server(Controller& controller, FaultOptions faults, uint64_t frame_budget)
    : controller_(controller), faults_(faults),
      frame_budget_(frame_budget != 0 ? frame_budget : MemoryBudget() / kMaxConnections) {}

Server::~Server() {
    stopping_ = true;
    while (active_ > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool Server::Listen(const std::string& host, uint16_t port, std::string& error) {
    listener_ = net::Listen(host, port, error);
    if (!listener_.Valid()) {
        return false;
    }
    port_ = net::LocalPort(listener_);
    return true;
}

void Server::Run() {
    while (!stopping_) {
        net::Socket s = net::Accept(listener_, kPollMs);
        if (!s.Valid()) {
            continue;
        }
        if (faults_.refuse) {
            continue; // closed as it goes out of scope
        }
        if (active_ >= kMaxConnections) {
            std::fprintf(stderr, "ledsim: %d connections are served already; a new one is closed\n",
                         kMaxConnections);
            std::fflush(stderr);
            continue;
        }
        // Detached, so that a simulator serving for days keeps no finished threads; the destructor waits
        // for the count to drop instead.
        ++active_;
        std::thread(
            [this](net::Socket socket) {
                Serve(std::move(socket));
                --active_;
            },
            std::move(s))
            .detach();
    }
    listener_.Close();
}

// Sleeps in short steps so that a stop ends even a connection told never to answer.
bool Server::Pause(int ms) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (stopping_) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void Server::Serve(net::Socket socket) {
    std::vector<uint8_t> pending;
    long writes = 0;
    // Larger than any card's block frame: a block that is all there is taken in one receive.
    constexpr size_t kReceive = 256 * 1024;
    while (!stopping_) {
        devproto::Frame frame;
        size_t used = 0;
        const devproto::ParseResult parsed = devproto::TakeFrame(pending.data(), pending.size(), frame, used);
        if (parsed == devproto::ParseResult::Malformed) {
            return; // a stream that lies about its lengths cannot be followed: drop the connection
        }
        if (parsed == devproto::ParseResult::NeedMore) {
            // A request is buffered whole before it is answered: its announced size is checked first.
            if (pending.size() >= 4 && devproto::GetU32(pending.data()) + 4ull > frame_budget_) {
                std::fprintf(stderr, "ledsim: a request of %s is more than a connection may hold; closed\n",
                             FormatBytes(devproto::GetU32(pending.data())).c_str());
                std::fflush(stderr);
                return;
            }
            const size_t held = pending.size();
            pending.resize(held + kReceive);
            const long n = net::RecvSome(socket, pending.data() + held, kReceive, kPollMs);
            pending.resize(held + static_cast<size_t>(n > 0 ? n : 0));
            if (n == 0) {
                return;
            }
            continue;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
        devproto::Request request;
        if (!devproto::DecodeRequest(frame, request)) {
            return;
        }
        if (request.op == devproto::Op::WriteCard && faults_.close_after_writes >= 0 &&
            writes++ >= faults_.close_after_writes) {
            return; // this write is lost with the connection, as on a cable pulled mid-upload
        }
        const bool refused =
            faults_.refuse_switch && request.op == devproto::Op::WriteCard && request.address == reg::kSwitch;
        const devproto::Response response =
            refused ? devproto::Response{devproto::Status::WriteRefused, {}} : controller_.Handle(request);
        if (faults_.delay_ms > 0 && !Pause(faults_.delay_ms)) {
            return;
        }
        const std::vector<uint8_t> bytes = devproto::EncodeResponse(response);
        if (!net::SendAll(socket, bytes.data(), bytes.size(), 5000)) {
            return;
        }
    }
}

} // namespace ledsim
