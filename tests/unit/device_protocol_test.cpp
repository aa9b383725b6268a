#include "lib/devicecomm/protocol.h"
#include "tests/unit/support.h"

#include <gtest/gtest.h>

#include <vector>

using namespace devproto;

namespace {

bool RoundTrip(const std::vector<uint8_t>& bytes, Request& out) {
    Frame frame;
    size_t used = 0;
    return TakeFrame(bytes.data(), bytes.size(), frame, used) == ParseResult::Ok && used == bytes.size() &&
           DecodeRequest(frame, out);
}

} // namespace

TEST(DeviceProtocol, RequestsAreByteExact) {
    Request write;
    write.op = Op::WriteCard;
    write.port = -1;
    write.card = 0x2FFF;
    write.address = 0xDA000005;
    write.data = {0, 0, 0, 0xA8};
    EXPECT_EQ(Bytes({0,    0, 0, 21, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0x2F, 0xFF,
                     0xDA, 0, 0, 5,  0,    0,    0,    4,    0,    0, 0, 0xA8}),
              EncodeRequest(write));

    Request read;
    read.op = Op::ReadSender;
    read.address = 0xA72000;
    read.length = 256;
    EXPECT_EQ(Bytes({0, 0, 0, 9, 0x04, 0, 0xA7, 0x20, 0, 0, 0, 1, 0}), EncodeRequest(read));

    Request hello;
    EXPECT_EQ(Bytes({0, 0, 0, 1, 0x01}), EncodeRequest(hello));

    Response r;
    r.status = Status::WriteRefused;
    r.payload = {1, 2};
    EXPECT_EQ(Bytes({0, 0, 0, 3, 6, 1, 2}), EncodeResponse(r));
}

TEST(DeviceProtocol, DecodesWhatItEncodes) {
    Request q;
    q.op = Op::ReadCard;
    q.port = 3;
    q.card = 0x2005;
    q.address = 0xD0000008;
    q.length = 4;
    Request back;
    ASSERT_TRUE(RoundTrip(EncodeRequest(q), back));
    EXPECT_EQ(Op::ReadCard, back.op);
    EXPECT_EQ(3, back.port);
    EXPECT_EQ(0x2005u, back.card);
    EXPECT_EQ(0xD0000008u, back.address);
    EXPECT_EQ(4u, back.length);

    q.op = Op::WriteCard;
    q.port = -1;
    q.data.assign(1000, 0x80);
    ASSERT_TRUE(RoundTrip(EncodeRequest(q), back));
    EXPECT_EQ(-1, back.port);
    EXPECT_EQ(q.data, back.data);
    EXPECT_EQ(1000u, back.length);
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
