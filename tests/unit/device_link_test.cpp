// The controller protocol's bytes, and the device library against a controller that misbehaves on
// purpose, over loopback: every call has one deadline, an answer longer than its request allows is
// refused before it is kept, and counts that cannot be a wall are cut.
#include "lib/devicecomm/devicecomm.h"
#include "lib/devicecomm/devicecomm_ini.h"
#include "lib/devicecomm/protocol.h"
#include "tests/unit/support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using namespace devproto;

namespace {

std::vector<uint8_t> Answer(uint8_t status, std::vector<uint8_t> payload = {}) {
    return EncodeResponse(Response{static_cast<Status>(status), payload});
}

std::vector<uint8_t> Hello() {
    std::vector<uint8_t> p;
    PutU64(p, 7);
    PutU32(p, kVersion);
    return Answer(0, p);
}

std::vector<uint8_t> Count(uint32_t n) {
    std::vector<uint8_t> p;
    PutU32(p, n);
    return Answer(0, p);
}

// Answers each request with what `script` returns for it, `drip_ms` apart per byte when given. Records
// whether the library closed the link while the answer was still going out.
class FakeController {
public:
    using Script = std::function<std::vector<uint8_t>(const Request&)>;

    FakeController(Script script, int drip_ms = 0) : script_(std::move(script)), drip_ms_(drip_ms) {
        std::string error;
        listener_ = net::Listen("127.0.0.1", 0, error);
        EXPECT_TRUE(listener_.Valid()) << error;
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeController() {
        stop_ = true;
        thread_.join();
    }

    DeviceSettings Settings(int reply_timeout_ms, std::vector<std::string>* traces = nullptr) const {
        DeviceSettings s;
        s.port = net::LocalPort(listener_);
        s.reply_timeout_ms = reply_timeout_ms;
        if (traces != nullptr) {
            s.trace = [traces](const std::string& line) { traces->push_back(line); };
        }
        return s;
    }

    std::atomic<bool> cut_off{false}; // the library closed the link before the answer was complete

private:
    void Serve() {
        net::Socket s;
        while (!stop_ && !s.Valid()) {
            s = net::Accept(listener_, 50);
        }
        std::vector<uint8_t> pending;
        uint8_t chunk[4096];
        while (!stop_) {
            Frame frame;
            size_t used = 0;
            if (TakeFrame(pending.data(), pending.size(), frame, used) != ParseResult::Ok) {
                const long n = net::RecvSome(s, chunk, sizeof(chunk), 50);
                if (n == 0) {
                    return;
                }
                pending.insert(pending.end(), chunk, chunk + (n > 0 ? n : 0));
                continue;
            }
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
            Request q;
            ASSERT_TRUE(DecodeRequest(frame, q));
            const std::vector<uint8_t> answer = script_(q);
            const size_t step = drip_ms_ > 0 ? 1 : answer.size();
            for (size_t at = 0; at < answer.size() && !stop_; at += step) {
                if (!net::SendAll(s, answer.data() + at, std::min(step, answer.size() - at), 1000)) {
                    cut_off = true;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(drip_ms_));
            }
            if (answer.size() >= 4 && GetU32(answer.data()) + 4 > answer.size()) {
                // Only the head of a long answer went out: the library must close rather than wait.
                cut_off = net::RecvSome(s, chunk, sizeof(chunk), 3000) == 0;
                return;
            }
        }
    }

    Script script_;
    int drip_ms_;
    net::Socket listener_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A frame head announcing `length` bytes of body, and nothing of the body.
std::vector<uint8_t> Announce(uint32_t length) {
    std::vector<uint8_t> head;
    PutU32(head, length);
    head.push_back(0);
    return head;
}

bool RoundTrip(const std::vector<uint8_t>& bytes, Request& out) {
    Frame frame;
    size_t used = 0;
    return TakeFrame(bytes.data(), bytes.size(), frame, used) == ParseResult::Ok && used == bytes.size() &&
           DecodeRequest(frame, out);
}

Request Make(Op op, int32_t port, uint32_t card, uint32_t address, uint32_t length,
             std::vector<uint8_t> data = {}) {
    return Request{op, port, card, address, length, std::move(data)};
}

auto Fields(const Request& r) {
    return std::tie(r.op, r.port, r.card, r.address, r.length, r.data);
}

} // namespace

TEST(DeviceProtocol, RequestsAreByteExactAndDecodeToThemselves) {
    const struct {
        Request request;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {Make(Op::WriteCard, -1, 0x2FFF, 0xDA000005, 4, {0, 0, 0, 0xA8}),
         Bytes({0,    0, 0, 21, 6, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0x2F, 0xFF,
                0xDA, 0, 0, 5,  0, 0,    0,    4,    0,    0, 0, 0xA8})},
        {Make(Op::ReadCard, 3, 0x2005, 0xD0000008, 4),
         Bytes({0, 0, 0, 17, 5, 0, 0, 0, 3, 0, 0, 0x20, 5, 0xD0, 0, 0, 8, 0, 0, 0, 4})},
        {Make(Op::ReadSender, 0, 0, 0xA72000, 256), Bytes({0, 0, 0, 9, 4, 0, 0xA7, 0x20, 0, 0, 0, 1, 0})},
        {Make(Op::CardCount, 1, 0, 0, 0), Bytes({0, 0, 0, 5, 3, 0, 0, 0, 1})},
        {Make(Op::PortCount, 0, 0, 0, 0), Bytes({0, 0, 0, 1, 2})},
        {Make(Op::Hello, 0, 0, 0, 0), Bytes({0, 0, 0, 1, 1})},
        {Make(Op::WriteCard, 7, 0x2001, 0xD0020000, 1000, std::vector<uint8_t>(1000, 0x80)), {}}};
    for (const auto& c : cases) {
        const std::vector<uint8_t> bytes = EncodeRequest(c.request);
        if (!c.bytes.empty()) {
            EXPECT_EQ(c.bytes, bytes);
        }
        Request back;
        ASSERT_TRUE(RoundTrip(bytes, back));
        EXPECT_TRUE(Fields(c.request) == Fields(back)) << static_cast<int>(c.request.op);
    }
    Response r;
    r.status = Status::WriteRefused;
    r.payload = {1, 2};
    EXPECT_EQ(Bytes({0, 0, 0, 3, 6, 1, 2}), EncodeResponse(r));
}

TEST(DeviceProtocol, FramesArriveInPieces) {
    Request q;
    q.op = Op::CardCount;
    q.port = 1;
    std::vector<uint8_t> stream = EncodeRequest(q);
    const std::vector<uint8_t> second = EncodeRequest(Request{});
    stream.insert(stream.end(), second.begin(), second.end());
    Frame frame;
    size_t used = 0;
    for (size_t cut = 0; cut < 9; ++cut) {
        EXPECT_EQ(ParseResult::NeedMore, TakeFrame(stream.data(), cut, frame, used)) << cut;
    }
    ASSERT_EQ(ParseResult::Ok, TakeFrame(stream.data(), stream.size(), frame, used));
    EXPECT_EQ(9u, used);
    ASSERT_EQ(ParseResult::Ok, TakeFrame(stream.data() + used, stream.size() - used, frame, used));
    EXPECT_EQ(static_cast<uint8_t>(Op::Hello), frame.code);
}

TEST(DeviceProtocol, RefusesFramesThatLie) {
    Frame frame;
    size_t used = 0;
    const std::vector<uint8_t> empty = Bytes({0, 0, 0, 0, 1});
    EXPECT_EQ(ParseResult::Malformed, TakeFrame(empty.data(), empty.size(), frame, used));
    EXPECT_EQ(ParseResult::Malformed, TakeFrame(empty.data(), 4, frame, used)); // the length alone tells
    const std::vector<uint8_t> huge = Bytes({0x7F, 0xFF, 0xFF, 0xFF, 6});
    EXPECT_EQ(ParseResult::Malformed, TakeFrame(huge.data(), huge.size(), frame, used));
    // The largest body a frame may have is waited for; one byte more is a lie.
    std::vector<uint8_t> largest(5, 6);
    PutBE32(largest.data(), kMaxBody);
    EXPECT_EQ(ParseResult::NeedMore, TakeFrame(largest.data(), largest.size(), frame, used));
    PutBE32(largest.data(), kMaxBody + 1);
    EXPECT_EQ(ParseResult::Malformed, TakeFrame(largest.data(), largest.size(), frame, used));

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"unknown op", Bytes({0, 0, 0, 1, 0x7F})},
        {"hello with a body", Bytes({0, 0, 0, 2, 0x01, 0})},
        {"card count cut short", Bytes({0, 0, 0, 3, 0x03, 0, 0})},
        {"read with a trailing byte",
         Bytes({0, 0, 0, 18, 0x05, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 4, 9})},
        {"write whose length overstates its data",
         Bytes({0, 0, 0, 19, 0x06, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 4, 1, 2})},
        {"write whose length understates its data",
         Bytes({0, 0, 0, 20, 0x06, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 2, 3})},
        {"read longer than a frame can carry",
         Bytes({0, 0, 0, 17, 0x05, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF})},
        {"read one byte longer",
         Bytes({0, 0, 0, 17, 0x05, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 4, 0, 0, 1})},
        {"sender read one byte longer", Bytes({0, 0, 0, 9, 0x04, 0, 0, 0, 0, 4, 0, 0, 1})}};
    for (const Case& c : cases) {
        Request out;
        EXPECT_FALSE(RoundTrip(c.bytes, out)) << c.what;
    }
    // A read of exactly the most a frame carries is a request like any other.
    Request largest_read;
    EXPECT_TRUE(RoundTrip(Bytes({0, 0, 0, 17, 0x05, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0, 0x04, 0, 0, 0}),
                          largest_read));
    EXPECT_EQ(kMaxData, largest_read.length);
    Frame bad_status{42, {}};
    Response r;
    EXPECT_FALSE(DecodeResponse(bad_status, r));
}

TEST(DeviceLink, DeadlinesGrowWithTheRegisterDataOfACall) {
    EXPECT_EQ(3000u, CallDeadlineMs(3000, 0));
    EXPECT_EQ(3000u, CallDeadlineMs(3000, 1023));
    EXPECT_EQ(3064u, CallDeadlineMs(3000, 65536));              // a card of 256 x 256
    EXPECT_EQ(3000u + 65536u, CallDeadlineMs(3000, 64u << 20)); // the largest frame: a minute more
}

// The answers announce far more than the request allows and send only their head: each call fails at
// once, without waiting for (or keeping) the body, and closes the link. The reply timeout is long, so
// a library that waited for the body would still be waiting when the controller gives up.
TEST(DeviceLink, AnswersLongerThanTheirRequestAllowsEndTheCall) {
    const struct {
        const char* name;
        Op op;
        uint32_t announced;
    } cases[] = {{"hello", Op::Hello, 64u << 20},
                 {"port count", Op::PortCount, 6},
                 {"4-byte read", Op::ReadCard, 64u << 20},
                 {"write", Op::WriteCard, 2}};
    for (const auto& c : cases) {
        FakeController fake([&](const Request& q) {
            return q.op == c.op ? Announce(c.announced) : q.op == Op::Hello ? Hello() : Count(1);
        });
        CCommInstMan manager(fake.Settings(20000));
        ICommInterface* device = OpenCommInterface(manager);
        if (c.op == Op::Hello) {
            EXPECT_EQ(nullptr, device) << c.name;
        } else {
            ASSERT_NE(nullptr, device) << c.name;
            uint8_t buffer[4] = {1, 2, 3, 4};
            if (c.op == Op::PortCount) {
                EXPECT_EQ(0, device->GetPortCount()) << c.name;
            } else if (c.op == Op::ReadCard) {
                EXPECT_EQ(-1, device->ReadCardRegister(0, 0x2000, 0xD0000008, buffer, 4)) << c.name;
            } else {
                EXPECT_EQ(-1, device->WriteCardRegister(0, 0x2000, 0xDA000002, buffer, 4, kWaitForReply));
            }
            device->Release();
        }
        for (int i = 0; i < 400 && !fake.cut_off; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(fake.cut_off) << c.name;
    }
}

// One byte every 100 ms: each receive waits far less than the reply timeout, but the call as a whole
// takes longer than it. A well-paced answer of the same length passes.
TEST(DeviceLink, ADrippedAnswerEndsTheCallAtItsDeadline) {
    for (const bool drip : {false, true}) {
        FakeController fake([](const Request&) { return Hello(); }, drip ? 100 : 0);
        CCommInstMan manager(fake.Settings(400));
        EXPECT_EQ(drip ? 1 : 0, manager.InitDeviceList()) << "drip " << drip;
    }
}

TEST(DeviceLink, CountsThatCannotBeAWallAreCutWithATrace) {
    const struct {
        uint32_t ports, cards;
        int used_ports, used_cards;
        size_t traces;
    } cases[] = {
        {16, 0xFFF, 16, 0xFFF, 0},
        {17, 0x1000, 16, 0xFFF, 2},         // card index 0xFFF would be the broadcast address
        {0x7FFFFFFF, 0x2000, 16, 0xFFF, 2}, // 0x2000 would alias card 0
        {0xFFFFFFFF, 3, 16, 3, 1},
    };
    for (const auto& c : cases) {
        FakeController fake([&](const Request& q) {
            return q.op == Op::Hello ? Hello() : q.op == Op::PortCount ? Count(c.ports) : Count(c.cards);
        });
        std::vector<std::string> traces;
        CCommInstMan manager(fake.Settings(3000, &traces));
        ICommInterface* device = OpenCommInterface(manager);
        ASSERT_NE(nullptr, device);
        EXPECT_EQ(c.used_ports, device->GetPortCount()) << c.ports;
        EXPECT_EQ(c.used_cards, device->GetCardCount(0, 2)) << c.cards;
        EXPECT_EQ(c.traces, traces.size()) << c.ports;
        device->Release();
    }
}

// The waiting write answers for the writes posted before it: one refused among them fails it too.
// Calls that fail with the link intact leave it for the next.
TEST(DeviceLink, AWaitingWriteReportsARefusedPostedWrite) {
    int writes = 0;
    FakeController fake([&](const Request& q) {
        return q.op == Op::Hello      ? Hello()
               : q.op == Op::ReadCard ? Answer(0, {1, 2})
                                      : Answer(++writes == 2 ? 6 : 0);
    });
    CCommInstMan manager(fake.Settings(3000));
    ICommInterface* device = OpenCommInterface(manager);
    ASSERT_NE(nullptr, device);
    const uint8_t v[4] = {0, 0, 0, 0x10};
    const int flags[] = {0, 0, kWaitForReply, kWaitForReply}, expected[] = {0, 0, 6, 0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(expected[i], device->WriteCardRegister(0, 0x2000, 0xDA000003, v, 4, flags[i])) << i;
    }
    // A short answer fails its call only; a write beyond what a call carries is refused unsent.
    uint8_t read[4];
    EXPECT_EQ(kWrongLength, device->ReadCardRegister(0, 0x2000, 0xD0000008, read, 4));
    EXPECT_EQ(kCallTooLong, device->WriteCardRegister(0, 0x2000, 0xD0020000, v, kMaxCallData + 1, 0));
    EXPECT_EQ(0, device->WriteCardRegister(0, 0x2000, 0xDA000003, v, 4, kWaitForReply));
    device->Release();
}

TEST(DeviceLink, SettingsFileKeysAreReadInTheirSectionWithinTheirRanges) {
    const struct {
        std::string text;
        std::string host;
        int port, connect_ms, reply_ms;
    } cases[] = {
        {"", "127.0.0.1", 26600, 2000, 3000},
        {"[controller]\r\naddress = 10.0.0.7 \r\nport=7000\r\nreply_timeout_ms=500ms\r\n", "10.0.0.7", 7000,
         2000, 500},
        {"\xEF\xBB\xBF[Controller]\nPORT=1\nConnect_Timeout_Ms=100\nreply_timeout_ms=30000", "127.0.0.1", 1,
         100, 30000},
        {"[controller]\nport=65535\nconnect_timeout_ms=30000\nreply_timeout_ms=100\naddress=" +
             std::string(64, 'a'),
         std::string(63, 'a'), 65535, 30000, 100},
        {"[controller]\nport=65536\nconnect_timeout_ms=99\nreply_timeout_ms=30001\n", "127.0.0.1", 26600,
         2000, 3000},
        {"[controller]\nport=0\nconnect_timeout_ms=30001\nreply_timeout_ms=99\n", "127.0.0.1", 26600, 2000,
         3000},
        {"[other]\nport=7000\n[controller]\n;port=7001\nport\nport=-5\n", "127.0.0.1", 26600, 2000, 3000}};
    for (const auto& c : cases) {
        const DeviceSettings s = ParseDeviceSettings(c.text);
        EXPECT_EQ(c.host, s.host) << c.text;
        EXPECT_EQ(c.port, s.port) << c.text;
        EXPECT_EQ(c.connect_ms, s.connect_timeout_ms) << c.text;
        EXPECT_EQ(c.reply_ms, s.reply_timeout_ms) << c.text;
    }
    // The simulator's address on its command line: four parts of at most three digits, 0 to 255 each.
    const struct {
        const char* text;
        bool ok;
    } endpoints[] = {{"127.0.0.1:26600", true},
                     {"255.255.255.255:65535", true},
                     {"256.0.0.1:1", false},
                     {"1.2.3.4:65536", false},
                     {"1.2.3:5", false},
                     {"1.2.3.4.5:5", false},
                     {"1..3.4:5", false},
                     {"1.2.3.4:", false},
                     {":5", false},
                     {"1.2.3.0001:5", false},
                     {"1.2.3.4:5x", false},
                     {"1.2.3.:5", false}};
    for (const auto& e : endpoints) {
        std::string host;
        uint16_t port = 0;
        EXPECT_EQ(e.ok, net::ParseEndpoint(e.text, host, port)) << e.text;
    }
    std::string host;
    uint16_t port = 0;
    ASSERT_TRUE(net::ParseEndpoint("10.20.30.40:5060", host, port));
    EXPECT_EQ("10.20.30.40", host);
    EXPECT_EQ(5060, port);
}
