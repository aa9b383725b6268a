// The simulated LED controller and two small clients of it.
//
//   ledsim serve [--listen ADDR:PORT] [--topology FILE] [--state DIR] [--journal FILE]
//                [--close-after-writes N] [--delay-ms N] [--refuse] [--refuse-switch]
//   ledsim read  [--connect ADDR:PORT] PORT CARD ADDRESS LENGTH
//   ledsim cards [--connect ADDR:PORT]
//   ledsim export-dat [--connect ADDR:PORT] [--width W --height H] FILE
//   ledsim render [--connect ADDR:PORT] --gray LEVEL [--gamma G] --out FILE.png [--width W --height H]
//   ledsim photo  [--connect ADDR:PORT] --gray LEVEL|--input FILE --out FILE.png|FILE.jpg [camera options]
//
// serve prints "ledsim: listening on ADDR:PORT" once it accepts connections (port 0 picks a free one).
#include "hardware/card_layout.h"
#include "hardware/coefficient_block.h"
#include "lib/baselib/byte_order.h"
#include "lib/baselib/memory_budget.h"
#include "lib/devicecomm/devicecomm.h"
#include "photo/photo_picture.h"
#include "tools/ledsim/camera.h"
#include "tools/ledsim/controller.h"
#include "tools/ledsim/png.h"
#include "tools/ledsim/server.h"
#include "tools/ledsim/topology.h"

#include <algorithm>
#include <cctype>
#include <cmath>
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
    std::fprintf(stderr,
                 "usage: ledsim serve [--listen ADDR:PORT] [--topology FILE] [--state DIR] [--journal FILE]\n"
                 "                    [--close-after-writes N] [--delay-ms N] [--refuse] [--refuse-switch]\n"
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
                 "       ledsim photo [--connect ADDR:PORT] --gray LEVEL|--input FILE [--gamma G]\n"
                 "                    --out FILE.png|FILE.jpg [--camera WxH] [--lit X,Y,W,H] [--ideal]\n"
                 "                    [--tilt DEG] [--turn DEG] [--roll DEG] [--emitter SHARE] [--k1 K]\n"
                 "                    [--k2 K] [--blur SIGMA] [--defocus SIGMA] [--vignetting SHARE]\n"
                 "                    [--room SHARE] [--glare SHARE] [--noise SCALE] [--gray-sensor]\n"
                 "                    [--white-balance ERROR] [--tone STRENGTH] [--exposure STOPS]\n"
                 "                    [--sharpen AMOUNT] [--quality Q] [--input-gamma G] [--seed N]\n"
                 "         writes what a phone's camera records of that picture: emitters as dots,\n"
                 "         a lens that bends and blurs, a Bayer sensor with noise, automatic exposure,\n"
                 "         an S-shaped tone curve, sharpening, an RGB JPEG (every option in\n"
                 "         tools/ledsim/README.md); --ideal: the old ideal camera\n");
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
        } else if (a == "--refuse-switch") {
            faults.refuse_switch = true;
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
    if (const std::string refusal = MemoryRefusal(ledsim::TopologyMemory(topology)); !refusal.empty()) {
        std::fprintf(stderr, "ledsim: the topology %s\n", refusal.c_str());
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
    if (const std::string refusal = MemoryRefusal(bytes); !refusal.empty()) {
        std::fprintf(stderr, "ledsim: a screen of %lld x %lld %s\n", width, height, refusal.c_str());
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
    std::string input;        // a picture of what the desktop shows on the wall, instead of --gray
    double input_gamma = 2.2; // how the wall's processor decodes the desktop's levels
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

// "A<sep>B<sep>..." as `count` numbers within min..max.
bool Numbers(const std::string& text, char sep, size_t count, long long min, long long max, long long* out) {
    size_t from = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t to = i + 1 < count ? text.find(sep, from) : text.size();
        if (to == std::string::npos || !Number(text.substr(from, to - from), min, max, out[i])) {
            return false;
        }
        from = to + 1;
    }
    return true;
}

// The camera's options that take a decimal, with their ranges.
struct CameraDecimal {
    const char* key;
    double min;
    double max;
    double ledsim::CameraOptions::*field;
};
const CameraDecimal kCameraDecimals[] = {
    {"--tilt", -40, 40, &ledsim::CameraOptions::tilt},
    {"--turn", -40, 40, &ledsim::CameraOptions::turn},
    {"--roll", -20, 20, &ledsim::CameraOptions::roll},
    {"--emitter", 0.05, 1, &ledsim::CameraOptions::emitter},
    {"--k1", -0.5, 0.5, &ledsim::CameraOptions::k1},
    {"--k2", -0.5, 0.5, &ledsim::CameraOptions::k2},
    {"--blur", 0, 10, &ledsim::CameraOptions::blur},
    {"--defocus", 0, 10, &ledsim::CameraOptions::defocus},
    {"--vignetting", 0, 0.9, &ledsim::CameraOptions::vignetting},
    {"--room", 0, 1, &ledsim::CameraOptions::room},
    {"--glare", 0, 0.5, &ledsim::CameraOptions::glare},
    {"--noise", 0, 64, &ledsim::CameraOptions::noise},
    {"--white-balance", -0.5, 0.5, &ledsim::CameraOptions::white_balance},
    {"--tone", 0, 3, &ledsim::CameraOptions::tone},
    {"--exposure", -4, 4, &ledsim::CameraOptions::exposure},
    {"--sharpen", 0, 4, &ledsim::CameraOptions::sharpen},
};

// The options of render, and for photo those of the camera; false on anything else.
bool ParseRender(const std::vector<std::string>& given, RenderOptions& o) {
    std::vector<std::string> args;
    for (const std::string& a : given) {
        if (o.photo && a == "--ideal") {
            o.camera.ideal = true;
        } else if (o.photo && a == "--gray-sensor") {
            o.camera.colour = false;
        } else {
            args.push_back(a);
        }
    }
    if (args.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        const std::string& key = args[i];
        const std::string& value = args[i + 1];
        long long n[4] = {};
        bool ok = true;
        const CameraDecimal* decimal = nullptr;
        for (const CameraDecimal& d : kCameraDecimals) {
            decimal = o.photo && key == d.key ? &d : decimal;
        }
        if (decimal != nullptr) {
            ok = Decimal(value, decimal->min, decimal->max, o.camera.*(decimal->field));
        } else if (key == "--width") {
            ok = Number(value, 1, 1 << 16, o.width);
        } else if (key == "--height") {
            ok = Number(value, 1, 1 << 16, o.height);
        } else if (key == "--gray") {
            ok = Decimal(value, 0, 255, o.gray);
        } else if (key == "--gamma") {
            ok = Decimal(value, 1e-9, 10, o.gamma);
        } else if (key == "--out") {
            o.out = value;
        } else if (key == "--input") {
            o.input = value;
        } else if (key == "--input-gamma") {
            ok = Decimal(value, 0.1, 10, o.input_gamma);
        } else if (o.photo && key == "--camera") {
            ok = Numbers(value, 'x', 2, 16, 1 << 15, n);
            o.camera.width = static_cast<uint32_t>(n[0]);
            o.camera.height = static_cast<uint32_t>(n[1]);
        } else if (o.photo && key == "--lit") {
            ok = Numbers(value, ',', 4, 0, 1 << 16, n) && n[2] > 0 && n[3] > 0;
            for (int k = 0; k < 4; ++k) {
                o.camera.lit[k] = static_cast<uint32_t>(n[k]);
            }
        } else if (o.photo && key == "--quality") {
            ok = Number(value, 1, 100, n[0]);
            o.camera.quality = static_cast<int>(n[0]);
        } else if (o.photo && key == "--seed") {
            ok = Number(value, 0, 1LL << 62, n[0]);
            o.camera.seed = static_cast<uint64_t>(n[0]);
        } else {
            ok = false;
        }
        if (!ok) {
            return false;
        }
    }
    return (o.gray >= 0 || !o.input.empty()) && !o.out.empty() && (o.width < 0) == (o.height < 0);
}

bool EndsWith(const std::string& text, const char* tail) {
    const std::string t = tail;
    return text.size() >= t.size() && std::equal(t.rbegin(), t.rend(), text.rbegin(), [](char a, char b) {
               return a == static_cast<char>(std::tolower(static_cast<unsigned char>(b)));
           });
}

// The wall model the controller holds, if any (without one the wall has no seams); false after saying
// why a model it holds cannot be had.
bool ReadWallModel(ICommInterface& device, ledsim::Wall& wall) {
    uint8_t head[16] = {};
    std::vector<uint8_t> model;
    if (device.ReadSenderRegister(ledsim::reg::kWallModel, head, 4) == 0) {
        const uint64_t modules = static_cast<uint64_t>(GetBE32(head + 8)) * GetBE32(head + 12);
        // The count is the controller's word: a model larger than a frame or the budget is refused.
        if (modules > (devproto::kMaxData - 16) / 8 || 16 + 8 * modules > MemoryBudget()) {
            std::fprintf(stderr, "ledsim: the controller's wall model of %llu modules is too large\n",
                         static_cast<unsigned long long>(modules));
            return false;
        }
        model.resize(static_cast<size_t>(16 + 8 * modules));
        if (device.ReadSenderRegister(ledsim::reg::kWallModel, model.data(),
                                      static_cast<uint32_t>(model.size() / 4)) != 0) {
            model.clear();
        }
    }
    if (!model.empty() && !ledsim::DecodeWall(model, wall)) {
        std::fprintf(stderr, "ledsim: the controller's wall model cannot be read\n");
        return false;
    }
    return true;
}

// Each card's place, switch and (when its correction is on) coefficients; false when a card's memory
// cannot be read.
bool ReadCardPictures(ICommInterface& device, const std::vector<PlacedCard>& cards,
                      std::vector<ledsim::CardPicture>& pictures) {
    for (const PlacedCard& c : cards) {
        ledsim::CardPicture p;
        p.first_row = c.rect.first_row;
        p.first_column = c.rect.first_column;
        p.rows = c.rect.rows;
        p.columns = c.rect.columns;
        uint8_t on[4] = {};
        p.correction_on = device.ReadCardRegister(c.port, c.address, ledsim::reg::kSwitch, on, 4) == 0 &&
                          on[0] == 0 && on[1] == 0 && on[2] == 0 && on[3] == 0xA8;
        if (p.correction_on && !ReadCardMemory(device, c, p.memory)) {
            return false;
        }
        pictures.push_back(std::move(p));
    }
    return true;
}

// The desktop's picture of the wall (any PNG, JPEG or BMP, taken as gray) as the levels the wall's
// processor makes of it: the desktop's values decoded with the processor's gamma.
bool ReadInput(const RenderOptions& o, std::vector<float>& levels) {
    std::ifstream file(o.input, std::ios::binary | std::ios::ate);
    const std::streamoff size = file ? static_cast<std::streamoff>(file.tellg()) : -1;
    if (size <= 0 || static_cast<uint64_t>(size) > MemoryBudget() / 4) {
        std::fprintf(stderr, "ledsim: cannot read %s\n", o.input.c_str());
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    file.seekg(0);
    file.read(reinterpret_cast<char*>(bytes.data()), size);
    GrayPhoto picture;
    std::string why;
    if (!file ||
        DecodePhoto(bytes.data(), bytes.size(), MemoryBudget() / 4, picture, why) != PictureStatus::Ok) {
        std::fprintf(stderr, "ledsim: %s: %s\n", o.input.c_str(),
                     why.empty() ? "cannot be read" : why.c_str());
        return false;
    }
    if (static_cast<long long>(picture.Width()) != o.width && o.width >= 0) {
        std::fprintf(stderr, "ledsim: the input picture is not %lld x %lld pixels\n", o.width, o.height);
        return false;
    }
    levels.resize(static_cast<size_t>(picture.Width()) * picture.Height());
    for (size_t i = 0; i < levels.size(); ++i) {
        levels[i] = static_cast<float>(255.0 * std::pow(picture.Pixels()[i] / 255.0, o.input_gamma));
    }
    return true;
}

// Writes the picture, or the camera's photo of it, as `o` asks; false when it cannot.
bool WriteOutput(const RenderOptions& o, const ledsim::Picture& picture, bool photo) {
    if (!photo) {
        return WritePng(o.out, picture.width, picture.height, 1, picture.pixels);
    }
    const ledsim::CameraPicture shot =
        ledsim::TakePhoto(picture.levels, picture.width, picture.height, o.camera);
    const int quality = o.camera.ideal ? 95 : o.camera.quality;
    const bool written = EndsWith(o.out, ".png")
                             ? WritePng(o.out, shot.width, shot.height, shot.channels, shot.pixels)
                             : WriteJpeg(o.out, shot.width, shot.height, shot.channels, shot.pixels, quality);
    if (written) {
        std::printf("ledsim: photo of %u x %u camera pixels, %.2f per wall pixel\n", shot.width, shot.height,
                    shot.pixels_per_wall_pixel);
    }
    return written;
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
    ledsim::Wall wall;
    if (!ReadWallModel(*device, wall)) {
        return 1;
    }
    std::vector<float> input;
    if (!o.input.empty() && !ReadInput(o, input)) {
        return 1;
    }
    if (o.width < 0) {
        CardsExtent(cards, o.width, o.height);
    }
    const uint64_t cells = static_cast<uint64_t>(o.width) * static_cast<uint64_t>(o.height);
    if (!input.empty() && input.size() != cells) {
        std::fprintf(stderr, "ledsim: the input picture is not %lld x %lld pixels\n", o.width, o.height);
        return 1;
    }
    if (cells == 0 || cells * 14 > MemoryBudget()) {
        std::fprintf(stderr, "ledsim: no picture of %lld x %lld pixels can be made\n", o.width, o.height);
        return 1;
    }
    uint32_t frame_width = 0, frame_height = 0;
    if (photo) {
        ledsim::CameraFrame(o.camera, static_cast<uint32_t>(o.width), static_cast<uint32_t>(o.height),
                            frame_width, frame_height);
        if (ledsim::CameraBytes(frame_width, frame_height) > MemoryBudget() || frame_width > (1u << 15) ||
            frame_height > (1u << 15)) {
            std::fprintf(stderr, "ledsim: no photo of %u x %u camera pixels can be made\n", frame_width,
                         frame_height);
            return 1;
        }
    }
    std::vector<ledsim::CardPicture> pictures;
    if (!ReadCardPictures(*device, cards, pictures)) {
        return 1;
    }
    const ledsim::Picture picture =
        ledsim::RenderWall(wall, pictures, static_cast<uint32_t>(o.width), static_cast<uint32_t>(o.height),
                           o.gray < 0 ? 128 : o.gray, o.gamma, input.empty() ? nullptr : &input);
    const bool written = WriteOutput(o, picture, photo);
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
