#include "app/main_frame.h"

#include "lib/baselib/path.h"

#include <shellapi.h>

#include <string>

namespace {

// The manual lies beside the exe. Its Chinese name must survive any system code page, so the whole
// path stays UTF-16 and has no length limit.
constexpr wchar_t kManualName[] = L"\\使用文档 -Korvane.pdf";

} // namespace

void MainFrame::OpenManual() {
    std::wstring folder = Util::Path::GetModulePath();
    // Cut after the folder: the last backslash at index 1 or later; index 0 is not examined.
    for (size_t i = folder.size(); i-- > 1;) {
        if (folder[i] == L'\\') {
            folder.resize(i);
            break;
        }
    }
    const int bytes = ::WideCharToMultiByte(936, 0, folder.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes > 0) {
        std::string trace(static_cast<size_t>(bytes), '\0');
        ::WideCharToMultiByte(936, 0, folder.c_str(), -1, &trace[0], bytes, nullptr, nullptr);
        ::OutputDebugStringA(trace.c_str());
    }
    const std::wstring manual = folder + kManualName;
    // A missing manual gives no message, as before.
    ::ShellExecuteW(nullptr, L"open", manual.c_str(), L"开发者", nullptr, SW_HIDE);
}
