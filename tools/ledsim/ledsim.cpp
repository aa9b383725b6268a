// The simulated LED controller and two small clients of it.
//
//   ledsim serve [--listen ADDR:PORT] [--topology FILE] [--state DIR] [--journal FILE]
//                [--close-after-writes N] [--delay-ms N] [--refuse]
//   ledsim read  [--connect ADDR:PORT] PORT CARD ADDRESS LENGTH
//   ledsim cards [--connect ADDR:PORT]
//   ledsim export-dat [--connect ADDR:PORT] [--width W --height H] FILE
//   ledsim render [--connect ADDR:PORT] --gray LEVEL [--gamma G] --out FILE.png [--width W --height H]
//   ledsim photo  [--connect ADDR:PORT] --gray LEVEL [--gamma G] --out FILE.png|FILE.jpg [--camera WxH]
//                 [--tilt DEG] [--turn DEG] [--roll DEG] [--blur SIGMA] [--noise SIGMA] [--seed N]
//
// serve prints "ledsim: listening on ADDR:PORT" once it accepts connections (port 0 picks a free one).
#include "hardware/card_layout.h"
#include "hardware/coefficient_block.h"
#include "lib/baselib/byte_order.h"
#include "lib/baselib/memory_budget.h"
#include "lib/devicecomm/devicecomm.h"
#include "tools/ledsim/camera.h"
#include "tools/ledsim/controller.h"
#include "tools/ledsim/png.h"
#include "tools/ledsim/server.h"
#include "tools/ledsim/topology.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
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
    std::fprintf(
        stderr, "usage: ledsim serve [--listen ADDR:PORT] [--topology FILE] [--state DIR] [--journal FILE]\n"
                "                    [--close-after-writes N] [--delay-ms N] [--refuse]\n"
                "       ledsim read [--connect ADDR:PORT] PORT CARD ADDRESS LENGTH\n"
                "       ledsim cards [--connect ADDR:PORT]\n"
                "       ledsim export-dat [--connect ADDR:PORT] [--width W --height H] FILE\n"
                "         writes what the cards hold as a coefficient file: one byte per screen pixel,\n"
                "         row-major, 128 where no card covers a pixel; the screen defaults to the\n"
                "         extent of the cards\n"
                "       ledsim render [--connect ADDR:PORT] --gray LEVEL [--gamma G] --out FILE.png\n"
                "                     [--width W --height H]\n"
                "         writes the picture the wall shows for a uniform gray input (its seams, and the\n"
                "         cards' coefficients where their correction is on) and prints the residual\n"
                "         seam visibility\n"
                "       ledsim photo [--connect ADDR:PORT] --gray LEVEL [--gamma G] --out FILE.png|FILE.jpg\n"
                "                    [--camera WxH] [--tilt DEG] [--turn DEG] [--roll DEG] [--blur SIGMA]\n"
                "                    [--noise SIGMA] [--seed N]\n"
                "         writes what a camera sees of that picture: the wall on a dark surround, turned a\n"
                "         few degrees (defaults tilt 3, turn -4, roll 1), lens blur (0.8 camera pixels),\n"
                "         vignetting, sensor noise (1.0 levels), sRGB; without --camera the frame gives\n"
                "         2.5 camera pixels per wall pixel\n");
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
    // Cards of up to 64 MiB each, thousands of them, or a wall of 1 x 1 modules: a topology file can ask
    // for more memory than the machine has, and the allocation would not fail where it should.
    if (ledsim::TopologyMemory(topology) > MemoryBudget()) {
        std::fprintf(stderr, "ledsim: the topology needs %s of memory; %s can be used now\n",
                     FormatBytes(ledsim::TopologyMemory(topology)).c_str(),
                     FormatBytes(MemoryBudget()).c_str());
        return 1;
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

struct Releaser {
    void operator()(ICommInterface* device) const { device->Release(); }
};
using Device = std::unique_ptr<ICommInterface, Releaser>;

// Opens the controller at the --connect address (or the default) the way the tool does.
Device Open(std::vector<std::string>& args, CCommInstMan& manager) {
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
    Device device(OpenCommInterface(manager));
    if (device == nullptr) {
        std::fprintf(stderr, "ledsim: no controller at %s: %s\n", endpoint.c_str(),
                     manager.LastError().c_str());
    }
    return device;
}

int Read(std::vector<std::string> args) {
    CCommInstMan manager;
    Device device = Open(args, manager);
    if (device == nullptr) {
        return 1;
    }
    long long port = 0, card = 0, address = 0, length = 0;
    if (args.size() != 4 || !Number(args[0], -1, 255, port) || !Number(args[1], 0, 0xFFFF, card) ||
        !Number(args[2], 0, 0xFFFFFFFFLL, address) || !Number(args[3], 0, 64 << 20, length)) {
        return Usage();
    }
    if (card < kCardAddressBase) {
        card |= kCardAddressBase; // an index; the address of the card is the index with 0x2000
    }
    if (static_cast<uint64_t>(length) * 3 > MemoryBudget()) { // the bytes, and their text twice over
        std::fprintf(stderr, "ledsim: reading %s needs more memory than can be used now\n",
                     FormatBytes(static_cast<uint64_t>(length)).c_str());
        return 1;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    const int rc =
        device->ReadCardRegister(static_cast<int>(port), static_cast<int>(card),
                                 static_cast<uint32_t>(address), bytes.data(), static_cast<uint32_t>(length));
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

struct PlacedCard {
    int port;
    int address;
    CardRect rect;
};

// Every card's rectangle on the screen, in port and card order.
bool ListCards(ICommInterface& device, std::vector<PlacedCard>& out) {
    uint8_t table[256] = {};
    if (device.ReadSenderRegister(kPortOffsetRegister, table, 64) != 0) {
        std::fprintf(stderr, "ledsim: the port offset table cannot be read\n");
        return false;
    }
    const PortOffsetTable offsets = ParsePortOffsetTable(table);
    const int ports = device.GetPortCount();
    for (int p = 0; p < ports; ++p) {
        const int cards = device.GetCardCount(p, 2);
        for (int c = 0; c < cards; ++c) {
            PlacedCard card{p, c | kCardAddressBase, {}};
            if (ReadCardRect(device, p, card.address, offsets, card.rect) == 0) {
                out.push_back(card);
            }
        }
    }
    return true;
}

int Cards(std::vector<std::string> args) {
    CCommInstMan manager;
    Device device = Open(args, manager);
    if (device == nullptr) {
        return 1;
    }
    std::vector<PlacedCard> cards;
    const bool listed = args.empty() && ListCards(*device, cards);
    if (!args.empty()) {
        return Usage();
    }
    for (const PlacedCard& c : cards) {
        std::printf("%d %d %u %u %u %u\n", c.port, c.address & 0xFFF, c.rect.first_row, c.rect.first_column,
                    c.rect.rows, c.rect.columns);
    }
    return listed ? 0 : 1;
}

// The pixels the cards cover: the screen when none is given.
void CardsExtent(const std::vector<PlacedCard>& cards, long long& width, long long& height) {
    width = height = 0;
    for (const PlacedCard& c : cards) {
        width = std::max<long long>(width, c.rect.first_column + c.rect.columns);
        height = std::max<long long>(height, c.rect.first_row + c.rect.rows);
    }
}

// Reads every card's coefficient memory, in pieces a frame can carry; false when a read fails.
bool ReadCardMemory(ICommInterface& device, const PlacedCard& c, std::vector<uint8_t>& memory) {
    // The size comes from the controller's answers: up to 65535 x 65535 bytes a card.
    if (BlockBytes(c.rect) > MemoryBudget()) {
        std::fprintf(stderr, "ledsim: the memory of port %d card %d (%s) is more than can be used now\n",
                     c.port, c.address & 0xFFF, FormatBytes(BlockBytes(c.rect)).c_str());
        return false;
    }
    memory.assign(static_cast<size_t>(BlockBytes(c.rect)), 0);
    for (size_t offset = 0; offset < memory.size();) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(memory.size() - offset, 16u << 20));
        if (device.ReadCardRegister(c.port, c.address,
                                    ledsim::reg::kCoefficients + static_cast<uint32_t>(offset),
                                    memory.data() + offset, n) != 0) {
            std::fprintf(stderr, "ledsim: the memory of port %d card %d cannot be read\n", c.port,
                         c.address & 0xFFF);
            return false;
        }
        offset += n;
    }
    return true;
}

// The coefficient file of what the cards hold: each card's bytes at its place on the screen, in the
// order of the pixels (the cards keep each 32-bit word's bytes reversed).
int ExportDat(std::vector<std::string> args) {
    CCommInstMan manager;
    Device device = Open(args, manager);
    if (device == nullptr) {
        return 1;
    }
    long long width = -1, height = -1;
    std::string file;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--width" && i + 1 < args.size() && Number(args[i + 1], 0, 1 << 20, width)) {
            ++i;
        } else if (args[i] == "--height" && i + 1 < args.size() && Number(args[i + 1], 0, 1 << 20, height)) {
            ++i;
        } else if (file.empty() && args[i].rfind("--", 0) != 0) {
            file = args[i];
        } else {
            return Usage();
        }
    }
    if (file.empty() || (width < 0) != (height < 0)) {
        return Usage();
    }
    std::vector<PlacedCard> cards;
    if (!ListCards(*device, cards)) {
        return 1;
    }
    if (width < 0) {
        CardsExtent(cards, width, height);
    }
    const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (bytes > MemoryBudget()) {
        std::fprintf(stderr, "ledsim: a screen of %lld x %lld needs %s; %s can be used now\n", width, height,
                     FormatBytes(bytes).c_str(), FormatBytes(MemoryBudget()).c_str());
        return 1;
    }
    std::vector<uint8_t> screen(static_cast<size_t>(bytes), 128);
    for (const PlacedCard& c : cards) {
        const uint32_t stride = BlockStride(c.rect.columns);
        std::vector<uint8_t> memory;
        if (!ReadCardMemory(*device, c, memory)) {
            return 1;
        }
        for (uint32_t r = 0; r < c.rect.rows && c.rect.first_row + r < height; ++r) {
            const size_t y = c.rect.first_row + r;
            for (uint32_t x = 0; x < c.rect.columns && c.rect.first_column + x < width; ++x) {
                screen[y * static_cast<size_t>(width) + c.rect.first_column + x] =
                    memory[r * stride + (x ^ 3u)];
            }
        }
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(screen.data()), static_cast<std::streamsize>(screen.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "ledsim: cannot write %s\n", file.c_str());
        return 1;
    }
    std::printf("ledsim: wrote %s: %lld x %lld pixels from %zu cards\n", file.c_str(), width, height,
                cards.size());
    return 0;
}

struct RenderOptions {
    long long width = -1;
    long long height = -1;
    double gray = -1;
    double gamma = 1.0;
    std::string out;
    bool photo = false;
    ledsim::CameraOptions camera;
};

bool Decimal(const std::string& text, double min, double max, double& out) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(v >= min && v <= max)) {
        return false;
    }
    out = v;
    return true;
}

// The options of render, and for photo those of the camera; false on anything else.
bool ParseRender(const std::vector<std::string>& args, RenderOptions& o) {
    if (args.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        const std::string& key = args[i];
        const std::string& value = args[i + 1];
        long long n = 0;
        bool ok = true;
        if (key == "--width") {
            ok = Number(value, 1, 1 << 16, o.width);
        } else if (key == "--height") {
            ok = Number(value, 1, 1 << 16, o.height);
        } else if (key == "--gray") {
            ok = Decimal(value, 0, 255, o.gray);
        } else if (key == "--gamma") {
            ok = Decimal(value, 1e-9, 10, o.gamma);
        } else if (key == "--out") {
            o.out = value;
        } else if (o.photo && key == "--camera") {
            const size_t x = value.find('x');
            long long w = 0, h = 0;
            ok = x != std::string::npos && Number(value.substr(0, x), 16, 1 << 15, w) &&
                 Number(value.substr(x + 1), 16, 1 << 15, h);
            o.camera.width = static_cast<uint32_t>(w);
            o.camera.height = static_cast<uint32_t>(h);
        } else if (o.photo && key == "--tilt") {
            ok = Decimal(value, -40, 40, o.camera.tilt);
        } else if (o.photo && key == "--turn") {
            ok = Decimal(value, -40, 40, o.camera.turn);
        } else if (o.photo && key == "--roll") {
            ok = Decimal(value, -20, 20, o.camera.roll);
        } else if (o.photo && key == "--blur") {
            ok = Decimal(value, 0, 10, o.camera.blur);
        } else if (o.photo && key == "--noise") {
            ok = Decimal(value, 0, 64, o.camera.noise);
        } else if (o.photo && key == "--seed" && Number(value, 0, 1LL << 62, n)) {
            o.camera.seed = static_cast<uint64_t>(n);
        } else {
            ok = false;
        }
        if (!ok) {
            return false;
        }
    }
    return o.gray >= 0 && !o.out.empty() && (o.width < 0) == (o.height < 0);
}

bool EndsWith(const std::string& text, const char* tail) {
    const std::string t = tail;
    return text.size() >= t.size() && std::equal(t.rbegin(), t.rend(), text.rbegin(), [](char a, char b) {
               return a == static_cast<char>(std::tolower(static_cast<unsigned char>(b)));
           });
}

int Render(std::vector<std::string> args, bool photo) {
    CCommInstMan manager;
    Device device = Open(args, manager);
    if (device == nullptr) {
        return 1;
    }
    RenderOptions o;
    o.photo = photo;
    if (!ParseRender(args, o) ||
        (photo && !EndsWith(o.out, ".png") && !EndsWith(o.out, ".jpg") && !EndsWith(o.out, ".jpeg"))) {
        return Usage();
    }
    std::vector<PlacedCard> cards;
    if (!ListCards(*device, cards)) {
        return 1;
    }
    uint8_t head[16] = {};
    std::vector<uint8_t> model;
    if (device->ReadSenderRegister(ledsim::reg::kWallModel, head, 4) == 0) {
        const uint64_t modules = static_cast<uint64_t>(GetBE32(head + 8)) * GetBE32(head + 12);
        // The count is the controller's word: a model larger than a frame or the budget is refused.
        if (modules > (devproto::kMaxData - 16) / 8 || 16 + 8 * modules > MemoryBudget()) {
            std::fprintf(stderr, "ledsim: the controller's wall model of %llu modules is too large\n",
                         static_cast<unsigned long long>(modules));
            return 1;
        }
        model.resize(static_cast<size_t>(16 + 8 * modules));
        if (device->ReadSenderRegister(ledsim::reg::kWallModel, model.data(),
                                       static_cast<uint32_t>(model.size() / 4)) != 0) {
            model.clear();
        }
    }
    ledsim::Wall wall;
    if (!model.empty() && !ledsim::DecodeWall(model, wall)) {
        std::fprintf(stderr, "ledsim: the controller's wall model cannot be read\n");
        return 1;
    }
    if (o.width < 0) {
        CardsExtent(cards, o.width, o.height);
    }
    const uint64_t cells = static_cast<uint64_t>(o.width) * static_cast<uint64_t>(o.height);
    if (cells == 0 || cells * 14 > MemoryBudget()) {
        std::fprintf(stderr, "ledsim: no picture of %lld x %lld pixels can be made\n", o.width, o.height);
        return 1;
    }
    uint32_t frame_width = 0, frame_height = 0;
    if (photo) {
        ledsim::CameraFrame(o.camera, static_cast<uint32_t>(o.width), static_cast<uint32_t>(o.height),
                            frame_width, frame_height);
        if (static_cast<uint64_t>(frame_width) * frame_height * 10 > MemoryBudget() ||
            frame_width > (1u << 15) || frame_height > (1u << 15)) {
            std::fprintf(stderr, "ledsim: no photo of %u x %u camera pixels can be made\n", frame_width,
                         frame_height);
            return 1;
        }
    }
    std::vector<ledsim::CardPicture> pictures;
    for (const PlacedCard& c : cards) {
        ledsim::CardPicture p;
        p.first_row = c.rect.first_row;
        p.first_column = c.rect.first_column;
        p.rows = c.rect.rows;
        p.columns = c.rect.columns;
        uint8_t on[4] = {};
        p.correction_on = device->ReadCardRegister(c.port, c.address, ledsim::reg::kSwitch, on, 4) == 0 &&
                          on[0] == 0 && on[1] == 0 && on[2] == 0 && on[3] == 0xA8;
        if (p.correction_on && !ReadCardMemory(*device, c, p.memory)) {
            return 1;
        }
        pictures.push_back(std::move(p));
    }
    ledsim::Picture picture = ledsim::RenderWall(wall, pictures, static_cast<uint32_t>(o.width),
                                                 static_cast<uint32_t>(o.height), o.gray, o.gamma);
    bool written = false;
    if (photo) {
        const ledsim::CameraPicture shot =
            ledsim::TakePhoto(picture.levels, picture.width, picture.height, o.camera);
        written = EndsWith(o.out, ".png") ? WriteGrayPng(o.out, shot.width, shot.height, shot.pixels)
                                          : WriteGrayJpeg(o.out, shot.width, shot.height, shot.pixels);
        if (written) {
            std::printf("ledsim: photo of %u x %u camera pixels, %.2f per wall pixel\n", shot.width,
                        shot.height, shot.pixels_per_wall_pixel);
        }
    } else {
        written = WriteGrayPng(o.out, picture.width, picture.height, picture.pixels);
    }
    if (!written) {
        std::fprintf(stderr, "ledsim: cannot write %s\n", o.out.c_str());
        return 1;
    }
    if (picture.residual_join.empty()) {
        std::printf("ledsim: residual seam visibility 0.00 %%: no seam differs from the field\n");
    } else {
        std::printf("ledsim: residual seam visibility %.2f %% (%s) at %s\n", picture.residual_percent,
                    picture.residual_brighter ? "brighter" : "darker", picture.residual_join.c_str());
        std::printf("ledsim: that join is %s; click at %u, %u in the pattern window to select it\n",
                    picture.residual_edges.c_str(), picture.residual_click_x, picture.residual_click_y);
    }
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
    if (command == "export-dat") {
        return ExportDat(args);
    }
    if (command == "render") {
        return Render(args, false);
    }
    if (command == "photo") {
        return Render(args, true);
    }
    return Usage();
}
