#pragma once

#include "tools/ledsim/wall.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ledsim {

struct CardSpec {
    uint16_t row = 0;    // first row within the port
    uint16_t column = 0; // first column within the port
    uint16_t rows = 0;
    uint16_t columns = 0;
    // What its size register says, when it says something else than its size (a faulty card).
    bool misreports = false;
    uint16_t reported_rows = 0;
    uint16_t reported_columns = 0;
};

struct PortSpec {
    uint16_t row_offset = 0;
    uint16_t column_offset = 0;
    std::vector<CardSpec> cards;
};

struct Topology {
    std::vector<PortSpec> ports;
    WallDescription wall; // optional: the seams the wall shows
};

// The pixels the cards cover: the largest first column + columns and first row + rows.
void TopologyExtent(const Topology& topology, uint32_t& width, uint32_t& height);

// The memory a simulator of this topology holds: every card's coefficient memory and stored copy, and
// the wall's join factors.
uint64_t TopologyMemory(const Topology& topology);

constexpr size_t kMaxPorts = 16;           // the sending card's offset table covers 16 ports
constexpr size_t kMaxCardsPerPort = 0xFFF; // card addresses 0x2000.. must stay below the broadcast 0x2FFF
constexpr uint64_t kMaxCardBytes = 64u << 20;

// The wall the tool's default screen describes: 1024 x 512 in boxes of 256 x 256, two ports of four,
// modules of 64 x 32 of which a few joins show clearly (a fixed seed).
Topology DefaultTopology();

// Reads a topology from JSON text; false with a message naming what is wrong.
bool ParseTopology(const std::string& json, Topology& out, std::string& error);

} // namespace ledsim
