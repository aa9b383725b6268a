#include "app/main_frame.h"
#include "tests/win32/ui_test_support_win.h"

#include <gtest/gtest.h>

namespace {

// The real layout beside the test binary, in a real (hidden) main window.
class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        // No per-user folder: no recovery set is written or offered (its question would wait for a click).
        ::SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
        UseBinaryFolderAsResources();
        g_mainFrame = new MainFrame;
        ASSERT_NE(nullptr,
                  g_mainFrame->Create(nullptr, kMainWindowTitle, WS_POPUP, 0, 0, 0, 0, CW_USEDEFAULT))
            << std::string(MainFrame::CreationError().begin(), MainFrame::CreationError().end());
        PumpMessages();
    }
    void TearDown() override {
        if (g_mainFrame != nullptr) {
            ::DestroyWindow(g_mainFrame->GetHWND());
        }
        PumpMessages();
        EXPECT_EQ(nullptr, g_mainFrame); // the final-message hook deleted it
    }
    CControlUI* Find(const wchar_t* name) { return g_mainFrame->GetPaintManager().FindControl(name); }
    std::wstring Text(const wchar_t* name) { return Find(name)->GetText().str(); }
};

} // namespace

TEST_F(MainFrameTest, ReadScreenParamsConvertsLikeTheRuntime) {
    Find(L"edt_screen_width")->SetText(L"1920");
    Find(L"edt_screen_height")->SetText(L"  1080");
    Find(L"edt_mod_width")->SetText(L"64px");
    Find(L"edt_mod_height")->SetText(L"");
    Find(L"edt_start_x")->SetText(L"-640");
    Find(L"edt_gray_scale")->SetText(L"abc");
    Find(L"edt_gama_value")->SetText(L"2.2");
    const ScreenParams p = g_mainFrame->ReadScreenParams();
    EXPECT_EQ(1920, p.screen_width);
    EXPECT_EQ(1080, p.screen_height);
    EXPECT_EQ(64, p.mod_width);
    EXPECT_EQ(0, p.mod_height);
    EXPECT_EQ(-640, p.start_x);
    EXPECT_EQ(0, p.gray_scale);
    EXPECT_DOUBLE_EQ(2.2, p.gamma);
}

TEST_F(MainFrameTest, ShowScreenParamsFormatsEveryField) {
    ScreenParams p;
    p.screen_width = 1920;
    p.start_y = -5;
    p.gamma = 2.0;
    g_mainFrame->ShowScreenParams(p);
    EXPECT_EQ(L"1920", Text(L"edt_screen_width"));
    EXPECT_EQ(L"-5", Text(L"edt_start_y"));
    EXPECT_EQ(L"0", Text(L"edt_mod_width"));
    EXPECT_EQ(L"2.0", Text(L"edt_gama_value"));
    p.gamma = 2.2;
    g_mainFrame->ShowScreenParams(p);
    EXPECT_EQ(L"2.2", Text(L"edt_gama_value"));
    const ScreenParams back = g_mainFrame->ReadScreenParams();
    EXPECT_EQ(1920, back.screen_width);
    EXPECT_DOUBLE_EQ(2.2, back.gamma);
}

TEST_F(MainFrameTest, NotificationsWithoutSenderAreNotDispatched) {
    for (const wchar_t* type : {L"click", L"selectchanged", L"unselected", L"windowinit"}) {
        TNotifyUI msg;
        msg.sType = type;
        g_mainFrame->Notify(msg);
    }
    EXPECT_TRUE(::IsWindow(g_mainFrame->GetHWND()));
}
