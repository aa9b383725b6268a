// The remote link: the wire format and its receiver, and what a server replays in which order.
#include "remote/replay_rules.h"
#include "remote/wire_format.h"
#include "tests/unit/support.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

auto Fields(const NotifyRecord& n) {
    return std::tie(n.type, n.virtual_window, n.sender_name, n.sender_text, n.timestamp, n.wparam, n.lparam,
                    n.x, n.y);
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

struct InputCase {
    const char* name;
    uint32_t message;
    uint32_t wparam;
    uint32_t lparam;
    bool accepted;
    uint32_t delivered_wparam;
};

WirePacket Input(uint32_t message) {
    WirePacket p;
    p.message = message;
    return p;
}

WirePacket Notification(const wchar_t* sender) {
    WirePacket p;
    p.is_notification = true;
    p.notification.sender_name = sender;
    return p;
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
    EXPECT_TRUE(Fields(Click(L"btn_save")) == Fields(back));
    // Every text and number its own value, each back in its place.
    NotifyRecord all = Click(L"edt_ip");
    all.type = L"textchanged";
    all.virtual_window = L"vw";
    all.sender_text = L"10.0.0.7";
    ASSERT_TRUE(EncodeNotifyPacket(all, packet));
    ASSERT_TRUE(DecodeNotifyPacket(packet.data(), packet.size(), back));
    EXPECT_TRUE(Fields(all) == Fields(back));
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

TEST(ReplayRules, OnlyWhatThePatternWindowForwardsIsReplayed) {
    const InputCase cases[] = {{"move", 0x0200, 0x0001, 0xFFFF0010, true, 0x0001},
                               {"left down", 0x0201, 0x0001, 0x00200030, true, 0x0001},
                               {"left up", 0x0202, 0, 0x00200030, true, 0},
                               {"wheel", 0x020A, 0xFF880000, 0x01000100, true, 0xFF880000},
                               {"wheel with shift", 0x020A, 0x00780004, 0, true, 0x00780004},
                               {"kill focus names a window of the client", 0x0008, 0x00010F2C, 0, true, 0},
                               {"menu exit", 0x0111, 100, 0, true, 100},
                               {"undo of three steps", 0x8101, 3, 0, true, 3},
                               {"redo with a pointer", 0x8102, 1, 0x41414141, false, 1},
                               {"another menu command", 0x0111, 101, 0, false, 101},
                               {"menu exit with a control handle", 0x0111, 100, 0x41414141, false, 100},
                               {"NCCREATE", 0x0081, 0, 1, false, 0},
                               {"CREATE", 0x0001, 0, 0x41414141, false, 0},
                               {"SETTEXT", 0x000C, 0, 0x41414141, false, 0},
                               {"GETTEXT", 0x000D, 256, 0x41414141, false, 256},
                               {"SYSCOMMAND move", 0x0112, 0xF010, 0, false, 0xF010},
                               {"right down", 0x0204, 0, 0x00100010, false, 0},
                               {"close", 0x0010, 0, 0, false, 0},
                               {"paint", 0x000F, 0, 0, false, 0},
                               {"char Z", 0x0102, 'Z', 0, false, 'Z'},
                               {"timer", 0x0113, 1, 0, false, 1},
                               {"one past the wheel", 0x020B, 0, 0, false, 0},
                               {"high bits on a move", 0x10200, 0, 0, false, 0}};
    for (const InputCase& c : cases) {
        uint32_t wparam = c.wparam;
        EXPECT_EQ(c.accepted, AcceptReplayInput(c.message, wparam, c.lparam)) << c.name;
        EXPECT_EQ(c.delivered_wparam, wparam) << c.name;
    }
}

TEST(ReplayRules, TheQueueKeepsStreamOrderAndHoldsBackAReceiveThatWouldNotFit) {
    ReplayQueue queue(6, 3);
    std::vector<WirePacket> first = {Input(0x0200), Input(0x0201), Notification(L"btn_save")};
    std::vector<WirePacket> second = {Input(0x0202), Notification(L"btn_reset"), Notification(L"closebtn")};
    std::vector<WirePacket> over = {Input(0x0200)};
    ASSERT_TRUE(queue.MayReceive() && queue.Push(first));
    ASSERT_TRUE(queue.MayReceive() && queue.Push(second)); // 3 held + 3 = 6: just fits
    EXPECT_FALSE(queue.MayReceive());
    EXPECT_FALSE(queue.Push(over)); // beyond the capacity nothing is taken
    EXPECT_EQ(6u, queue.Size());
    // Each pop: inputs by message number, notifications by sender, and whether reading may resume.
    const struct {
        std::vector<std::wstring> items;
        bool resume;
    } pops[] = {
        {{L"512", L"513"}, false}, // the run of inputs; 4 left, a receive of 3 does not fit yet
        {{L"btn_save"}, true},     // 3 left: the held-back receive may go on, and is told so once
        {{L"514"}, false},         {{L"btn_reset"}, false}, {{L"closebtn"}, false},
    };
    std::vector<WirePacket> out;
    bool resume = false;
    for (const auto& expected : pops) {
        ASSERT_TRUE(queue.Pop(out, resume));
        std::vector<std::wstring> got;
        for (const WirePacket& p : out) {
            got.push_back(p.is_notification ? p.notification.sender_name : std::to_wstring(p.message));
        }
        EXPECT_EQ(expected.items, got);
        EXPECT_EQ(expected.resume, resume) << got.front();
    }
    EXPECT_FALSE(queue.Pop(out, resume));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(queue.MayReceive());
}
