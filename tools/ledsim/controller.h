#pragma once

// The simulated controller: a sending card whose ports chain receiving cards, each with the registers
// the tool uses, coefficient memory behind an upload gate, a correction switch and a permanent store.

#include "lib/devicecomm/protocol.h"
#include "tools/ledsim/topology.h"
#include "tools/ledsim/wall.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace ledsim {

namespace reg {
constexpr uint32_t kPortOffsets = 0xA72000;  // sender: 64 words
constexpr uint32_t kPosition = 0xDA000000;   // 20 bytes, row at 4-5, column at 6-7
constexpr uint32_t kSize = 0xD0000008;       // rows at 0-1, columns at 2-3
constexpr uint32_t kUploadGate = 0xDA000003; // 00 00 00 10 opens, 00 00 00 00 closes
constexpr uint32_t kCoefficients = 0xD0020000;
constexpr uint32_t kCoefficientWindow = 64u << 20; // the largest memory a card of the simulator has
constexpr uint32_t kSwitch = 0xDA000005;           // 00 00 00 A8 on, 00 00 00 08 off
constexpr uint32_t kStoredSwitch = 0xDF079400;
constexpr uint32_t kStore = 0xDA000002;
// The simulator's own, not a card's: the wall model (EncodeWall), for `ledsim render`.
constexpr uint32_t kWallModel = 0xA7E000;
} // namespace reg

constexpr uint32_t kSwitchOff = 0x08;
constexpr uint32_t kGateOpen = 0x10;

struct ControllerOptions {
    std::string state_dir; // permanent store; empty: nothing survives a restart
    std::string journal;   // one line per register write; empty: none
    uint64_t device_id = 0x56454C5452410001ull;
};

class Controller {
public:
    Controller(Topology topology, ControllerOptions options);
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // Loads what earlier runs stored and opens the journal; false with a message on failure.
    bool Open(std::string& error);

    // Answers one request; safe to call from several connections at once.
    devproto::Response Handle(const devproto::Request& request);

    // For tests: a card's live coefficient memory and its stored copy.
    std::vector<uint8_t> Memory(int port, int card);
    std::vector<uint8_t> Stored(int port, int card);

private:
    struct Card {
        CardSpec shape;
        std::vector<uint8_t> memory;
        std::vector<uint8_t> stored;
        uint32_t gate = 0;
        uint32_t correction = kSwitchOff;
        uint32_t stored_switch = kSwitchOff;
        uint32_t store_word = 0;
    };

    devproto::Response Read(const devproto::Request& q);
    devproto::Response Write(const devproto::Request& q);
    devproto::Status WriteOne(int port, int index, Card& card, uint32_t address,
                              const std::vector<uint8_t>& data);
    Card* Find(int32_t port, uint32_t address, devproto::Status& status);
    void Journal(const devproto::Request& q, devproto::Status status);
    bool Persist(int port, int index, const Card& card);
    std::string StatePath(int port, int index) const;

    std::mutex lock_;
    Topology topology_;
    ControllerOptions options_;
    std::vector<std::vector<Card>> cards_;
    Wall wall_;
    FILE* journal_ = nullptr;
};

} // namespace ledsim
