// The simulated LED controller and two small clients of it.
//
//   ledsim serve [--listen ADDR:PORT] [--topology FILE] [--state DIR] [--journal FILE]
//                [--close-after-writes N] [--delay-ms N] [--refuse]
//   ledsim read  [--connect ADDR:PORT] PORT CARD ADDRESS LENGTH
//   ledsim cards [--connect ADDR:PORT]
//
// serve prints "ledsim: listening on ADDR:PORT" once it accepts connections (port 0 picks a free one).
#include "hardware/card_layout.h"
#include "lib/devicecomm/devicecomm.h"
#include "tools/ledsim/controller.h"
#include "tools/ledsim/server.h"
#include "tools/ledsim/topology.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr char kDefaultEndpoint[] = "127.0.0.1:26600";

ledsim::Server* g_server = nullptr;

void OnSignal(int) {
    if (g_server != nullptr) {
        g_server->Stop();
    }
}

int Usage() {
    std::fprintf(stderr,
                 "usage: ledsim serve [--listen ADDR:PORT] [--topology FILE] [--state DIR] [--journal FILE]\n"
                 "                    [--close-after-writes N] [--delay-ms N] [--refuse]\n"
                 "       ledsim read [--connect ADDR:PORT] PORT CARD ADDRESS LENGTH\n"
                 "       ledsim cards [--connect ADDR:PORT]\n");
    return 2;
}

bool Number(const std::string& text, long long min, long long max, long long& out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (*end != '\0' || v < min || v > max) {
        return false;
    }
    out = v;
    return true;
}

int Serve(const std::vector<std::string>& args) {
    std::string endpoint = kDefaultEndpoint;
    std::string topology_file;
    ledsim::ControllerOptions options;
    ledsim::FaultOptions faults;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool has_value = i + 1 < args.size();
        long long v = 0;
        if (a == "--listen" && has_value) {
            endpoint = args[++i];
        } else if (a == "--topology" && has_value) {
            topology_file = args[++i];
        } else if (a == "--state" && has_value) {
            options.state_dir = args[++i];
        } else if (a == "--journal" && has_value) {
            options.journal = args[++i];
        } else if (a == "--close-after-writes" && has_value && Number(args[++i], 0, 1LL << 40, v)) {
            faults.close_after_writes = static_cast<long>(v);
        } else if (a == "--delay-ms" && has_value && Number(args[++i], 0, 1LL << 30, v)) {
            faults.delay_ms = static_cast<int>(v);
        } else if (a == "--refuse") {
            faults.refuse = true;
        } else {
            return Usage();
        }
    }
    std::string host;
    uint16_t port = 0;
    if (!net::ParseEndpoint(endpoint, host, port)) {
        std::fprintf(stderr, "ledsim: bad address %s (want ADDR:PORT)\n", endpoint.c_str());
        return 2;
    }
    ledsim::Topology topology = ledsim::DefaultTopology();
    if (!topology_file.empty()) {
        std::ifstream in(topology_file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        if (!in || !ledsim::ParseTopology(text.str(), topology, error)) {
            std::fprintf(stderr, "ledsim: %s: %s\n", topology_file.c_str(),
                         in ? error.c_str() : "cannot read");
            return 1;
        }
    }
    ledsim::Controller controller(topology, options);
    std::string error;
    if (!controller.Open(error)) {
        std::fprintf(stderr, "ledsim: %s\n", error.c_str());
        return 1;
    }
    ledsim::Server server(controller, faults);
    if (!server.Listen(host, port, error)) {
        std::fprintf(stderr, "ledsim: cannot listen on %s: %s\n", endpoint.c_str(), error.c_str());
        return 1;
    }
    g_server = &server;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::printf("ledsim: listening on %s:%u\n", host.c_str(), static_cast<unsigned>(server.Port()));
    std::fflush(stdout);
    server.Run();
    g_server = nullptr;
    return 0;
}

// Opens the controller at the --connect address (or the default) the way the tool does.
ICommInterface* Open(std::vector<std::string>& args, CCommInstMan& manager) {
    std::string endpoint = kDefaultEndpoint;
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--connect" && i + 1 < args.size()) {
            endpoint = args[++i];
        } else {
            rest.push_back(args[i]);
        }
    }
    args = rest;
    DeviceSettings settings;
    if (!net::ParseEndpoint(endpoint, settings.host, settings.port)) {
        std::fprintf(stderr, "ledsim: bad address %s\n", endpoint.c_str());
        return nullptr;
    }
    manager.SetSettings(settings);
    ICommInterface* device = OpenCommInterface(manager);
    if (device == nullptr) {
        std::fprintf(stderr, "ledsim: no controller at %s: %s\n", endpoint.c_str(),
                     manager.LastError().c_str());
    }
    return device;
}

int Read(std::vector<std::string> args) {
    CCommInstMan manager;
    ICommInterface* device = Open(args, manager);
    if (device == nullptr) {
        return 1;
    }
    long long port = 0, card = 0, address = 0, length = 0;
    if (args.size() != 4 || !Number(args[0], -1, 255, port) || !Number(args[1], 0, 0xFFFF, card) ||
        !Number(args[2], 0, 0xFFFFFFFFLL, address) || !Number(args[3], 0, 64 << 20, length)) {
        device->Release();
        return Usage();
    }
    if (card < kCardAddressBase) {
        card |= kCardAddressBase; // an index; the address of the card is the index with 0x2000
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    const int rc =
        device->ReadCardRegister(static_cast<int>(port), static_cast<int>(card),
                                 static_cast<uint32_t>(address), bytes.data(), static_cast<uint32_t>(length));
    device->Release();
    if (rc != 0) {
        std::fprintf(stderr, "ledsim: read failed with status %d\n", rc);
        return 1;
    }
    std::string hex;
    hex.reserve(bytes.size() * 2 + 1);
    static const char digits[] = "0123456789abcdef";
    for (uint8_t b : bytes) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 15]);
    }
    std::printf("%s\n", hex.c_str());
    return 0;
}

int Cards(std::vector<std::string> args) {
    CCommInstMan manager;
    ICommInterface* device = Open(args, manager);
    if (device == nullptr) {
        return 1;
    }
    if (!args.empty()) {
        device->Release();
        return Usage();
    }
    uint8_t table[256] = {};
    if (device->ReadSenderRegister(kPortOffsetRegister, table, 64) != 0) {
        std::fprintf(stderr, "ledsim: the port offset table cannot be read\n");
        device->Release();
        return 1;
    }
    const PortOffsetTable offsets = ParsePortOffsetTable(table);
    const int ports = device->GetPortCount();
    for (int p = 0; p < ports; ++p) {
        const int cards = device->GetCardCount(p, 2);
        for (int c = 0; c < cards; ++c) {
            CardRect rect;
            if (ReadCardRect(*device, p, c | kCardAddressBase, offsets, rect)) {
                std::printf("%d %d %u %u %u %u\n", p, c, rect.first_row, rect.first_column, rect.rows,
                            rect.columns);
            }
        }
    }
    device->Release();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage();
    }
    const std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "serve") {
        return Serve(args);
    }
    if (command == "read") {
        return Read(args);
    }
    if (command == "cards") {
        return Cards(args);
    }
    return Usage();
}
