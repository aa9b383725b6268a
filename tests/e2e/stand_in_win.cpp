// Test helper standing in for other programs. "hold PATH": opens a file without sharing, the way another
// program can lock a file the operator wants to overwrite, prints "held" and keeps it open until it is
// killed. "record OUT ARG...": a PDF reader that appends its arguments, one a line in UTF-8, to OUT, so
// that a test sees what the tool asked the system to open.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc >= 3 ? argv[1] : L"";
    if (mode == L"hold") {
        if (::CreateFileW(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) ==
            INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "stand_in: cannot open (error %lu)\n", ::GetLastError());
            return 1;
        }
        std::puts("held");
        std::fflush(stdout);
        ::Sleep(INFINITE);
    }
    FILE* out = mode == L"record" ? _wfopen(argv[2], L"ab") : nullptr;
    if (out == nullptr) {
        return 2;
    }
    for (int i = 3; i < argc; ++i) {
        const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string line(static_cast<size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &line[0], bytes, nullptr, nullptr);
        std::fprintf(out, "%s\n", line.c_str());
    }
    std::fclose(out);
    return 0;
}
