#include "remote/replay_rules.h"

#include <gtest/gtest.h>

namespace {

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

TEST(ReplayRules, OnlyWhatThePatternWindowForwardsIsReplayed) {
    const InputCase cases[] = {
        {"move", 0x0200, 0x0001, 0xFFFF0010, true, 0x0001},
        {"left down", 0x0201, 0x0001, 0x00200030, true, 0x0001},
        {"left up", 0x0202, 0, 0x00200030, true, 0},
        {"wheel", 0x020A, 0xFF880000, 0x01000100, true, 0xFF880000},
        {"wheel with shift", 0x020A, 0x00780004, 0, true, 0x00780004},
        {"kill focus names a window of the client", 0x0008, 0x00010F2C, 0, true, 0},
        {"menu exit", 0x0111, 100, 0, true, 100},
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
        {"high bits on a move", 0x10200, 0, 0, false, 0},
    };
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
