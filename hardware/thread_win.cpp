#include "hardware/thread_win.h"

#include <cstdint>
#include <initializer_list>

ThreadSystemCalls& ThreadCalls() {
    static ThreadSystemCalls calls;
    return calls;
}

namespace {

// Milliseconds until the calendar clock, read in whole seconds, shows `seconds` more than it shows now:
// between seconds - 1 and seconds of real time.
DWORD UntilWholeSecondsPass(int seconds) {
    FILETIME now_ft;
    ::GetSystemTimeAsFileTime(&now_ft);
    const uint64_t now_ms =
        ((static_cast<uint64_t>(now_ft.dwHighDateTime) << 32) | now_ft.dwLowDateTime) / 10000;
    const uint64_t deadline_ms = (now_ms / 1000 + static_cast<uint64_t>(seconds)) * 1000;
    return static_cast<DWORD>(deadline_ms - now_ms);
}

} // namespace

SimpleMutex::SimpleMutex() {
    Init();
}

SimpleMutex::~SimpleMutex() = default;

int SimpleMutex::Init() {
    if (initialised_) {
        return -1;
    }
    handle_ = UniqueHandle(ThreadCalls().create_mutex(nullptr, FALSE, nullptr));
    if (!handle_.Valid()) {
        return -3;
    }
    initialised_ = true;
    return 0;
}

int SimpleMutex::Lock() {
    if (!initialised_) {
        return -2;
    }
    // An abandoned mutex (its owner was terminated) is granted all the same.
    ::WaitForSingleObject(handle_.get(), INFINITE);
    return 0;
}

int SimpleMutex::Unlock() {
    if (!initialised_) {
        return -2;
    }
    ::ReleaseMutex(handle_.get());
    return 0;
}

JThread::~JThread() {
    Kill();
}

bool JThread::IsRunning() {
    const ScopedLock<SimpleMutex> lock(runningMutex_);
    return running_;
}

int JThread::Result() {
    const ScopedLock<SimpleMutex> lock(runningMutex_);
    return result_;
}

HANDLE JThread::ThreadHandle() {
    const ScopedLock<SimpleMutex> lock(runningMutex_);
    return thread_.get();
}

bool JThread::PrepareSynchronisation() {
    if (mutexesReady_) {
        return true;
    }
    for (SimpleMutex* m : {&runningMutex_, &continueMutex_, &startedMutex_}) {
        if (!m->IsInitialized() && m->Init() != 0) {
            return false;
        }
    }
    if (!runningSignal_.Valid()) {
        runningSignal_ = UniqueHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!runningSignal_.Valid()) {
            return false;
        }
    }
    mutexesReady_ = true;
    return true;
}

int JThread::Start() {
    if (!PrepareSynchronisation()) {
        return -1;
    }
    {
        const ScopedLock<SimpleMutex> lock(runningMutex_);
        if (running_) {
            return -5;
        }
    }
    continueMutex_.Lock();
    DWORD id = 0;
    const HANDLE h = ThreadCalls().create_thread(nullptr, 0, &JThread::Entry, this, 0, &id);
    if (h == nullptr) {
        continueMutex_.Unlock();
        return -2;
    }
    {
        const ScopedLock<SimpleMutex> lock(runningMutex_);
        thread_ = UniqueHandle(h); // the handle of a run before goes now
        threadId_ = id;
    }
    // The handshake: the new thread reports that it runs (or ends without doing so), is let on, and
    // releases the started mutex once its body has begun.
    const HANDLE waits[2] = {runningSignal_.get(), h};
    ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    continueMutex_.Unlock();
    startedMutex_.Lock();
    startedMutex_.Unlock();
    return 0;
}

DWORD WINAPI JThread::Entry(LPVOID param) {
    auto* self = static_cast<JThread*>(param);
    self->startedMutex_.Lock();
    {
        const ScopedLock<SimpleMutex> lock(self->runningMutex_);
        self->running_ = true;
    }
    ::SetEvent(self->runningSignal_.get());
    self->continueMutex_.Lock();
    self->continueMutex_.Unlock();
    int result = -1;
    try {
        result = self->Execute();
    } catch (...) {
        // An exception must not cross the system's thread start: the run counts as failed.
        ::OutputDebugStringA("worker thread: its body ended with an exception\n");
    }
    const ScopedLock<SimpleMutex> lock(self->runningMutex_);
    self->running_ = false;
    self->result_ = result;
    return 0;
}

void JThread::ReleaseStart() {
    if (startedMutex_.IsInitialized()) {
        startedMutex_.Unlock();
    }
}

int JThread::Kill() {
    const ScopedLock<SimpleMutex> lock(runningMutex_);
    if (!lock.Locked() || !running_) {
        return -4;
    }
    ::TerminateThread(thread_.get(), 0);
    thread_.Close();
    running_ = false;
    return 0;
}

void JThread::WaitServingSentMessages() {
    const HANDLE thread = ThreadHandle();
    if (thread == nullptr) {
        return; // never started
    }
    while (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG sent;
        ::PeekMessageW(&sent, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void JThread::StopWithGrace() {
    if (!IsRunning()) {
        return;
    }
    ::WaitForSingleObject(ThreadHandle(), UntilWholeSecondsPass(5));
    Kill(); // -4 and nothing done when the body has ended
}
