// Test helper: stands in for a PDF reader. Appends its arguments after the first, one a line in UTF-8,
// to the file its first argument names, so that a test can see what the tool asked the system to open.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return 2;
    }
    FILE* out = _wfopen(argv[1], L"ab");
    if (out == nullptr) {
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string line(static_cast<size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &line[0], bytes, nullptr, nullptr);
        std::fprintf(out, "%s\n", line.c_str());
    }
    std::fclose(out);
    return 0;
}
