// The simulated controller, reached the way the tool reaches it (the device library over loopback), its
// topology files, and its wall: join factors on the facing edge lines, the picture, the residual.
#include "hardware/card_layout.h"
#include "hardware/correction_switch.h"
#include "lib/devicecomm/devicecomm.h"
#include "tools/ledsim/controller.h"
#include "tools/ledsim/server.h"
#include "tools/ledsim/topology.h"
#include "tools/ledsim/wall.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

using namespace ledsim;

namespace {

struct Released {
    void operator()(ICommInterface* d) const { d->Release(); }
};
using Device = std::unique_ptr<ICommInterface, Released>;

// A simulator on a free loopback port, served on a thread of its own for one test, and the device
// library's manager pointed at it.
class Simulator {
public:
    explicit Simulator(ControllerOptions options = {}, FaultOptions faults = {},
                       Topology topology = DefaultTopology(), uint64_t frame_budget = 0)
        : controller_(topology, options), server_(controller_, faults, frame_budget) {
        std::string error;
        EXPECT_TRUE(controller_.Open(error)) << error;
        EXPECT_TRUE(server_.Listen("127.0.0.1", 0, error)) << error;
        thread_ = std::thread([this] { server_.Run(); });
        manager.SetSettings(Settings());
    }
    ~Simulator() {
        server_.Stop();
        thread_.join();
    }
    DeviceSettings Settings(int reply_timeout_ms = 2000) const {
        DeviceSettings s;
        s.port = server_.Port();
        s.connect_timeout_ms = 1000;
        s.reply_timeout_ms = reply_timeout_ms;
        return s;
    }
    Device Open() { return Device(OpenCommInterface(manager)); }
    Controller& controller() { return controller_; }

private:
    Controller controller_;
    Server server_;
    std::thread thread_;

public:
    CCommInstMan manager;
};

uint32_t ReadWord(ICommInterface& d, int port, int card, uint32_t address) {
    uint8_t b[4] = {};
    EXPECT_EQ(0, d.ReadCardRegister(port, card, address, b, 4));
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

int Write(ICommInterface& d, int port, int card, uint32_t address, std::vector<uint8_t> bytes) {
    return d.WriteCardRegister(port, card, address, bytes.data(), static_cast<uint32_t>(bytes.size()),
                               kWaitForReply);
}

// 3 x 2 modules of 4 x 2 pixels: the join right of module (0, 0) at 1.25, below module (1, 0) at 0.5,
// right of module (1, 1) at 1.2; a factor given at the right border is dropped.
Wall SmallWall() {
    WallDescription described;
    described.module_width = 4;
    described.module_height = 2;
    described.joins = {JoinFactor{0, 0, false, 1.25f}, JoinFactor{1, 0, true, 0.5f},
                       JoinFactor{1, 1, false, 1.2f}, JoinFactor{2, 1, false, 3.0f}};
    return MakeWall(described, 12, 4);
}

} // namespace

// Every port of the sending card's table keeps its own offset, the second eight after the unused word 11;
// each card's position adds to it.
TEST(Simulator, PlacesCardsThroughItsRegisters) {
    Topology sixteen;
    for (uint16_t p = 0; p < 16; ++p) {
        sixteen.ports.push_back(PortSpec{
            static_cast<uint16_t>(10 * p + 1), static_cast<uint16_t>(100 + p), {CardSpec{1, 2, 3, 5}}});
    }
    Simulator sim({}, {}, sixteen);
    Device d = sim.Open();
    ASSERT_NE(nullptr, d);
    ASSERT_EQ(16, d->GetPortCount());
    uint8_t table[256] = {};
    ASSERT_EQ(0, d->ReadSenderRegister(kPortOffsetRegister, table, 64));
    const PortOffsetTable offsets = ParsePortOffsetTable(table);
    CardRect r;
    for (int p = 0; p < 16; ++p) {
        ASSERT_EQ(1, d->GetCardCount(p, 2));
        ASSERT_EQ(0, ReadCardRect(*d, p, kCardAddressBase, offsets, r));
        EXPECT_EQ(uint32_t(10 * p + 2), r.first_row) << "port " << p;
        EXPECT_EQ(uint32_t(102 + p), r.first_column) << "port " << p;
        EXPECT_EQ(3 * 65536 + 5, r.rows * 65536 + r.columns) << "port " << p;
    }
    EXPECT_NE(0, ReadCardRect(*d, 0, 1 | kCardAddressBase, offsets, r)); // no second card
    EXPECT_NE(0, ReadCardRect(*d, 16, kCardAddressBase, offsets, r));    // no seventeenth port
    EXPECT_NE(0, ReadCardRect(*d, 0, 0, offsets, r));                    // an index is not an address
    EXPECT_EQ(0, d->GetCardCount(17, 2));
}

TEST(Simulator, CoefficientMemoryTakesWritesOnlyThroughAnOpenGate) {
    Simulator sim;
    Device d = sim.Open();
    ASSERT_NE(nullptr, d);
    const std::vector<uint8_t> block(256 * 256, 0x80);
    EXPECT_NE(0, d->WriteCardRegister(0, 0x2001, 0xD0020000, block.data(), 65536, kWaitForReply));
    EXPECT_EQ(0, Write(*d, 0, 0x2001, 0xDA000003, {0, 0, 0, 0x10}));
    EXPECT_EQ(0, d->WriteCardRegister(0, 0x2001, 0xD0020000, block.data(), 65536, kWaitForReply));
    const std::vector<uint8_t> too_long(65537, 1);
    EXPECT_NE(0, d->WriteCardRegister(0, 0x2001, 0xD0020000, too_long.data(), 65537,
                                      kWaitForReply)); // refused whole
    EXPECT_EQ(0, Write(*d, 0, 0x2001, 0xDA000003, {0, 0, 0, 0}));
    EXPECT_NE(0, Write(*d, 0, 0x2001, 0xD0020000, {1, 2, 3, 4}));
    EXPECT_EQ(block, sim.controller().Memory(0, 1));
    EXPECT_EQ(std::vector<uint8_t>(65536, 0), sim.controller().Memory(0, 0));

    uint8_t back[8] = {};
    ASSERT_EQ(0, d->ReadCardRegister(0, 0x2001, 0xD0020000 + 100, back, 8));
    EXPECT_EQ(0x80, back[7]);
    EXPECT_NE(0, d->ReadCardRegister(0, 0x2001, 0xD0020000 + 65535, back, 2)); // past the memory
    EXPECT_EQ(0, d->ReadCardRegister(0, 0x2001, 0xD0020000 + 65534, back, 2)); // up to its last byte
    EXPECT_NE(0, Write(*d, 0, 0x2001, 0x12345678, {0, 0, 0, 1}));              // no such register
    EXPECT_NE(0, Write(*d, 0, 0x2001, 0xDA000005, {0, 0, 0xA8}));              // a word is 4 bytes
    EXPECT_EQ(0, Write(*d, 0, 0x2002, 0xDA000003, {0, 0, 0, 0x01}));           // only 0x10 opens
    EXPECT_NE(0, Write(*d, 0, 0x2002, 0xD0020000, {1, 2, 3, 4}));

    // A write that is not waited for is refused all the same; its answer, taken off the stream before
    // the next read's, is not mistaken for that read's.
    EXPECT_EQ(0, d->WriteCardRegister(0, 0x2000, 0xD0020000, block.data(), 4, 0));
    ASSERT_EQ(0, d->ReadCardRegister(0, 0x2001, 0xD0020000, back, 4));
    EXPECT_EQ(0x80, back[0]);
    EXPECT_EQ(std::vector<uint8_t>(65536, 0), sim.controller().Memory(0, 0));
}

TEST(DeviceFailures, AnAbsentRefusingOrSilentControllerFailsTheOpenInTime) {
    DeviceSettings nowhere;
    {
        Simulator probe; // a port that was free a moment ago
        nowhere = probe.Settings();
    }
    CCommInstMan absent(nowhere);
    EXPECT_FALSE(SwitchCorrection(absent, true));
    EXPECT_FALSE(absent.LastError().empty());

    FaultOptions refuse;
    refuse.refuse = true;
    Simulator refusing({}, refuse);
    EXPECT_EQ(nullptr, refusing.Open());

    FaultOptions silent;
    silent.delay_ms = 60000;
    Simulator never({}, silent);
    never.manager.SetSettings(never.Settings(300));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SwitchCorrection(never.manager, true));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)); // bounded, not hung
    EXPECT_EQ(0, never.manager.GetDeviceCount());
}

TEST(DeviceFailures, ALostConnectionFailsEveryLaterCall) {
    FaultOptions faults;
    faults.close_after_writes = 1;
    Simulator sim({}, faults);
    Device d = sim.Open();
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(0, Write(*d, 0, 0x2000, 0xDA000005, {0, 0, 0, 0xA8}));
    EXPECT_NE(0, Write(*d, 0, 0x2001, 0xDA000005, {0, 0, 0, 0xA8}));
    EXPECT_EQ(0, d->GetPortCount());
    uint8_t b[4];
    EXPECT_NE(0, d->ReadCardRegister(0, 0x2000, 0xDA000005, b, 4));
    CCommInstMan again(sim.Settings());
    Device fresh(OpenCommInterface(again));
    ASSERT_NE(nullptr, fresh);
    EXPECT_EQ(0x08u, ReadWord(*fresh, 0, 0x2001, 0xDA000005)); // the lost write never reached card 1
}

TEST(DeviceFailures, AMalformedFrameClosesOnlyThatConnection) {
    Simulator sim;
    std::string error;
    net::Socket raw = net::Connect("127.0.0.1", sim.Settings().port, 1000, error);
    ASSERT_TRUE(raw.Valid()) << error;
    const uint8_t lie[] = {0x7F, 0xFF, 0xFF, 0xFF, 1, 2, 3};
    ASSERT_TRUE(net::SendAll(raw, lie, sizeof(lie), 1000));
    uint8_t buffer[16];
    EXPECT_EQ(0, net::RecvSome(raw, buffer, sizeof(buffer), 2000)); // closed by the simulator
    EXPECT_NE(nullptr, sim.Open());                                 // and it still serves others
}

TEST(Topology, ParsesAndRefusesByName) {
    uint32_t width = 0, height = 0;
    TopologyExtent(DefaultTopology(), width, height); // two ports of four cards of 256 x 256
    EXPECT_EQ(1024u * 65536 + 512, width * 65536 + height);
    Topology t;
    std::string error;
    ASSERT_TRUE(ParseTopology(
        R"({"ports":[{"row_offset":10,"cards":[{"row":1,"column":2,"rows":3,"columns":130,"reported_columns":8200}]},{"cards":[]},
            {"row_offset":0,"column_offset":65535,"cards":[]}]})",
        t, error))
        << error;
    ASSERT_EQ(3u, t.ports.size());
    EXPECT_EQ(65535, t.ports[2].column_offset);
    EXPECT_EQ(10, t.ports[0].row_offset);
    EXPECT_EQ(130, t.ports[0].cards[0].columns);
    EXPECT_TRUE(t.ports[0].cards[0].misreports && t.ports[0].cards[0].reported_columns == 8200);
    EXPECT_TRUE(t.ports[1].cards.empty());

    struct Case {
        const char* json;
        const char* message;
    };
    const Case bad[] = {
        {"[]", "a topology is a JSON object"},
        {"{\"ports\":[{}]}", "port 0: an object with an array \"cards\""},
        {"{\"ports\":[{\"cards\":[{\"rows\":70000}]}]}", "port 0 card 0: \"rows\" must be"},
        {"{\"ports\":[{\"cards\":[{\"rows\":-1}]}]}", "port 0 card 0: \"rows\" must be"},
        {"{\"ports\":[{\"cards\":[{\"columns\":65536}]}]}", "port 0 card 0: \"columns\" must be"},
        {"{\"ports\":[{\"cards\":[{\"rows\":65535,\"columns\":65535}]}]}", "larger than the simulator"},
        {"not json", "a topology is a JSON object"}};
    for (const Case& c : bad) {
        EXPECT_FALSE(ParseTopology(c.json, t, error)) << c.json;
        EXPECT_NE(std::string::npos, error.find(c.message)) << error;
    }
    // Each limit is taken; one more is refused.
    const auto list = [](size_t n, const std::string& item) {
        std::string s;
        for (size_t i = 0; i < n; ++i) {
            s += (i == 0 ? "" : ",") + item;
        }
        return s;
    };
    for (size_t more : {0, 1}) {
        EXPECT_EQ(more == 0,
                  ParseTopology("{\"ports\":[" + list(kMaxPorts + more, "{\"cards\":[]}") + "]}", t, error));
        EXPECT_EQ(more == 0,
                  ParseTopology("{\"ports\":[{\"cards\":[" + list(kMaxCardsPerPort + more, "{}") + "]}]}", t,
                                error));
        EXPECT_EQ(more == 0, ParseTopology("{\"ports\":[{\"cards\":[{\"columns\":4096,\"rows\":" +
                                               std::to_string(16384 + more) + "}]}]}",
                                           t, error)); // 64 MiB of coefficients
    }
}

// The simulator serves a bounded number of connections, and none may make it buffer more than its share.
TEST(Simulator, ConnectionsAndTheirRequestsAreBounded) {
    Simulator sim({}, {}, DefaultTopology(), 64 * 1024);
    std::vector<net::Socket> held;
    std::string error;
    for (int i = 0; i <= kMaxConnections; ++i) {
        held.push_back(net::Connect("127.0.0.1", sim.Settings().port, 1000, error));
        ASSERT_TRUE(held.back().Valid()) << error;
    }
    uint8_t byte = 0;
    EXPECT_EQ(0, net::RecvSome(held.back(), &byte, 1, 5000)); // one too many: closed at once
    held.pop_back();
    // A request announcing more than a connection may hold is refused before its body comes.
    const uint8_t head[5] = {0x00, 0x10, 0x00, 0x00, 0x06};
    ASSERT_TRUE(net::SendAll(held[0], head, sizeof(head), 1000));
    EXPECT_EQ(0, net::RecvSome(held[0], &byte, 1, 5000));
    // The others are served as ever.
    const std::vector<uint8_t> hello = devproto::EncodeRequest(devproto::Request{});
    ASSERT_TRUE(net::SendAll(held[1], hello.data(), hello.size(), 1000));
    uint8_t answer[17] = {};
    EXPECT_EQ(17, net::RecvSome(held[1], answer, sizeof(answer), 5000));
}

TEST(Wall, JoinFactorsLieOnBothFacingEdgeLines) {
    const Wall wall = SmallWall();
    ASSERT_EQ(3u, wall.columns);
    ASSERT_EQ(2u, wall.rows);
    const struct {
        uint32_t x, y;
        float factor;
    } cases[] = {{3, 0, 1.25f}, {4, 0, 1.25f}, {3, 1, 1.25f}, {4, 1, 0.625f}, {5, 1, 0.5f},
                 {5, 2, 0.5f},  {7, 3, 1.2f},  {8, 3, 1.2f},  {7, 2, 0.6f},   {2, 0, 1.0f},
                 {3, 2, 1.0f},  {11, 3, 1.0f}, {11, 0, 1.0f}, {12, 0, 1.0f},  {9, 9, 1.0f}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.factor, wall.Factor(c.x, c.y)) << c.x << "," << c.y; // the border faces no join
    }
    Wall back;
    std::vector<uint8_t> bytes = EncodeWall(wall);
    ASSERT_TRUE(DecodeWall(bytes, back));
    EXPECT_EQ(wall.right, back.right);
    EXPECT_EQ(wall.below, back.below);
    EXPECT_EQ((std::vector<uint32_t>{4, 2, 3, 2}),
              (std::vector<uint32_t>{back.module_width, back.module_height, back.columns, back.rows}));
    bytes.pop_back();
    EXPECT_FALSE(DecodeWall(bytes, back));

    // Module sizes must come with modules, each of the two; a wall of none is 16 bytes exactly.
    WallDescription ones;
    ones.module_width = ones.module_height = 1;
    std::vector<uint8_t> no_width = EncodeWall(wall), no_height = no_width;
    no_width[3] = 0;
    no_height[7] = 0;
    const struct {
        std::vector<uint8_t> bytes;
        bool decoded;
    } walls[] = {{EncodeWall(Wall{}), true},
                 {std::vector<uint8_t>(15), false},
                 {no_width, false},
                 {no_height, false},
                 {EncodeWall(MakeWall(ones, 2, 1)), true},
                 {EncodeWall(MakeWall(ones, 4, 2)), true}, // eight modules: the count is bytes / 8 exactly
                 // 2^31 x 2^31 modules in a bare head: eight bytes each would wrap around to no bytes at all.
                 {{0, 0, 0, 1, 0, 0, 0, 1, 0x80, 0, 0, 0, 0x80, 0, 0, 0}, false}};
    for (const auto& w : walls) {
        EXPECT_EQ(w.decoded, DecodeWall(w.bytes, back)) << w.bytes.size();
    }
}

TEST(Wall, ThePictureMultipliesGrayFactorAndCoefficientThroughTheGamma) {
    const Wall wall = SmallWall();
    CardPicture card;
    card.rows = 4;
    card.columns = 12;
    card.correction_on = true;
    card.memory.assign(48, 128);
    // Columns 3 and 4 of rows 0 and 1 at 102 (0.797): each 32-bit word is held reversed.
    for (uint32_t y : {0u, 1u}) {
        for (uint32_t x : {3u, 4u}) {
            card.memory[y * 12 + (x ^ 3u)] = 102;
        }
    }
    Picture p = RenderWall(wall, {card}, 12, 4, 100, 1.0);
    EXPECT_EQ(100, p.pixels[0 * 12 + 3]); // 100 x 1.25 x 102 / 128 = 99.6
    EXPECT_EQ(50, p.pixels[1 * 12 + 4]);  // and x 0.5 below: 49.8
    EXPECT_EQ(50, p.pixels[2 * 12 + 6]);  // 0.5 alone
    EXPECT_EQ(100, p.pixels[3 * 12 + 0]);
    // The worst line: below module (1, 0), row 1, columns 4 to 7: 49.8, 50, 50, 50 against 100.
    EXPECT_NEAR(50.05, p.residual_percent, 0.01);
    EXPECT_EQ("the join below module (1, 0)", p.residual_join);
    EXPECT_EQ("the bottom edge of module (1, 0) and the top edge of module (1, 1)", p.residual_edges);
    EXPECT_EQ(6u, p.residual_click_x); // halfway along the module below the join, on its first row
    EXPECT_EQ(2u, p.residual_click_y);
    EXPECT_FALSE(p.residual_brighter);

    card.correction_on = false; // the coefficients do nothing while the switch is off
    p = RenderWall(wall, {card}, 12, 4, 100, 1.0);
    EXPECT_EQ(125, p.pixels[3]);
    p = RenderWall(Wall{}, {}, 3, 1, 64, 2.0); // no seams: sqrt(64 / 255) x 255 = 127.7
    EXPECT_EQ(128, p.pixels[1]);
    EXPECT_EQ(0.0, p.residual_percent);
    EXPECT_TRUE(p.residual_join.empty());
    p = RenderWall(wall, {}, 12, 4, 250, 1.0); // clipped at 255
    EXPECT_EQ(255, p.pixels[3]);
    WallDescription bright;
    bright.module_width = 4;
    bright.module_height = 2;
    bright.joins = {JoinFactor{0, 0, false, 1.25f}};
    p = RenderWall(MakeWall(bright, 8, 2), {}, 8, 2, 100, 1.0);
    EXPECT_EQ("the join right of module (0, 0)", p.residual_join);
    EXPECT_NEAR(25.0, p.residual_percent, 0.01);
    EXPECT_TRUE(p.residual_brighter);
}

TEST(Wall, ASeedGivesTheSameWallEverywhereAndTopologiesCarryIt) {
    Topology t;
    std::string error;
    ASSERT_TRUE(ParseTopology(R"({"ports": [{"cards": [{"rows": 64, "columns": 130}]}],
        "wall": {"module_width": 32, "module_height": 16, "random": {"seed": 7, "low": 0.9, "high": 1.1,
                 "share": 0.5}, "joins": [{"column": 1, "row": 2, "side": "below", "factor": 1.05}]}})",
                              t, error))
        << error;
    uint32_t w = 0, h = 0;
    TopologyExtent(t, w, h);
    // Memory and its stored copy, rows padded to words; two factors a module, 5 x 4 modules.
    EXPECT_EQ(2u * 132 * 64 + 8 * 5 * 4, TopologyMemory(t));
    const Wall a = MakeWall(t.wall, w, h);
    const Wall b = MakeWall(t.wall, w, h);
    EXPECT_EQ(a.right, b.right);
    EXPECT_EQ(1.05f, a.Below(1, 2));
    size_t drawn = 0;
    for (size_t i = 0; i < a.right.size(); ++i) {
        EXPECT_TRUE(a.right[i] >= 0.9f && a.right[i] <= 1.1f);
        drawn += a.right[i] != 1.0f;
    }
    EXPECT_EQ(8u, drawn); // the fixed seed's draws, the same on every machine (5 x 4 modules)
    t.wall.seed = 8;
    EXPECT_NE(a.right, MakeWall(t.wall, w, h).right);
    // Every limit is inclusive; no wall description gives no module term.
    ASSERT_TRUE(
        ParseTopology(R"({"ports": [{"cards": [{"rows": 2, "columns": 3}]}], "wall": {"module_width": 1,
        "module_height": 1, "random": {"seed": 0, "low": 0.1, "high": 10, "share": 1}}})",
                      t, error))
        << error;
    EXPECT_EQ(2u * 4 * 2 + 8 * 3 * 2, TopologyMemory(t));
    for (const auto& [width, height] : {std::pair<uint16_t, uint16_t>{0, 0}, {4, 0}, {0, 4}}) {
        t.wall.module_width = width;
        t.wall.module_height = height;
        EXPECT_EQ(2u * 4 * 2, TopologyMemory(t)) << width << " x " << height;
    }
    EXPECT_TRUE(ParseTopology(R"({"ports": [], "wall": {"module_width": 0, "module_height": 0}})", t, error));
    for (const char* bad : {R"("wall": {"module_width": 4})", R"("wall": {"module_height": 4})",
                            R"("wall": {"module_width": 4, "module_height": 4,
                              "joins": [{"column": 0, "row": 0, "side": "left", "factor": 1}]})",
                            R"("wall": {"module_width": 4, "module_height": 4, "random": {"share": 2}})"}) {
        EXPECT_FALSE(ParseTopology(std::string(R"({"ports": [], )") + bad + "}", t, error)) << bad;
    }
}
