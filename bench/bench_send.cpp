// The upload of an 8K wall: 7680 x 4320 pixels, 8 x 8 modules (2,073,600 edges), 510 cards of 256 x 256
// on 16 ports, the bottom row of cards reaching past the screen.
//
// P1: the pipeline without a device (gain map, rasterise, cut, quantise, reverse for every card)
//     against a memcpy of the gain map's bytes.
// P3: the same upload to the simulated controller over loopback, through the device library, against
//     raw loopback TCP carrying the same bytes.
#include "hardware/card_layout.h"
#include "hardware/correction_switch.h"
#include "hardware/edge_gains.h"
#include "hardware/coefficient_block.h"
#include "hardware/send_seam_data.h"
#include "lib/devicecomm/net.h"
#include "tools/ledsim/controller.h"
#include "tools/ledsim/server.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 7680;
constexpr int kHeight = 4320;
constexpr int kCardSize = 256;
constexpr int kCardColumns = 30;
constexpr int kCardRows = 17;
constexpr int kCardsPerPort = 32;

ScreenParams Wall8K() {
    ScreenParams p;
    p.screen_width = kWidth;
    p.screen_height = kHeight;
    p.mod_width = 8;
    p.mod_height = 8;
    return p;
}

// Every edge at a gain of its own, as after a long tuning.
const std::vector<SeamSegment>& TunedGrid() {
    static const std::vector<SeamSegment> grid = [] {
        SeamGrid g;
        SeamGridCache cache;
        g.BuildSeamGrid(Wall8K(), cache);
        std::vector<SeamSegment> s = g.CopySeamGrid();
        for (size_t i = 0; i < s.size(); ++i) {
            s[i].gain = 0.9f + static_cast<float>(i % 41) * 0.005f;
        }
        return s;
    }();
    return grid;
}

ledsim::Topology WallTopology() {
    ledsim::Topology t;
    t.ports.resize(16);
    for (int i = 0; i < kCardColumns * kCardRows; ++i) {
        const int r = i / kCardColumns;
        const int c = i % kCardColumns;
        t.ports[static_cast<size_t>(i / kCardsPerPort)].cards.push_back(
            ledsim::CardSpec{static_cast<uint16_t>(r * kCardSize), static_cast<uint16_t>(c * kCardSize),
                             kCardSize, kCardSize});
    }
    return t;
}

// A controller that answers at once and keeps nothing: the pipeline alone is measured.
class NullDevice final : public ICommInterface, public ICommInterfaceMan {
public:
    explicit NullDevice(ledsim::Topology t) : topology_(std::move(t)) {}
    int InitDeviceList() override { return 0; }
    int GetDeviceCount() override { return 1; }
    uint64_t GetAt(int) override { return 1; }
    ICommInterface* GetCommInst(uint64_t) override { return this; }
    void SetCurDeviceId(uint64_t) override {}
    uint64_t GetCurDeviceId() override { return 1; }
    bool IsValidCurrentDeviceId() override { return true; }
    bool ChkDeviceId(uint64_t) override { return true; }
    void Release() override {}
    int GetPortCount() override { return static_cast<int>(topology_.ports.size()); }
    int GetCardCount(int port, int) override {
        return static_cast<int>(topology_.ports[static_cast<size_t>(port)].cards.size());
    }
    int ReadCardRegister(int port, int card, uint32_t address, uint8_t* b, uint32_t length) override {
        const ledsim::CardSpec& c =
            topology_.ports[static_cast<size_t>(port)].cards[static_cast<size_t>(card & 0xFFF)];
        std::memset(b, 0, length);
        const bool position = address == kCardPositionRegister;
        const uint16_t first = position ? c.row : c.rows;
        const uint16_t second = position ? c.column : c.columns;
        uint8_t* at = position ? b + 4 : b;
        at[0] = static_cast<uint8_t>(first >> 8), at[1] = static_cast<uint8_t>(first);
        at[2] = static_cast<uint8_t>(second >> 8), at[3] = static_cast<uint8_t>(second);
        return 0;
    }
    int WriteCardRegister(int, int, uint32_t, const uint8_t* b, uint32_t length, int) override {
        benchmark::DoNotOptimize(b);
        bytes_ += length;
        return 0;
    }
    int ReadSenderRegister(uint32_t, uint8_t* b, uint32_t count) override {
        std::memset(b, 0, count * 4);
        return 0;
    }
    uint64_t bytes_ = 0;

private:
    ledsim::Topology topology_;
};

class Quiet final : public SendProgress {
public:
    void Trace(const std::wstring&) override {}
    void Progress(uint64_t, uint64_t) override {}
};

uint64_t CardBytes() {
    return static_cast<uint64_t>(kCardColumns) * kCardRows * kCardSize * kCardSize;
}

void BM_P1_MemcpyGainMap(benchmark::State& state) {
    std::vector<float> from(static_cast<size_t>(kWidth) * kHeight, 1.0f);
    std::vector<float> to(from.size(), 0.0f);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size() * sizeof(float));
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * from.size() * sizeof(float)));
}
BENCHMARK(BM_P1_MemcpyGainMap)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The same copy into memory the process has not touched yet, as a new map of that size is: on a
// virtual machine the first touch of each page can cost more than the copy itself.
void BM_P1_MemcpyIntoFreshMemory(benchmark::State& state) {
    const std::vector<float> from(static_cast<size_t>(kWidth) * kHeight, 1.0f);
    for (auto _ : state) {
        std::unique_ptr<float[]> to(new float[from.size()]);
        std::memcpy(to.get(), from.data(), from.size() * sizeof(float));
        benchmark::DoNotOptimize(to.get());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_P1_MemcpyIntoFreshMemory)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_P1_SendPipeline(benchmark::State& state) {
    const std::vector<SeamSegment>& grid = TunedGrid();
    NullDevice device(WallTopology());
    Quiet quiet;
    for (auto _ : state) {
        benchmark::DoNotOptimize(SendSeamData(device, Wall8K(), grid, 1ull << 40, quiet));
    }
    state.counters["card_bytes_per_run"] = static_cast<double>(device.bytes_ / state.iterations() - 510 * 8);
}
BENCHMARK(BM_P1_SendPipeline)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The simulator, optimised, on a loopback port of its own for the whole benchmark run.
class SimulatorOnLoopback {
public:
    SimulatorOnLoopback() : controller_(WallTopology(), {}), server_(controller_, {}) {
        std::string error;
        controller_.Open(error);
        server_.Listen("127.0.0.1", 0, error);
        thread_ = std::thread([this] { server_.Run(); });
    }
    ~SimulatorOnLoopback() {
        server_.Stop();
        thread_.join();
    }
    uint16_t Port() const { return server_.Port(); }

private:
    ledsim::Controller controller_;
    ledsim::Server server_;
    std::thread thread_;
};

// What the upload asks of the device library, card by card: the position and size reads, then the
// gate, the block and the gate again.
void BM_P3_UploadThroughDeviceLibrary(benchmark::State& state) {
    SimulatorOnLoopback simulator;
    DeviceSettings settings;
    settings.port = simulator.Port();
    CCommInstMan manager(settings);
    const std::vector<uint8_t> block(kCardSize * kCardSize, 0x80);
    const uint8_t open[4] = {0, 0, 0, 0x10};
    const uint8_t closed[4] = {0, 0, 0, 0};
    for (auto _ : state) {
        ICommInterface* device = OpenCommInterface(manager);
        uint8_t table[256];
        if (device == nullptr || device->ReadSenderRegister(kPortOffsetRegister, table, 64) != 0) {
            state.SkipWithError("no simulator");
            break;
        }
        const PortOffsetTable offsets = ParsePortOffsetTable(table);
        for (int p = 0; p < device->GetPortCount(); ++p) {
            for (int c = 0; c < device->GetCardCount(p, 2); ++c) {
                CardRect rect;
                ReadCardRect(*device, p, c | kCardAddressBase, offsets, rect);
                device->WriteCardRegister(p, c | kCardAddressBase, kUploadGateRegister, open, 4, 0);
                device->WriteCardRegister(p, c | kCardAddressBase, kCoefficientRegister, block.data(),
                                          static_cast<uint32_t>(block.size()), 0);
                device->WriteCardRegister(p, c | kCardAddressBase, kUploadGateRegister, closed, 4, 0);
            }
        }
        device->Release();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * CardBytes()));
}
BENCHMARK(BM_P3_UploadThroughDeviceLibrary)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The whole upload as the worker runs it: gain map, blocks and device, to the simulator.
void BM_P3_SendSeamDataToSimulator(benchmark::State& state) {
    SimulatorOnLoopback simulator;
    DeviceSettings settings;
    settings.port = simulator.Port();
    CCommInstMan manager(settings);
    const std::vector<SeamSegment>& grid = TunedGrid();
    Quiet quiet;
    for (auto _ : state) {
        if (SendSeamData(manager, Wall8K(), grid, 1ull << 40, quiet) != SendOutcome::Finished) {
            state.SkipWithError("the upload failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * CardBytes()));
}
BENCHMARK(BM_P3_SendSeamDataToSimulator)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The same bytes over a plain loopback connection, one 64 KB block after another, read and dropped.
void BM_P3_RawLoopback(benchmark::State& state) {
    std::string error;
    net::Socket listener = net::Listen("127.0.0.1", 0, error);
    const uint16_t port = net::LocalPort(listener);
    std::thread reader([&listener] {
        net::Socket s = net::Accept(listener, 5000);
        std::vector<uint8_t> buffer(1 << 16);
        while (net::RecvSome(s, buffer.data(), buffer.size(), 5000) > 0) {
        }
    });
    net::Socket writer = net::Connect("127.0.0.1", port, 5000, error);
    const std::vector<uint8_t> block(kCardSize * kCardSize, 0x80);
    for (auto _ : state) {
        for (int card = 0; card < kCardColumns * kCardRows; ++card) {
            net::SendAll(writer, block.data(), block.size(), 5000);
        }
    }
    writer.Close();
    reader.join();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * CardBytes()));
}
BENCHMARK(BM_P3_RawLoopback)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

} // namespace

// The cards hold the tuned grid and their correction is on; every edge's coefficient is read back.
void BM_P4_ReadEdgeGainsFromSimulator(benchmark::State& state) {
    SimulatorOnLoopback simulator;
    DeviceSettings settings;
    settings.port = simulator.Port();
    CCommInstMan manager(settings);
    Quiet quiet;
    if (SendSeamData(manager, Wall8K(), TunedGrid(), 1ull << 40, quiet) != SendOutcome::Finished ||
        !SwitchCorrection(manager, true)) {
        state.SkipWithError("the upload failed");
        return;
    }
    CardEdgeGains read;
    for (auto _ : state) {
        read = ReadCardEdgeGains(manager, TunedGrid(), 1ull << 30);
    }
    if (read.correction != CardsCorrection::On || read.gains.size() != TunedGrid().size()) {
        state.SkipWithError("the cards could not be read");
        return;
    }
    // The middle of an edge holds that edge's own coefficient.
    for (size_t i = 0; i < read.gains.size(); i += 997) {
        if (QuantiseGain(read.gains[i]) != QuantiseGain(TunedGrid()[i].gain)) {
            state.SkipWithError("an edge read back another coefficient");
            return;
        }
    }
    state.counters["edges"] = static_cast<double>(read.gains.size());
}
BENCHMARK(BM_P4_ReadEdgeGainsFromSimulator)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
