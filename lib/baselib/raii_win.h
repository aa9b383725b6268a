#pragma once

// The one place where Win32 resources get their owners: each class below takes one resource and gives it
// back on every path out of its scope. Sockets have theirs in net::Socket (lib/devicecomm/net.h), which
// pairs each socket with the Winsock start-up it holds, on Windows and POSIX alike.

#include <windows.h>

// A kernel object's handle (file, thread, mutex, event). Both "no handle" values of the API count as
// empty: CreateFile gives INVALID_HANDLE_VALUE, the others null.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    ~UniqueHandle() { Close(); }
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.h_) { other.h_ = nullptr; }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Close();
            h_ = other.h_;
            other.h_ = nullptr;
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }
    // False when closing failed: a written file's close can be the first to report a full disk.
    bool Close() {
        const bool ok = !Valid() || ::CloseHandle(h_) != FALSE;
        h_ = nullptr;
        return ok;
    }

private:
    HANDLE h_ = nullptr;
};

// A device context of a window (or of the screen, for a null window) for one drawing operation.
class WindowDC {
public:
    explicit WindowDC(HWND hwnd) : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
    ~WindowDC() {
        if (dc_ != nullptr) {
            ::ReleaseDC(hwnd_, dc_);
        }
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }

private:
    HWND hwnd_;
    HDC dc_;
};

// The painting of one WM_PAINT: BeginPaint and its EndPaint.
class PaintDC {
public:
    explicit PaintDC(HWND hwnd) : hwnd_(hwnd), dc_(::BeginPaint(hwnd, &ps_)) {}
    ~PaintDC() { ::EndPaint(hwnd_, &ps_); }
    PaintDC(const PaintDC&) = delete;
    PaintDC& operator=(const PaintDC&) = delete;
    HDC get() const { return dc_; }

private:
    HWND hwnd_;
    PAINTSTRUCT ps_{};
    HDC dc_;
};

// A GDI object this code created (pen, brush, font, bitmap). It must not be selected into a context
// when it goes: SelectedObject scopes end first.
template <class T> class GdiObject {
public:
    GdiObject() = default;
    explicit GdiObject(T object) : object_(object) {}
    ~GdiObject() { Reset(); }
    GdiObject(GdiObject&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    GdiObject& operator=(GdiObject&& other) noexcept {
        if (this != &other) {
            Reset();
            object_ = other.object_;
            other.object_ = nullptr;
        }
        return *this;
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

    T get() const { return object_; }
    void Reset(T object = nullptr) {
        if (object_ != nullptr) {
            ::DeleteObject(object_);
        }
        object_ = object;
    }

private:
    T object_ = nullptr;
};

// An object selected into a context for a scope; the one it replaced comes back at the end.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) {
            ::SelectObject(dc_, previous_);
        }
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A popup menu for the length of one right click.
class PopupMenu {
public:
    PopupMenu() : menu_(::CreatePopupMenu()) {}
    ~PopupMenu() {
        if (menu_ != nullptr) {
            ::DestroyMenu(menu_);
        }
    }
    PopupMenu(const PopupMenu&) = delete;
    PopupMenu& operator=(const PopupMenu&) = delete;
    HMENU get() const { return menu_; }

private:
    HMENU menu_;
};

// Memory the system allocated for us with LocalAlloc (FormatMessage's texts).
template <class T> class LocalMemory {
public:
    LocalMemory() = default;
    ~LocalMemory() {
        if (memory_ != nullptr) {
            ::LocalFree(memory_);
        }
    }
    LocalMemory(const LocalMemory&) = delete;
    LocalMemory& operator=(const LocalMemory&) = delete;
    T* get() const { return memory_; }
    T** out() { return &memory_; }

private:
    T* memory_ = nullptr;
};

// The hourglass while the window is blocked on purpose (the cards storing their data).
class WaitCursor {
public:
    WaitCursor() : previous_(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { ::SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR previous_;
};

// Holds a lock of any mutex with Lock and Unlock (SimpleMutex) for a scope. A mutex that could not be
// locked (not initialised) is not unlocked either.
template <class Mutex> class ScopedLock {
public:
    explicit ScopedLock(Mutex& mutex) : mutex_(mutex), locked_(mutex.Lock() == 0) {}
    ~ScopedLock() {
        if (locked_) {
            mutex_.Unlock();
        }
    }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
    bool Locked() const { return locked_; }

private:
    Mutex& mutex_;
    bool locked_;
};
