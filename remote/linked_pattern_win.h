#pragma once

// What the remote link needs of a pattern window: the window that takes a client's replayed input, the
// client's undo and redo, and the socket it forwards its own input to. The link knows no window class
// of the tool; the pattern window implements this.

#include <windows.h>

#include <cstdint>

// Undo and redo travel to a linked server as input messages of their own (wParam: how many of the
// server's steps). A server that knows nothing of them hands them to its pattern window, which ignores
// messages it does not know.
constexpr UINT WM_SEAM_UNDO = WM_APP + 0x101;
constexpr UINT WM_SEAM_REDO = WM_APP + 0x102;

class LinkedPattern {
public:
    // The open window that takes replayed input; null while it is closed.
    virtual HWND ReplayWindow() const = 0;
    // A client's undo or redo replayed: `count` of the steps replayed from that client, as it counted
    // them.
    virtual void ReplayUndo(bool redo, uint32_t count) = 0;
    // While not 0, the steps recorded are those of the client on this connection (see WirePacket),
    // kept one by one as it counts them, apart from the steps made at this screen and other clients'.
    // Returns the previous value.
    virtual uint64_t SetReplaying(uint64_t source) = 0;
    // The link to `socket` is gone: input is no longer forwarded there.
    virtual void StopForwardingTo(int socket) = 0;

protected:
    ~LinkedPattern() = default;
};
