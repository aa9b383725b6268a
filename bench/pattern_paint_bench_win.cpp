// One full paint of the pattern on a 3840 x 2160 window with 16 x 16 modules (129,600 edges), against
// a baseline that fills the same rectangle and draws the same lines with one pen, and against drawing
// with a device context and a pen per edge. Run under Wine on a display at least 3840 x 2160 (scripts/bench).
//
// Google Benchmark has no MinGW build among Debian's packages, so this program times its own loop:
// the median and the fastest of a number of paints, each ended with GdiFlush.
#include "seam/gamma_table.h"
#include "seam/seam_drawing_win.h"
#include "seam/seam_grid.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;
constexpr int kRuns = 15;

LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return ::DefWindowProcW(h, m, w, l);
}

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) {
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

void Report(const char* name, const std::function<void()>& paint, double* median_out) {
    std::vector<double> times;
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    paint(); // warm the surface and the pens
    ::GdiFlush();
    for (int i = 0; i < kRuns; ++i) {
        LARGE_INTEGER a, b;
        ::QueryPerformanceCounter(&a);
        paint();
        ::GdiFlush();
        ::QueryPerformanceCounter(&b);
        times.push_back(Seconds(a, b, f));
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("%-34s median %8.2f ms   fastest %8.2f ms   (%d runs)\n", name, median * 1e3, times[0] * 1e3,
                kRuns);
    if (median_out != nullptr) {
        *median_out = median;
    }
}

} // namespace

int main() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PATTERN_PAINT_BENCH";
    ::RegisterClassW(&wc);
    const HWND hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, 0, 0, kWidth,
                                        kHeight, nullptr, nullptr, wc.hInstance, nullptr);
    const int screen_w = ::GetSystemMetrics(SM_CXSCREEN);
    const int screen_h = ::GetSystemMetrics(SM_CYSCREEN);
    if (screen_w < kWidth || screen_h < kHeight) {
        std::printf("warning: the display is %d x %d; parts of the window are clipped\n", screen_w, screen_h);
    }

    ScreenParams params;
    params.screen_width = kWidth;
    params.screen_height = kHeight;
    params.mod_width = 16;
    params.mod_height = 16;
    params.gray_scale = 128;
    params.gamma = 2.2;
    SeamGrid grid;
    SeamGridCache cache;
    grid.BuildSeamGrid(params, cache);
    GammaTable table{};
    BuildGammaTable(2.2f, table);
    const RECT client{0, 0, kWidth, kHeight};
    std::printf("%zu edges on %d x %d\n", grid.Size(), kWidth, kHeight);

    double baseline = 0;
    double ours = 0;
    double tuned = 0;
    Report(
        "baseline: fill + lines, one pen",
        [&] {
            HDC dc = ::GetDC(hwnd);
            FillField(dc, client, 186);
            HPEN pen = ::CreatePen(PS_SOLID, 1, RGB(186, 186, 186));
            const HGDIOBJ old = ::SelectObject(dc, pen);
            for (const SeamSegment& s : grid.Segments()) {
                ::MoveToEx(dc, s.x0, s.y0, nullptr);
                ::LineTo(dc, s.x1, s.y1);
            }
            ::SelectObject(dc, old);
            ::DeleteObject(pen);
            ::ReleaseDC(hwnd, dc);
        },
        &baseline);

    const auto paint = [&] {
        HDC paint_dc = ::GetDC(hwnd); // stands for the BeginPaint context
        FillField(paint_dc, client, BackgroundLevel(table, params.gray_scale));
        HDC dc = ::GetDC(hwnd);
        DrawGrid(dc, grid.Segments(), params.gray_scale, table);
        ::ReleaseDC(hwnd, dc);
        ::ReleaseDC(hwnd, paint_dc);
    };
    Report("paint, all gains 1.0", paint, &ours);

    // A grid after tuning: every seam at its own gain, so the level changes from edge to edge.
    std::vector<SeamSegment> tuned_segments = grid.CopySeamGrid();
    for (size_t i = 0; i < tuned_segments.size(); ++i) {
        tuned_segments[i].gain = 0.7f + 0.005f * static_cast<float>((i * 7919) % 141);
    }
    SeamGrid tuned_grid;
    tuned_grid.ReplaceSeamGrid(tuned_segments);
    Report(
        "paint, tuned gains",
        [&] {
            HDC paint_dc = ::GetDC(hwnd);
            FillField(paint_dc, client, BackgroundLevel(table, params.gray_scale));
            HDC dc = ::GetDC(hwnd);
            DrawGrid(dc, tuned_grid.Segments(), params.gray_scale, table);
            ::ReleaseDC(hwnd, dc);
            ::ReleaseDC(hwnd, paint_dc);
        },
        &tuned);

    Report(
        "a context and a pen per edge",
        [&] {
            HDC paint_dc = ::GetDC(hwnd);
            FillField(paint_dc, client, 186);
            for (const SeamSegment& s : tuned_grid.Segments()) {
                HDC dc = ::GetDC(hwnd);
                const uint8_t v = AllSegmentsLineLevel(table, params.gray_scale, s.gain);
                HPEN pen = ::CreatePen(PS_SOLID, 1, GrayColor(v));
                const HGDIOBJ old = ::SelectObject(dc, pen);
                ::MoveToEx(dc, s.x0, s.y0, nullptr);
                ::LineTo(dc, s.x1, s.y1);
                ::SelectObject(dc, old);
                ::DeleteObject(pen);
                ::ReleaseDC(hwnd, dc);
            }
            ::ReleaseDC(hwnd, paint_dc);
        },
        nullptr);

    std::printf("ratio paint / baseline: %.2f (gains 1.0), %.2f (tuned gains); goal: within 2\n",
                ours / baseline, tuned / baseline);
    ::DestroyWindow(hwnd);
    return 0;
}
