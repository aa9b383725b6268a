#pragma once

#include "lib/uilib/uilib.h"
#include "remote/linked_pattern_win.h"
#include "seam/gain_history.h"
#include "seam/gamma_table.h"
#include "seam/photo_layout.h"
#include "seam/screen_params.h"
#include "seam/seam_grid.h"
#include "seam/window_owner_win.h"

#include <map>

// The borderless window over the LED screen on which the operator tunes the seams. One object per
// process: it exists before its window, outlives it, and keeps the grid, gains and gamma table from
// one opening to the next. What it has to tell the main window goes to the owner set on it.
class CScreenCtrlWnd : public WindowImplBase, public LinkedPattern {
public:
    CScreenCtrlWnd() = default;
    ~CScreenCtrlWnd() override = default;

    LPCWSTR GetWindowClassName() const override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hwnd) override { (void)hwnd; } // the object outlives its window
    void InitWindow() override {}
    CDuiString GetSkinFolder() override { return CDuiString(L""); }
    CDuiString GetSkinFile() override { return CDuiString(L"xml\\CScreenCtrlWnd.xml"); }
    UINT GetResourceType() const override { return 1; }
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled) override {
        return WindowImplBase::OnDestroy(msg, wParam, lParam, handled);
    }
    void Notify(TNotifyUI& msg) override { (void)msg; }

    // Drawing on the open window.
    void Paint();
    void DrawAllSegments();
    void DrawSelectedSegments();
    void BlinkSelectedSegment();

    // The keys "Z" and "X": every gain one step, then the whole grid redrawn.
    void StepAllGains(int direction);

    // Commands of the main window that change the whole grid, each one step of the history.
    // `peer_steps` is 1 when the command also acts on a linked server (its click was mirrored there).
    void ResetGains(uint32_t peer_steps);
    // The one call for a command that computes a new grid (import, read back, photo correction):
    // records the step and installs `next`. `screens` (before, after), when the command also changes
    // the screen description and the sizes the grid belongs to, as an import does.
    void ApplyGridCommand(std::vector<SeamSegment>&& next, uint32_t peer_steps,
                          const ScreenState* screens = nullptr);

    // Ctrl+Z / Ctrl+Y: the latest step undone or redone; when it had travelled, the server is asked to
    // do the same through `socket` (-1: not linked).
    void UndoStep(bool redo, int socket);

    // Takes the screen description and builds its grid as an opening does (the grid and its history
    // stay when the sizes are those of the last build; a rebuild is one step of the history).
    void TakeScreen(const ScreenParams& screen);
    // Opens the window over the screen and returns once it has been closed.
    void Open(HWND parent, const ScreenParams& screen, int socket);
    void SetOwner(PatternWindowOwner* owner) { owner_ = owner; }

    // What the photo mode last showed: the sizes and regions, and the gains it drew the lines at. A
    // photo correction reads its photos as photos of it.
    struct PhotoModeRecord {
        bool shown = false;
        ScreenParams params{};
        std::vector<PhotoRegion> regions;
        std::vector<float> gains;
    };
    const PhotoModeRecord& LastPhotoMode() const { return photoRecord_; }
    // A grid changed by a command after the photos were taken no longer matches them.
    void ForgetPhotoMode() { photoRecord_ = PhotoModeRecord{}; }

    const SeamGrid& Grid() const { return grid; }
    // The screen description the grid held belongs to.
    const ScreenParams& GridParams() const { return gridParams_; }
    // Installs a grid an ended run held, with the screen description and sizes it belonged to; that
    // run's steps went with it, so the history starts empty.
    void RestoreGrid(std::vector<SeamSegment>&& records, const ScreenParams& belongs_to);
    int BlinkCounter() const { return blinkCounter; }
    int WheelThreshold() const { return wheelThreshold; }

    // The remote link's side.
    HWND ReplayWindow() const override { return hwnd_; }
    void ReplayUndo(bool redo, uint32_t count) override;
    uint64_t SetReplaying(uint64_t source) override;
    void StopForwardingTo(int socket) override;

private:
    void OnWheel(WPARAM wParam);
    void OnKeyDown(WPARAM key);
    bool StepByKey(WPARAM key, bool shift);
    void ClickAt(uint16_t x, uint16_t y);
    void OnLeftButtonUp(LPARAM lParam);
    void Record(StepKind kind, const GainSnapshot& before, uint32_t peer_steps);
    void Redraw(size_t size_before);
    void Undone(const HistoryStep& step, bool redo);
    void SelectionChanged();
    void ShowMenu(LPARAM lParam);
    void Forward(UINT msg, WPARAM wParam, LPARAM lParam);
    void RefreshGammaTable();
    // The photo mode ("P"): the wall shown region by region, black around the region, every edge line
    // at its gain stepped by the calibration lines' checkerboard. Keys move between regions; nothing
    // else is taken, and nothing travels to a linked server.
    bool PhotoModeMessage(UINT msg, WPARAM wParam);
    void EnterPhotoMode();
    void LeavePhotoMode();
    void ShowRegion(size_t index);
    void PaintPhotoMode();
    void LimitHistory();
    GainHistory& Steps();

    SeamGrid grid;
    int blinkCounter = 0;
    ScreenParams params{};
    // The screen description the grid held belongs to: the opening that built or kept it, the imported
    // file's header, or what an undo gave back. A rebuild's step gives it back to the fields.
    ScreenParams gridParams_{};
    GammaTable gammaTable{};
    int wheelThreshold = 0;
    int forwardSocket = -1;
    GainHistory history{0}; // the steps made at this screen
    // The steps replayed from each client, by connection.
    static constexpr size_t kMaxReplayedHistories = 8;
    std::map<uint64_t, GainHistory> replayedHistories;
    // Not 0 while a linked client's input or notification is replayed here: the connection it came
    // in on. Those steps are kept one by one, as the client counts them.
    uint64_t replaying = 0;
    PatternWindowOwner* owner_ = nullptr;
    bool photoMode_ = false;
    size_t region_ = 0;
    std::vector<int8_t> photoSigns_;
    PhotoModeRecord photoRecord_;
};

// The single pattern window object; null until first needed.
extern CScreenCtrlWnd* g_patternWindow;

// Makes the object on first need; g_patternWindow stays null when it cannot be had.
void CreatePatternWindowObject();
// The object, made now if there is none, with `owner` (when given) as the one it tells; false, after
// telling the owner, when it cannot be had.
bool EnsurePatternWindowObject(PatternWindowOwner* owner);

// Opens the window over the screen the parameters describe and returns once it has been closed.
void OpenPatternWindow(HWND parent, const ScreenParams& params, int socket,
                       PatternWindowOwner* owner = nullptr);

constexpr UINT kPatternMenuExit = 100;
constexpr UINT_PTR kBlinkTimer = 1;
