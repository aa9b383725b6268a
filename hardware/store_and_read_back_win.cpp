// "btn_solidify" and "btn_read_back": both run on the dispatching thread and report in message boxes.
#include "files/file_io_win.h"
#include "hardware/coefficient_file.h"
#include "hardware/hardware_commands_win.h"
#include "hardware/read_back.h"
#include "hardware/solidify.h"
#include "lib/baselib/memory_budget.h"
#include "lib/baselib/raii_win.h"
#include "seam/pattern_window_win.h"

#include <cstdio>
#include <memory>

void HardwareCommands::OnSolidify() {
    bool stored = false;
    {
        const WaitCursor wait; // the window is blocked for two seconds by design
        stored = SolidifyCards(commManager, [](int ms) { ::Sleep(static_cast<DWORD>(ms)); });
    }
    if (!stored) {
        host_.ShowMessage("device errer", "warnning");
        return;
    }
    host_.ShowMessage("save seam data finish", " ");
}

void HardwareCommands::OnReadBack(const std::wstring& coefficientPath) {
    if (g_patternWindow == nullptr) {
        host_.ShowMessage("ERRER", "WARNING");
        return;
    }
    const ScreenParams params = host_.ReadScreenParams();
    if (coefficientPath.empty()) {
        host_.ShowMessageW(
            L"No coefficient file has been chosen: choose one with the coefficient file button "
            L"(btn_import_coef) first. The gains are unchanged.",
            L"WARNING");
        return;
    }
    InputFile file = OpenForReading(coefficientPath);
    int64_t size = -1;
    if (file && _fseeki64(file.get(), 0, SEEK_END) == 0) {
        size = _ftelli64(file.get());
        _fseeki64(file.get(), 0, SEEK_SET);
    }
    if (!file || size < 0) {
        host_.ShowMessageW(L"The coefficient file " + Quoted(coefficientPath) +
                               L" cannot be read. The gains are unchanged.",
                           L"WARNING");
        return;
    }
    GainMap map;
    uint64_t bad = 0;
    CoefficientFileStatus status = CoefficientFileStatus::ReadFailed;
    {
        const WaitCursor busy; // an 8K wall's file is 132 MB
        status = ReadCoefficientFile(
            [&](uint8_t* buffer, size_t n) { return std::fread(buffer, 1, n, file.get()); },
            static_cast<uint64_t>(size), params.screen_width, params.screen_height, MemoryBudget(), map,
            &bad);
    }
    switch (status) {
    case CoefficientFileStatus::Ok:
        break;
    case CoefficientFileStatus::WrongSize: {
        const uint64_t cells =
            static_cast<uint64_t>(params.screen_width) * static_cast<uint64_t>(params.screen_height);
        host_.ShowMessageW(
            L"The coefficient file " + Quoted(coefficientPath) + L" holds " + std::to_wstring(size) +
                L" bytes; for a screen of " + std::to_wstring(params.screen_width) + L" x " +
                std::to_wstring(params.screen_height) + L" it must hold " + std::to_wstring(cells * 4) +
                L" bytes (a gain per pixel) or " + std::to_wstring(cells) +
                L" bytes (the cards' bytes). The gains are unchanged.",
            L"WARNING");
        return;
    }
    case CoefficientFileStatus::ReadFailed:
        host_.ShowMessageW(L"The coefficient file " + Quoted(coefficientPath) +
                               L" cannot be read. The gains are unchanged.",
                           L"WARNING");
        return;
    case CoefficientFileStatus::BadGain: {
        const uint64_t width = static_cast<uint64_t>(params.screen_width);
        host_.ShowMessageW(L"系数文件 " + Quoted(coefficientPath) + L" 未读取：第 " +
                               std::to_wstring(bad + 1) + L" 个像素（第 " + std::to_wstring(bad / width) +
                               L" 行第 " + std::to_wstring(bad % width) + L" 列，从 0 起）的增益 " +
                               GainText(map.cells[static_cast<size_t>(bad)]) +
                               L" 不是 0 到 2 之间的数：文件已损坏，或不是这块屏的系数文件。增益没有改变。",
                           L"warnning");
        return;
    }
    case CoefficientFileStatus::NoMemory:
        return; // a map that cannot be had ends the command without a message
    }
    if (static_cast<uint64_t>(g_patternWindow->Grid().Size()) * sizeof(SeamSegment) > MemoryBudget()) {
        return; // a copy of the grid cannot be had: as for a map that cannot be had, nothing changes
    }
    const WaitCursor busy;
    std::vector<SeamSegment> segments = g_patternWindow->Grid().CopySeamGrid();
    AverageSegmentGains(map, segments);
    map = GainMap{};
    g_patternWindow->ApplyGridCommand(std::move(segments), 0); // a server reads back its own cards
}
