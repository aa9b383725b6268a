// The pattern window's message handling, driven from inside its own modal loop: a thread timer fires
// once the window is open, runs the test's steps there and closes the window.
#include "app/main_frame.h"
#include "remote/wire_format.h"
#include "seam/pattern_window_win.h"
#include "tests/win32/ui_test_support_win.h"

#include <gtest/gtest.h>

#include <winsock2.h>

#include <functional>

namespace {

std::function<void(HWND)> g_steps;

void CALLBACK RunSteps(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    const HWND pattern = g_patternWindow->GetHWND();
    g_steps(pattern);
    ::PostMessageW(pattern, WM_CLOSE, 0, 0);
}

// Opens the pattern window over the given sizes and runs the steps while it is open.
void WhileOpen(int width, int height, int mw, int mh, std::function<void(HWND)> steps, int socket = -1) {
    ScreenParams p;
    p.screen_width = width;
    p.screen_height = height;
    p.mod_width = mw;
    p.mod_height = mh;
    p.gray_scale = 128;
    p.gamma = 2.2;
    g_steps = std::move(steps);
    ::SetTimer(nullptr, 0, 1, RunSteps);
    OpenPatternWindow(nullptr, p, socket);
    PumpMessages();
}

LPARAM Point(int x, int y) {
    return MAKELPARAM(x, y);
}

void Wheel(HWND w, int delta) {
    ::SendMessageW(w, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(delta)), 0);
}

float Gain(size_t i) {
    return g_patternWindow->Grid().Segments()[i].gain;
}

class PatternWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ProcessSeamGridCache() = SeamGridCache{}; }
    void TearDown() override {
        ::SystemParametersInfoW(SPI_SETWHEELSCROLLLINES, 3, nullptr, 0);
        delete g_patternWindow;
        g_patternWindow = nullptr;
    }
};

} // namespace

TEST_F(PatternWindowTest, WheelThresholdFollowsTheScrollLines) {
    struct Case {
        UINT lines;
        int threshold;
        int delta;
        bool raises;
    };
    const Case cases[] = {
        {3, 40, 120, true},
        {3, 40, -120, false},
        {3, 40, 39, false},
        {3, 40, 40, true},
        {1, 120, 40, false},
        {1, 120, 120, true},
        {WHEEL_PAGESCROLL, -120, -120, true},
        {WHEEL_PAGESCROLL, -120, 120, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "lines " << c.lines << " delta " << c.delta);
        delete g_patternWindow; // a fresh grid, all gains 1.0
        g_patternWindow = nullptr;
        ProcessSeamGridCache() = SeamGridCache{};
        ::SystemParametersInfoW(SPI_SETWHEELSCROLLLINES, c.lines, nullptr, 0);
        WhileOpen(128, 64, 64, 32, [&](HWND w) {
            EXPECT_EQ(c.threshold, g_patternWindow->WheelThreshold());
            ::SendMessageW(w, WM_LBUTTONUP, 0, Point(70, 10)); // selects records 9 and 12
            Wheel(w, c.delta);
            EXPECT_EQ(c.raises ? 1.005f : 0.995f, Gain(9));
            EXPECT_EQ(Gain(9), Gain(12));
            EXPECT_EQ(1.0f, Gain(0));
        });
    }
}

TEST_F(PatternWindowTest, NoScrollLinesDisablesTheWheel) {
    ::SystemParametersInfoW(SPI_SETWHEELSCROLLLINES, 0, nullptr, 0);
    WhileOpen(128, 64, 64, 32, [](HWND w) {
        EXPECT_EQ(0, g_patternWindow->WheelThreshold());
        ::SendMessageW(w, WM_LBUTTONUP, 0, Point(70, 10));
        Wheel(w, 120);
        EXPECT_EQ(1.0f, Gain(9));
    });
}

TEST_F(PatternWindowTest, ClicksDuringABlinkAreRefusedAndReopeningKeepsGains) {
    WhileOpen(128, 64, 64, 32, [](HWND w) {
        EXPECT_EQ(-1, g_patternWindow->BlinkCounter());
        ::SendMessageW(w, WM_LBUTTONUP, 0, Point(70, 10));
        EXPECT_EQ(0, g_patternWindow->BlinkCounter());
        EXPECT_EQ(9, g_patternWindow->Grid().FirstSelectedIndex());
        ::SendMessageW(w, WM_LBUTTONUP, 0, Point(100, 30)); // during the blink: nothing
        EXPECT_EQ(9, g_patternWindow->Grid().FirstSelectedIndex());
        for (int tick = 0; tick < 6; ++tick) {
            ::SendMessageW(w, WM_TIMER, kBlinkTimer, 0);
        }
        EXPECT_EQ(6, g_patternWindow->BlinkCounter());
        ::SendMessageW(w, WM_LBUTTONUP, 0, Point(100, 30));
        EXPECT_EQ(3, g_patternWindow->Grid().FirstSelectedIndex());
        ::SendMessageW(w, WM_CHAR, 'Z', 0);
        ::SendMessageW(w, WM_CHAR, 'z', 0);
        ::SendMessageW(w, WM_CHAR, 'X', 0);
        ::SendMessageW(w, WM_CHAR, 'q', 0);
    });
    const float stepped = Gain(0);
    const auto key = [](float g, double step) { return static_cast<float>(static_cast<double>(g) + step); };
    EXPECT_EQ(key(key(key(1.0f, 0.005), 0.005), -0.005), stepped); // Z, z, X; "q" changes nothing
    WhileOpen(128, 64, 64, 32, [&](HWND) {
        EXPECT_EQ(-1, g_patternWindow->BlinkCounter());
        EXPECT_EQ(stepped, Gain(0));
    });
    WhileOpen(128, 64, 32, 32, [](HWND) { EXPECT_EQ(1.0f, Gain(0)); }); // other sizes: rebuilt
}

TEST_F(PatternWindowTest, AClickThatSelectsNothingStopsTheBlinkCounter) {
    WhileOpen(100, 64, 64, 32, [](HWND w) { // sizes that do not divide: an empty grid
        ::SendMessageW(w, WM_LBUTTONUP, 0, Point(10, 10));
        EXPECT_EQ(0, g_patternWindow->BlinkCounter());
        for (int tick = 0; tick < 8; ++tick) {
            ::SendMessageW(w, WM_TIMER, kBlinkTimer, 0);
        }
        EXPECT_EQ(0, g_patternWindow->BlinkCounter());
        Wheel(w, 120); // nothing selected: nothing drawn, a trace
    });
    EXPECT_EQ(0u, g_patternWindow->Grid().Size());
}

TEST_F(PatternWindowTest, ForwardsMouseInputButNeverKeys) {
    WSADATA data;
    ASSERT_EQ(0, ::WSAStartup(MAKEWORD(2, 2), &data));
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    ASSERT_EQ(0, ::listen(listener, 1));
    int len = sizeof(addr);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    SOCKET client = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(0, ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    SOCKET server = ::accept(listener, nullptr, nullptr);

    WhileOpen(
        128, 64, 64, 32,
        [](HWND w) {
            ::SendMessageW(w, WM_CHAR, 'z', 0);
            ::SendMessageW(w, WM_MOUSEMOVE, 0, Point(50, 100));
            ::SendMessageW(w, WM_LBUTTONUP, 0, Point(70, 10));
            Wheel(w, -120);
            ::SendMessageW(w, WM_TIMER, kBlinkTimer, 0);
        },
        static_cast<int>(client));
    ::closesocket(client);

    std::vector<uint8_t> got;
    char buffer[256];
    for (int n; (n = ::recv(server, buffer, sizeof(buffer), 0)) > 0;) {
        got.insert(got.end(), buffer, buffer + n);
    }
    ::closesocket(server);
    ::closesocket(listener);
    ::WSACleanup();
    // The WM_CLOSE that ends the test travels no more than the keys and the timer do.
    ASSERT_GE(got.size(), 3 * kInputPacketSize);
    const uint8_t move[] = {13, 1, 0, 0, 2, 0, 0, 0, 0, 0, 0, 100, 0, 50};
    EXPECT_TRUE(std::equal(move, move + 14, got.begin()));
    uint32_t message, wparam, lparam;
    DecodeInputPacket(&got[14], message, wparam, lparam);
    EXPECT_EQ(static_cast<uint32_t>(WM_LBUTTONUP), message);
    EXPECT_EQ(static_cast<uint32_t>(Point(70, 10)), lparam);
    DecodeInputPacket(&got[28], message, wparam, lparam);
    EXPECT_EQ(static_cast<uint32_t>(WM_MOUSEWHEEL), message);
    EXPECT_EQ(0xFF880000u, wparam);
    for (size_t i = 42; i + kInputPacketSize <= got.size(); i += kInputPacketSize) {
        DecodeInputPacket(&got[i], message, wparam, lparam);
        EXPECT_TRUE(message == WM_KILLFOCUS || message == WM_MOUSEMOVE) << std::hex << message;
    }
}
