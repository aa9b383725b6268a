#include "remote/wire_format.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) {
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

NotifyRecord Click(const wchar_t* sender) {
    NotifyRecord n;
    n.type = L"click";
    n.sender_name = sender;
    n.timestamp = 0x01020304;
    n.wparam = 5;
    n.lparam = 0xFFFFFFFF;
    n.x = -2;
    n.y = 300;
    return n;
}

} // namespace

TEST(WireFormat, TheSaveClickIsFortyThreeBytes) {
    std::vector<uint8_t> packet;
    ASSERT_TRUE(EncodeNotifyPacket(Click(L"btn_save"), packet));
    const std::vector<uint8_t> expected =
        Bytes({42,  0,    6,    'c',  'l',  'i',  'c',  'k',  0,    1, 0, 9, 'b', 't', 'n',
               '_', 's',  'a',  'v',  'e',  0,    1,    0,    1,    2, 3, 4, 0,   0,   0,
               5,   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 1, 0x2C});
    EXPECT_EQ(expected, packet);
    NotifyRecord back;
    ASSERT_TRUE(DecodeNotifyPacket(packet.data(), packet.size(), back));
    EXPECT_EQ(L"click", back.type);
    EXPECT_EQ(L"", back.virtual_window);
    EXPECT_EQ(L"btn_save", back.sender_name);
    EXPECT_EQ(L"", back.sender_text);
    EXPECT_EQ(0x01020304u, back.timestamp);
    EXPECT_EQ(0xFFFFFFFFu, back.lparam);
    EXPECT_EQ(-2, back.x);
    EXPECT_EQ(300, back.y);
}

TEST(WireFormat, TextsBeyondLatin1TravelAsCountZeroAndOversizedPacketsAreNotMade) {
    NotifyRecord n = Click(L"edt_ip");
    n.sender_text = L"连接"; // not convertible: count 0, no bytes
    n.virtual_window = L"\u00e9t\u00e9";
    std::vector<uint8_t> packet;
    ASSERT_TRUE(EncodeNotifyPacket(n, packet));
    EXPECT_EQ(26u + 6 + 4 + 7 + 0, packet.size());
    EXPECT_EQ((Bytes({4, 0xE9, 't', 0xE9, 0})),
              std::vector<uint8_t>(packet.begin() + 9, packet.begin() + 14));
    EXPECT_EQ(0, packet[14 + 8]); // the text's count
    NotifyRecord back;
    ASSERT_TRUE(DecodeNotifyPacket(packet.data(), packet.size(), back));
    EXPECT_EQ(L"\u00e9t\u00e9", back.virtual_window);
    EXPECT_EQ(L"", back.sender_text);
    EXPECT_EQ(300, back.y);

    // U+00FF is the last character a byte holds.
    n.virtual_window = L"\u00ff";
    n.sender_text = L"\u0100";
    ASSERT_TRUE(EncodeNotifyPacket(n, packet));
    EXPECT_EQ((Bytes({2, 0xFF, 0})), std::vector<uint8_t>(packet.begin() + 9, packet.begin() + 12));
    EXPECT_EQ(0, packet[12 + 8]);

    n = Click(L"edt_ip");
    n.sender_text = std::wstring(254, L'1');
    EXPECT_FALSE(EncodeNotifyPacket(n, packet)); // 254 bytes fit a count, but not the packet
    n.sender_text = std::wstring(215, L'1');     // 26 + 6 + 1 + 7 + 216 = 256 bytes
    ASSERT_TRUE(EncodeNotifyPacket(n, packet));
    EXPECT_EQ(255, packet[0]);
    n.sender_text = std::wstring(216, L'1');
    EXPECT_FALSE(EncodeNotifyPacket(n, packet));
    n.sender_name = std::wstring(255, L'n');
    n.sender_text.clear();
    EXPECT_FALSE(EncodeNotifyPacket(n, packet));
}

TEST(WireFormat, NotificationsOfTheFixedSizeAloneDecodeAndTextsMustLeaveRoomForTheRest) {
    // Each packet is decoded from a buffer of exactly its size, so that a read past its end is seen.
    std::vector<uint8_t> fixed(26, 0), text_to_the_end(26, 0), text_over_numbers(26, 0);
    fixed[0] = text_to_the_end[0] = text_over_numbers[0] = 25;
    text_to_the_end[2] = 23;  // leaves no byte for the next count
    text_over_numbers[2] = 1; // leaves 19 bytes for 20 bytes of numbers
    const struct {
        const std::vector<uint8_t>* packet;
        bool decoded;
    } cases[] = {{&fixed, true}, {&text_to_the_end, false}, {&text_over_numbers, false}};
    for (const auto& c : cases) {
        const std::vector<uint8_t> exact(*c.packet);
        NotifyRecord out;
        EXPECT_EQ(c.decoded, DecodeNotifyPacket(exact.data(), exact.size(), out)) << int((*c.packet)[2]);
    }
}

TEST(WireFormat, TheReceiverKeepsPartsAndStopsAtTheFirstMalformedPacket) {
    std::vector<uint8_t> stream;
    const InputPacket move = EncodeInputPacket(0x0200, 0, (100u << 16) | 50u);
    EXPECT_EQ((Bytes({13, 1, 0, 0, 2, 0, 0, 0, 0, 0, 0, 100, 0, 50})),
              std::vector<uint8_t>(move.begin(), move.end()));
    const InputPacket wheel = EncodeInputPacket(0x020A, 0xFFFFFFFFFF880000ull, 0x123456789ull);
    std::vector<uint8_t> click;
    ASSERT_TRUE(EncodeNotifyPacket(Click(L"btn_screen_ctr"), click));
    stream.insert(stream.end(), move.begin(), move.end());
    stream.insert(stream.end(), wheel.begin(), wheel.end());
    stream.insert(stream.end(), click.begin(), click.end());
    stream.insert(stream.end(), move.begin(), move.end());

    // Two input packets in one receive, then a notification split in three pieces.
    WireReceiver receiver;
    std::vector<WirePacket> got;
    ASSERT_TRUE(receiver.Receive(stream.data(), 28, got));
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(0x0200u, got[0].message);
    EXPECT_EQ((100u << 16) | 50u, got[0].lparam);
    EXPECT_EQ(0xFF880000u, got[1].wparam);
    EXPECT_EQ(0x23456789u, got[1].lparam);
    ASSERT_TRUE(receiver.Receive(stream.data() + 28, 1, got));
    ASSERT_TRUE(receiver.Receive(stream.data() + 29, 10, got));
    EXPECT_EQ(2u, got.size());
    EXPECT_EQ(11u, receiver.Pending());
    ASSERT_TRUE(receiver.Receive(stream.data() + 39, stream.size() - 39, got));
    ASSERT_EQ(4u, got.size());
    EXPECT_TRUE(got[2].is_notification);
    EXPECT_EQ(L"btn_screen_ctr", got[2].notification.sender_name);
    EXPECT_FALSE(got[3].is_notification);
    EXPECT_EQ(0u, receiver.Pending());

    // Malformed: a count running past its packet, a notification shorter than its fixed fields, an
    // input packet shorter than 14 bytes, a packet with no room for its type. The packets before the
    // fault are still given; nothing after it is.
    std::vector<uint8_t> past = click;
    past[2] = 200;
    const std::vector<std::vector<uint8_t>> faults = {
        past, Bytes({24, 0, 1, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
        Bytes({12, 7, 0, 0, 2, 0, 0, 0, 0, 0, 0, 100, 0}), Bytes({0, 13, 1})};
    WireReceiver lone; // a packet with no room for its type, and nothing after it
    std::vector<WirePacket> none;
    EXPECT_FALSE(lone.Receive(Bytes({0}).data(), 1, none));
    for (const std::vector<uint8_t>& fault : faults) {
        WireReceiver r;
        std::vector<uint8_t> bytes(move.begin(), move.end());
        bytes.insert(bytes.end(), fault.begin(), fault.end());
        bytes.insert(bytes.end(), move.begin(), move.end());
        std::vector<WirePacket> packets;
        EXPECT_FALSE(r.Receive(bytes.data(), bytes.size(), packets));
        EXPECT_EQ(1u, packets.size());
        EXPECT_FALSE(r.Receive(move.data(), move.size(), packets));
        EXPECT_EQ(1u, packets.size());
    }
}
