#pragma once

class MainFrame;
class CScreenCtrlWnd;

// The body of the server thread: a hidden worker window to which Winsock reports the events of the
// listening socket (port 6666, every local IPv4 address) and of every accepted connection, and the
// thread's own message loop. Diagnostics go to standard output.
void ServerThreadProc(MainFrame* main, CScreenCtrlWnd* pattern);

class ReplayQueue;
// What the server thread received and the main window's thread has not replayed yet.
ReplayQueue& Replay();
