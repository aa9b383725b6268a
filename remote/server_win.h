#pragma once

#include <windows.h>

class RemoteLink;
class ReplayQueue;

// The body of the server thread: a hidden worker window to which Winsock reports the events of the
// listening socket (port 6666, every local IPv4 address) and of every accepted connection, and the
// thread's own message loop. It reports to the window `main`; the listening socket goes to `link`.
// Diagnostics go to standard output.
void ServerThreadProc(RemoteLink* link, HWND main);

// What the server thread received and the main window's thread has not replayed yet. Never destroyed:
// the server thread, which is never stopped, may still use it while the process ends.
ReplayQueue& Replay();
