#include "lib/devicecomm/protocol.h"
#include "tests/unit/support.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

using namespace devproto;

namespace {

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
        {Make(Op::WriteCard, 7, 0x2001, 0xD0020000, 1000, std::vector<uint8_t>(1000, 0x80)), {}},
    };
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
        {"sender read one byte longer", Bytes({0, 0, 0, 9, 0x04, 0, 0, 0, 0, 4, 0, 0, 1})},
    };
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
