// Command-line automation of the running tool, for tests and scripts. It finds the main window by its
// class and title, and controls by the layout names the tool attaches to their windows.
//
//   uidriver [--timeout S] list | get NAME | set NAME TEXT | click NAME
//   uidriver msgbox [--timeout S] [--ok [--all] | --yes | --no]: with --all, answers every box as it
//                       comes until none comes within the timeout, and prints "answered N most at once M"
//   uidriver filedialog [--timeout S] [--replace] PATH | A|B|... | --cancel: types PATH (or the files
//                       A, B, ... of one folder) into the tool's open or save dialog and confirms it
//                       (with --replace, also the question whether to replace an existing file), or
//                       cancels the dialog
//   uidriver progress [--timeout S]: the tool's progress window, "bar N" (thousandths) and then its lines
//   uidriver pattern [--timeout S]
//   uidriver window [NAME]: the main window's rectangle and state, "X Y W H normal|maximized|minimized",
//                   or the screen rectangle of the control NAME, "X Y W H"
//   uidriver replay: what a server replayed, "inputs N dropped N notifications N hash HEX"
//
// Exit code 0 on success, 1 when what it waits for does not come, 2 on bad usage.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kMainClass[] = L"VELTRA_SEAM_MAINFRAM";
constexpr wchar_t kMainTitle[] = L"Veltra-Seam V1.0";
constexpr wchar_t kNameProperty[] = L"VeltraControlName";
constexpr wchar_t kReadyProperty[] = L"VeltraWindowReady";
constexpr wchar_t kToolImage[] = L"VeltraSeam.exe";
constexpr UINT kSendTimeoutMs = 5000;

enum Exit { kOk = 0, kMissing = 1, kUsage = 2 };

void Write(const std::wstring& text) {
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                            0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], bytes, nullptr,
                          nullptr);
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written,
                nullptr);
}

int Fail(const std::wstring& why, int code) {
    const std::wstring line = L"uidriver: " + why + L"\n";
    DWORD written = 0;
    const std::string bytes(line.begin(), line.end()); // diagnostics are ASCII
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                nullptr);
    return code;
}

// Polls until the condition yields a window or the time is up.
template <class Find> HWND WaitFor(Find find, DWORD timeout_ms) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (HWND h = find()) {
            return h;
        }
        if (::GetTickCount() - start >= timeout_ms) {
            return nullptr;
        }
        ::Sleep(25);
    }
}

std::wstring ClassOf(HWND h) {
    wchar_t name[64] = {};
    ::GetClassNameW(h, name, 64);
    return name;
}

std::wstring TextOf(HWND h) {
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length)) {
        return std::wstring();
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    ::SendMessageTimeoutW(h, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                          kSendTimeoutMs, &got);
    text.resize(got);
    return text;
}

bool BelongsToTool(HWND h) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(h, &pid);
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) {
        return false;
    }
    wchar_t image[1024] = {};
    DWORD size = 1024;
    const bool ok = ::QueryFullProcessImageNameW(process, 0, image, &size) != FALSE;
    ::CloseHandle(process);
    if (!ok) {
        return false;
    }
    const std::wstring path(image, size);
    const size_t n = wcslen(kToolImage);
    return path.size() >= n && _wcsicmp(path.c_str() + path.size() - n, kToolImage) == 0;
}

// The main window once its start-up is over (it may be found while it is still being created).
HWND MainWindow() {
    const HWND h = ::FindWindowW(kMainClass, kMainTitle);
    return h != nullptr && ::GetPropW(h, kReadyProperty) != nullptr ? h : nullptr;
}

struct Control {
    HWND hwnd;
    std::wstring name;
};

BOOL CALLBACK CollectChild(HWND h, LPARAM out) {
    const auto atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(::GetPropW(h, kNameProperty)));
    if (atom != 0) {
        wchar_t name[256] = {};
        if (::GlobalGetAtomNameW(atom, name, 256) > 0) {
            reinterpret_cast<std::vector<Control>*>(out)->push_back(Control{h, name});
        }
    }
    return TRUE;
}

std::vector<Control> Controls(HWND main) {
    std::vector<Control> out;
    ::EnumChildWindows(main, CollectChild, reinterpret_cast<LPARAM>(&out));
    return out;
}

HWND FindControl(HWND main, const std::wstring& name) {
    for (const Control& c : Controls(main)) {
        if (c.name == name) {
            return c.hwnd;
        }
    }
    return nullptr;
}

const wchar_t* KindOf(HWND h) {
    const std::wstring cls = ClassOf(h);
    if (_wcsicmp(cls.c_str(), L"Edit") == 0) {
        return L"edit";
    }
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
        return L"label";
    }
    switch (::GetWindowLongW(h, GWL_STYLE) & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
        return L"checkbox";
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        return L"option";
    default:
        return L"button";
    }
}

std::wstring CheckedOf(HWND h, const wchar_t* kind) {
    if (wcscmp(kind, L"checkbox") != 0 && wcscmp(kind, L"option") != 0) {
        return L"-";
    }
    DWORD_PTR state = 0;
    ::SendMessageTimeoutW(h, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &state);
    return state == BST_CHECKED ? L"1" : L"0";
}

// The file-name box of the common file dialogs: a combo box in the explorer style, an edit otherwise.
constexpr int kFileNameCombo = 0x47c;
constexpr int kFileNameEdit = 0x480;

HWND FileNameBox(HWND dialog) {
    const HWND combo = ::GetDlgItem(dialog, kFileNameCombo);
    return combo != nullptr ? combo : ::GetDlgItem(dialog, kFileNameEdit);
}

// The first visible top-level window the test accepts.
template <class Test> HWND TopLevel(Test test) {
    struct Search {
        Test& test;
        HWND found;
    } search{test, nullptr};
    ::EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (::IsWindowVisible(h) && s->test(h)) {
                s->found = h;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ToolDialog(bool file_dialog) {
    return TopLevel([file_dialog](HWND h) {
        return ClassOf(h) == L"#32770" && BelongsToTool(h) && (FileNameBox(h) != nullptr) == file_dialog;
    });
}

HWND MessageBoxWindow() {
    return ToolDialog(false);
}

HWND FileDialogWindow() {
    return ToolDialog(true);
}

HWND ProgressWindow() {
    return TopLevel([](HWND h) { return ClassOf(h) == L"VeltraTraceMsgWnd" && BelongsToTool(h); });
}

HWND PatternWindow() {
    return TopLevel([](HWND h) { return ClassOf(h) == kMainClass && ::GetWindowTextLengthW(h) == 0; });
}

bool WaitGone(HWND h, DWORD timeout_ms) {
    return WaitFor([h] { return ::IsWindow(h) ? nullptr : h; }, timeout_ms) != nullptr;
}

int Usage() {
    return Fail(L"usage: uidriver [--timeout S] list | window | get NAME | set NAME TEXT | click NAME | "
                L"msgbox [--ok] | filedialog PATH|--cancel | progress | pattern | replay",
                kUsage);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD timeout_ms = 10000;
    bool press_ok = false;
    bool all = false;
    int answer = IDOK;
    bool replace = false;
    std::vector<std::wstring> words;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--timeout" && i + 1 < argc) {
            wchar_t* end = nullptr;
            const double seconds = wcstod(argv[++i], &end);
            if (end == argv[i] || *end != L'\0' || seconds < 0 || seconds > 3600) {
                return Usage();
            }
            timeout_ms = static_cast<DWORD>(seconds * 1000);
        } else if (a == L"--ok") {
            press_ok = true;
        } else if (a == L"--yes" || a == L"--no") {
            press_ok = true;
            answer = a == L"--yes" ? IDYES : IDNO;
        } else if (a == L"--all") {
            all = true;
        } else if (a == L"--replace") {
            replace = true;
        } else {
            words.push_back(a);
        }
    }
    if (words.empty()) {
        return Usage();
    }
    const std::wstring& command = words[0];

    if (command == L"msgbox" && words.size() == 1 && press_ok && all) {
        int answered = 0;
        int most = 0;
        while (const HWND box = WaitFor(MessageBoxWindow, timeout_ms)) {
            int open = 0;
            ::EnumWindows(
                [](HWND h, LPARAM count) -> BOOL {
                    if (::IsWindowVisible(h) && ClassOf(h) == L"#32770" && BelongsToTool(h)) {
                        ++*reinterpret_cast<int*>(count);
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&open));
            most = open > most ? open : most;
            ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
            if (!WaitGone(box, timeout_ms)) {
                return Fail(L"a message box stayed open", kMissing);
            }
            ++answered;
        }
        Write(L"answered " + std::to_wstring(answered) + L" most at once " + std::to_wstring(most) + L"\n");
        return kOk;
    }
    if (command == L"msgbox" && words.size() == 1) {
        const HWND box = WaitFor(MessageBoxWindow, timeout_ms);
        if (box == nullptr) {
            return Fail(L"no message box of the tool", kMissing);
        }
        if (press_ok) {
            const HWND button = ::GetDlgItem(box, answer);
            ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), reinterpret_cast<LPARAM>(button));
            return WaitGone(box, timeout_ms) ? kOk : Fail(L"the message box stayed open", kMissing);
        }
        // A thread that computed for seconds before it showed the box counts as hung until it has taken
        // its next message: until then the box's texts cannot be read, and reading them again waits.
        std::wstring caption, text;
        for (DWORD waited = 0; caption.empty() && text.empty() && waited <= timeout_ms; waited += 100) {
            caption = TextOf(box), text = TextOf(::GetDlgItem(box, 0xFFFF));
            if (caption.empty() && text.empty()) {
                ::Sleep(100);
            }
        }
        Write(caption + L"\t" + text + L"\n");
        return kOk;
    }
    if (command == L"filedialog" && words.size() == 2) {
        const HWND dialog = WaitFor(FileDialogWindow, timeout_ms);
        if (dialog == nullptr) {
            return Fail(L"no file dialog of the tool", kMissing);
        }
        if (words[1] == L"--cancel") {
            ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDCANCEL)));
        } else {
            // "A|B|C": several files of one folder, chosen as the operator does: the folder first, then
            // every name in quotes.
            std::wstring text = words[1];
            DWORD_PTR result = 0;
            if (const size_t bar = text.find(L'|'); bar != std::wstring::npos) {
                const std::wstring folder = text.substr(0, text.rfind(L'\\', bar) + 1);
                std::wstring names;
                for (size_t at = 0; at <= text.size();) {
                    const size_t end = std::min(text.find(L'|', at), text.size());
                    const std::wstring path = text.substr(at, end - at);
                    names += L"\"" + path.substr(path.rfind(L'\\') + 1) + L"\" ";
                    at = end + 1;
                }
                if (!::SendMessageTimeoutW(FileNameBox(dialog), WM_SETTEXT, 0,
                                           reinterpret_cast<LPARAM>(folder.c_str()), SMTO_ABORTIFHUNG,
                                           kSendTimeoutMs, &result) ||
                    !::SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                                           reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)),
                                           SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) {
                    return Fail(L"the file dialog did not answer", kMissing);
                }
                text = names;
            }
            if (!::SendMessageTimeoutW(FileNameBox(dialog), WM_SETTEXT, 0,
                                       reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                                       kSendTimeoutMs, &result)) {
                return Fail(L"the file dialog did not answer", kMissing);
            }
            ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
            // The question whether to replace an existing file is a box owned by the dialog.
            const HWND question = replace
                                      ? WaitFor(
                                            [dialog] {
                                                const HWND box = MessageBoxWindow();
                                                return box != nullptr && ::GetWindow(box, GW_OWNER) == dialog
                                                           ? box
                                                           : (::IsWindow(dialog) ? nullptr : dialog);
                                            },
                                            timeout_ms)
                                      : nullptr;
            if (question != nullptr && question != dialog) {
                ::PostMessageW(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                               reinterpret_cast<LPARAM>(::GetDlgItem(question, IDYES)));
            }
        }
        return WaitGone(dialog, timeout_ms) ? kOk : Fail(L"the file dialog stayed open", kMissing);
    }
    if (command == L"progress" && words.size() == 1) {
        const HWND window = WaitFor(ProgressWindow, timeout_ms);
        if (window == nullptr) {
            return Fail(L"no progress window", kMissing);
        }
        const auto permille = reinterpret_cast<INT_PTR>(::GetPropW(window, L"VeltraProgress"));
        std::wstring out = L"bar " + std::to_wstring(permille) + L"\n";
        const HWND list = ::FindWindowExW(window, nullptr, L"ListBox", nullptr);
        DWORD_PTR count = 0;
        ::SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &count);
        for (DWORD_PTR i = 0; i < count && count != static_cast<DWORD_PTR>(LB_ERR); ++i) {
            DWORD_PTR length = 0;
            ::SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length);
            std::wstring line(length + 1, L'\0');
            DWORD_PTR got = 0;
            ::SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&line[0]), SMTO_ABORTIFHUNG,
                                  kSendTimeoutMs, &got);
            line.resize(got == static_cast<DWORD_PTR>(LB_ERR) ? 0 : got);
            out += line + L"\n";
        }
        Write(out);
        return kOk;
    }
    if (command == L"pattern" && words.size() == 1) {
        const HWND pattern = WaitFor(PatternWindow, timeout_ms);
        if (pattern == nullptr) {
            return Fail(L"no pattern window", kMissing);
        }
        RECT rc;
        ::GetClientRect(pattern, &rc);
        POINT origin{0, 0};
        ::ClientToScreen(pattern, &origin);
        Write(std::to_wstring(origin.x) + L" " + std::to_wstring(origin.y) + L" " +
              std::to_wstring(rc.right) + L" " + std::to_wstring(rc.bottom) + L"\n");
        return kOk;
    }

    const bool list = command == L"list" && words.size() == 1;
    const bool replay = command == L"replay" && words.size() == 1;
    const bool window = command == L"window" && words.size() == 1;
    const bool control_rect = command == L"window" && words.size() == 2;
    const bool get = command == L"get" && words.size() == 2;
    const bool set = command == L"set" && words.size() == 3;
    const bool click = command == L"click" && words.size() == 2;
    if (!list && !window && !control_rect && !get && !set && !click && !replay) {
        return Usage();
    }
    const HWND main = WaitFor(MainWindow, timeout_ms);
    if (main == nullptr) {
        return Fail(L"the tool's main window is not there", kMissing);
    }
    if (window) {
        RECT rc;
        ::GetWindowRect(main, &rc);
        const wchar_t* state =
            ::IsIconic(main) ? L"minimized" : (::IsZoomed(main) ? L"maximized" : L"normal");
        Write(std::to_wstring(rc.left) + L" " + std::to_wstring(rc.top) + L" " +
              std::to_wstring(rc.right - rc.left) + L" " + std::to_wstring(rc.bottom - rc.top) + L" " +
              state + L"\n");
        return kOk;
    }
    if (replay) {
        DWORD_PTR values[5] = {};
        for (WPARAM i = 0; i < 5; ++i) {
            if (!::SendMessageTimeoutW(main, 0x1007, i, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &values[i])) {
                return Fail(L"the tool did not answer", kMissing);
            }
        }
        wchar_t hash[32];
        swprintf(hash, 32, L"%08lx%08lx", static_cast<unsigned long>(values[4]),
                 static_cast<unsigned long>(values[3]));
        Write(L"inputs " + std::to_wstring(values[0]) + L" dropped " + std::to_wstring(values[1]) +
              L" notifications " + std::to_wstring(values[2]) + L" hash " + hash + L"\n");
        return kOk;
    }
    if (list) {
        std::wstring out;
        for (const Control& c : Controls(main)) {
            const wchar_t* kind = KindOf(c.hwnd);
            out += c.name + L"\t" + kind + L"\t" + (::IsWindowEnabled(c.hwnd) ? L"1" : L"0") + L"\t" +
                   CheckedOf(c.hwnd, kind) + L"\t" + TextOf(c.hwnd) + L"\n";
        }
        Write(out);
        return kOk;
    }
    const std::wstring& name = words[1];
    const HWND control = WaitFor([&] { return FindControl(main, name); }, timeout_ms);
    if (control == nullptr) {
        return Fail(L"no control of that name", kMissing);
    }
    if (control_rect) {
        RECT rc;
        ::GetWindowRect(control, &rc);
        Write(std::to_wstring(rc.left) + L" " + std::to_wstring(rc.top) + L" " +
              std::to_wstring(rc.right - rc.left) + L" " + std::to_wstring(rc.bottom - rc.top) + L"\n");
        return kOk;
    }
    if (get) {
        Write(TextOf(control) + L"\n");
        return kOk;
    }
    if (set) {
        // WM_SETTEXT makes the edit report a change, as typing does.
        DWORD_PTR result = 0;
        if (!::SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(words[2].c_str()),
                                   SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) {
            return Fail(L"the tool did not answer", kMissing);
        }
        return kOk;
    }
    // A mouse click reaches neither a disabled control nor a window behind a modal one.
    if (!::IsWindowEnabled(control) || !::IsWindowEnabled(main) || !::IsWindowVisible(control)) {
        return Fail(L"the control cannot be clicked now", kMissing);
    }
    ::PostMessageW(control, BM_CLICK, 0, 0);
    return kOk;
}
