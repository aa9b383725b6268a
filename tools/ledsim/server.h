#pragma once

#include "lib/devicecomm/net.h"
#include "tools/ledsim/controller.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace ledsim {

// Faults a test can ask the simulator for.
struct FaultOptions {
    long close_after_writes = -1; // close a connection after it carried this many writes
    int delay_ms = 0;             // wait this long before every answer (a very long delay: never answers)
    bool refuse = false;          // close every connection as soon as it is accepted
    bool refuse_switch = false;   // refuse every write of the correction switch, as a card that lacks it
};

// At most this many connections are served at once; each may buffer one request of at most its share
// of the memory budget.
constexpr int kMaxConnections = 8;

class Server {
public:
    // frame_budget: the most one connection may buffer; 0 takes a share of the memory budget at start.
    Server(Controller& controller, FaultOptions faults, uint64_t frame_budget = 0);
    ~Server();

    bool Listen(const std::string& host, uint16_t port, std::string& error);
    uint16_t Port() const { return port_; }
    // Serves until Stop; each connection on a thread of its own.
    void Run();
    void Stop() { stopping_ = true; }

private:
    void Serve(net::Socket socket);
    bool Pause(int ms) const;

    Controller& controller_;
    FaultOptions faults_;
    net::Socket listener_;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> active_{0}; // connections still being served; their threads are detached
    uint64_t frame_budget_;
};

} // namespace ledsim
