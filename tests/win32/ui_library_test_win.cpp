#include "lib/baselib/path.h"
#include "lib/sharedui/sharedui.h"
#include "lib/uilib/uilib.h"
#include "tests/win32/ui_test_support_win.h"

#include <gtest/gtest.h>

#include <fstream>

ScratchLayout::ScratchLayout(const std::string& utf8_xml, const std::wstring& file)
    : file_(file), previous_(CPaintManagerUI::GetResourcePath()) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"uilib-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
              std::to_wstring(::GetTickCount()) + L"\\";
    ::CreateDirectoryW(folder_.c_str(), nullptr);
    const std::wstring sub = Util::Path::GetFileFolder(file_);
    if (!sub.empty()) {
        ::CreateDirectoryW((folder_ + sub).c_str(), nullptr);
    }
    HANDLE h = ::CreateFileW((folder_ + file_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(h, utf8_xml.data(), static_cast<DWORD>(utf8_xml.size()), &written, nullptr);
    ::CloseHandle(h);
    CPaintManagerUI::SetResourcePath(folder_.c_str());
}

ScratchLayout::~ScratchLayout() {
    ::DeleteFileW((folder_ + file_).c_str());
    const std::wstring sub = Util::Path::GetFileFolder(file_);
    if (!sub.empty()) {
        ::RemoveDirectoryW((folder_ + sub).c_str());
    }
    ::RemoveDirectoryW(folder_.c_str());
    CPaintManagerUI::SetResourcePath(previous_.c_str());
}

void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            continue; // a test window's tear-down; the test goes on
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

void UseBinaryFolderAsResources() {
    const std::wstring path = Util::Path::GetResFolder(1) + L"\\";
    CPaintManagerUI::SetResourcePath(path.c_str());
}

namespace {

// A window that records every notification it is handed.
class RecordingWindow : public WindowImplBase {
public:
    LPCWSTR GetWindowClassName() const override { return L"UILIB_TEST_WINDOW"; }
    CDuiString GetSkinFolder() override { return CDuiString(L""); }
    CDuiString GetSkinFile() override { return CDuiString(L"layout.xml"); }
    void Notify(TNotifyUI& msg) override {
        std::wstring name = msg.pSender ? msg.pSender->GetName().str() : L"";
        events.push_back(std::wstring(msg.sType.GetData()) + L":" + name);
    }
    CControlUI* CreateLayoutControl(LPCWSTR tag) override {
        asked.push_back(tag);
        if (_wcsicmp(tag, L"QXButton") == 0) {
            return new CQXButtonUI;
        }
        return nullptr;
    }
    HWND Open() { return Create(nullptr, L"test", WS_POPUP, 0, 0, 0, 10, 10); }
    CControlUI* Find(const wchar_t* name) { return m_pm.FindControl(name); }
    std::vector<std::wstring> TakeEvents() {
        PumpMessages();
        std::vector<std::wstring> out;
        out.swap(events);
        return out;
    }

    std::vector<std::wstring> events;
    std::vector<std::wstring> asked;
};

const char kControlsLayout[] = R"(<?xml version="1.0" encoding="utf-8"?>
<!-- every kind of control once -->
<Window size="400,300" caption="0,0,0,30">
  <VerticalLayout>
    <HorizontalLayout height="30">
      <Label name="title" text="标题 &amp; more" />
      <QXButton name="qx" text="Q" width="40" />
      <Fancy name="unknown" />
    </HorizontalLayout>
    <Button name="btn" text="按钮" height="30" />
    <CheckBox name="chk" text="box" height="30" />
    <Option name="opt_a" group="g" selected="true" height="30" />
    <Option name="opt_b" group="g" height="30" />
    <Edit name="edt" text="12" height="30" />
  </VerticalLayout>
</Window>)";

class UiLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = new RecordingWindow;
        layout_ = new ScratchLayout(kControlsLayout);
        ASSERT_NE(nullptr, window_->Open())
            << std::string(window_->GetBuildError().begin(), window_->GetBuildError().end());
        window_->TakeEvents(); // windowinit
    }
    void TearDown() override {
        ::DestroyWindow(window_->GetHWND());
        PumpMessages();
        delete window_;
        delete layout_;
    }
    RecordingWindow* window_ = nullptr;
    ScratchLayout* layout_ = nullptr;
};

} // namespace

TEST_F(UiLibraryTest, BuildsTheTreeAndAsksForUnknownTags) {
    EXPECT_EQ((std::vector<std::wstring>{L"QXButton", L"Fancy"}), window_->asked);
    EXPECT_EQ(nullptr, window_->Find(L"unknown"));
    ASSERT_NE(nullptr, window_->Find(L"title"));
    EXPECT_EQ(std::wstring(L"标题 & more"), window_->Find(L"title")->GetText().str());
    EXPECT_NE(nullptr, dynamic_cast<CEditUI*>(window_->Find(L"edt")));
    EXPECT_EQ(nullptr, dynamic_cast<CEditUI*>(window_->Find(L"btn")));
    RECT rc;
    ::GetWindowRect(window_->GetHWND(), &rc);
    EXPECT_EQ(400, rc.right - rc.left);
    EXPECT_EQ(300, rc.bottom - rc.top);
    // Controls sit where the layout puts them: the button below the 30-pixel title row.
    RECT button;
    ::GetWindowRect(window_->Find(L"btn")->GetHWND(), &button);
    EXPECT_EQ(30, button.top - rc.top);
    EXPECT_EQ(400, button.right - button.left);
}

TEST_F(UiLibraryTest, MovingToAMonitorOfAnotherScalingTakesTheSuggestedRectangleAndRescales) {
    // Wine never sends this message (every monitor has the system's DPI): sent here as Windows does.
    const auto font_height = [&] {
        LOGFONTW lf{};
        ::GetObjectW(
            reinterpret_cast<HFONT>(::SendMessageW(window_->Find(L"btn")->GetHWND(), WM_GETFONT, 0, 0)),
            sizeof(lf), &lf);
        return lf.lfHeight;
    };
    const LONG height_96 = font_height();
    for (const int dpi : {192, 144}) {
        RECT suggested{100, 50, 100 + 400 * dpi / 96, 50 + 300 * dpi / 96};
        ::SendMessageW(window_->GetHWND(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                       reinterpret_cast<LPARAM>(&suggested));
        RECT rc;
        ::GetWindowRect(window_->GetHWND(), &rc);
        EXPECT_EQ(suggested.left, rc.left);
        EXPECT_EQ(suggested.right, rc.right);
        EXPECT_EQ(suggested.bottom, rc.bottom);
        // The button below the title row: 30 units down and 30 high, in the new scaling.
        const UiRect& btn = window_->Find(L"btn")->GetPos();
        EXPECT_EQ(30 * dpi / 96, btn.top) << dpi;
        EXPECT_EQ(30 * dpi / 96, btn.Height()) << dpi;
        EXPECT_EQ(40 * dpi / 96, window_->Find(L"qx")->GetPos().Width()) << dpi;
        EXPECT_EQ(height_96 * dpi / 96, font_height()) << dpi;
    }
}

TEST_F(UiLibraryTest, UserActionsRaiseNotifications) {
    ::SendMessageW(window_->Find(L"btn")->GetHWND(), BM_CLICK, 0, 0);
    EXPECT_EQ((std::vector<std::wstring>{L"setfocus:btn", L"click:btn"}), window_->TakeEvents());

    auto* chk = dynamic_cast<CCheckBoxUI*>(window_->Find(L"chk"));
    ::SendMessageW(chk->GetHWND(), BM_CLICK, 0, 0);
    EXPECT_EQ((std::vector<std::wstring>{L"killfocus:btn", L"setfocus:chk", L"selectchanged:chk"}),
              window_->TakeEvents());
    EXPECT_TRUE(chk->GetCheck());
    EXPECT_EQ(BST_CHECKED, ::SendMessageW(chk->GetHWND(), BM_GETCHECK, 0, 0));

    auto* b = dynamic_cast<COptionUI*>(window_->Find(L"opt_b"));
    ::SendMessageW(b->GetHWND(), BM_CLICK, 0, 0);
    EXPECT_EQ((std::vector<std::wstring>{L"killfocus:chk", L"setfocus:opt_b", L"unselected:opt_a",
                                         L"selectchanged:opt_b"}),
              window_->TakeEvents());
    EXPECT_TRUE(b->IsSelected());
    EXPECT_FALSE(dynamic_cast<COptionUI*>(window_->Find(L"opt_a"))->IsSelected());
    // Clicking the selected option of a group changes nothing.
    ::SendMessageW(b->GetHWND(), BM_CLICK, 0, 0);
    EXPECT_TRUE(window_->TakeEvents().empty());

    ::SendMessageW(window_->Find(L"edt")->GetHWND(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"34"));
    EXPECT_EQ((std::vector<std::wstring>{L"textchanged:edt"}), window_->TakeEvents());
}

TEST_F(UiLibraryTest, ChangesMadeByTheProgramRaiseNothing) {
    window_->Find(L"edt")->SetText(L"99");
    EXPECT_EQ(std::wstring(L"99"), window_->Find(L"edt")->GetText().str());
    auto* chk = dynamic_cast<CCheckBoxUI*>(window_->Find(L"chk"));
    chk->SetCheck(true, false);
    EXPECT_TRUE(chk->GetCheck());
    chk->SetCheck(false, false);
    window_->Find(L"btn")->SetEnabled(false);
    EXPECT_FALSE(::IsWindowEnabled(window_->Find(L"btn")->GetHWND()));
    EXPECT_TRUE(window_->TakeEvents().empty());

    chk->SetCheck(true, true);
    EXPECT_EQ((std::vector<std::wstring>{L"selectchanged:chk"}), window_->TakeEvents());
}

TEST_F(UiLibraryTest, EnterInAnEditRaisesReturn) {
    const HWND edit = window_->Find(L"edt")->GetHWND();
    ::SetFocus(edit);
    window_->TakeEvents();
    MSG msg{edit, WM_KEYDOWN, VK_RETURN, 0, 0, {}};
    EXPECT_TRUE(CPaintManagerUI::TranslateMessage(&msg));
    EXPECT_EQ((std::vector<std::wstring>{L"return:edt"}), window_->TakeEvents());
}

TEST(UiLibraryBuild, FailuresNameTheFileAndLine) {
    struct Case {
        const char* xml;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {"<Window><VerticalLayout>", L"line 1: missing end tag"},
        {"<Window>\n<Button width=\"wide\" />\n</Window>", L"line 2: bad value for \"width\""},
        {"<Layout><Button /></Layout>", L"the root must be one <Window>"},
    };
    for (const Case& c : cases) {
        ScratchLayout layout(c.xml);
        CDialogBuilder builder;
        std::wstring error;
        EXPECT_EQ(nullptr, builder.Create(L"layout.xml", nullptr, nullptr, error));
        EXPECT_NE(std::wstring::npos, error.find(c.expected)) << c.xml;
        EXPECT_NE(std::wstring::npos, error.find(layout.folder())) << c.xml;
    }
    CDialogBuilder builder;
    std::wstring error;
    EXPECT_EQ(nullptr, builder.Create(L"no-such-layout.xml", nullptr, nullptr, error));
    EXPECT_NE(std::wstring::npos, error.find(L"no-such-layout.xml"));
}

TEST(UiLibraryFont, HasChineseGlyphs) {
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, CPaintManagerUI::GetDefaultFont());
    WORD glyphs[4] = {};
    const DWORD got = ::GetGlyphIndicesW(dc, L"启动连接", 4, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    ASSERT_EQ(4u, got);
    for (WORD g : glyphs) {
        EXPECT_NE(0xFFFF, g);
    }
}

TEST(BaseLibPath, ExecutableFolderWithoutSeparator) {
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::wstring folder = Util::Path::GetResFolder(1);
    EXPECT_EQ(std::wstring(exe), folder + L"\\" + Util::Path::GetFileName(exe));
    EXPECT_NE(L'\\', folder.back());
}
