#pragma once

// Worker threads for background commands: a mutex with explicit initialisation, a thread with a start
// handshake and forced termination, and a template that runs one member function of an owner object.

#include "lib/baselib/raii_win.h"
#include "lib/uilib/base_thread.h"

#include <windows.h>

// The operating-system calls the classes make, replaceable by tests that need them to fail.
struct ThreadSystemCalls {
    HANDLE(WINAPI* create_mutex)(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR) = ::CreateMutexW;
    HANDLE(WINAPI* create_thread)
    (LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) = ::CreateThread;
};
ThreadSystemCalls& ThreadCalls();

class SimpleMutex {
public:
    SimpleMutex(); // creates the mutex at once; Init retries when that failed
    ~SimpleMutex();
    SimpleMutex(const SimpleMutex&) = delete;
    SimpleMutex& operator=(const SimpleMutex&) = delete;

    int Init();   // 0 created, -1 already initialised, -3 creating failed
    int Lock();   // 0 done, -2 not initialised; waits without time limit
    int Unlock(); // 0 done, -2 not initialised
    bool IsInitialized() const { return initialised_; }

private:
    UniqueHandle handle_;
    bool initialised_ = false;
};

class JThread : public IBaseThread {
public:
    JThread() = default;
    ~JThread() override;

    // 0 once the thread runs and its body has begun; -1 a mutex could not be initialised, -2 the thread
    // could not be created, -5 already running.
    int Start();
    // 0 terminated, -4 not running.
    int Kill();
    virtual int Execute() = 0;

    bool IsRunning();
    // What Execute returned on the last run; -1 when it ended with an exception.
    int Result();
    // Waits until the thread of the last run has ended, serving meanwhile the messages that other
    // threads send to this one: the body may send to a window of this thread and wait for the answer.
    void WaitServingSentMessages();

protected:
    // Waits for a running body up to the grace period (5 whole seconds of the calendar clock), then
    // terminates it.
    void StopWithGrace();
    // Called by the body once it has begun: from here on Start may return.
    void ReleaseStart();

private:
    static DWORD WINAPI Entry(LPVOID self);
    bool PrepareSynchronisation();
    HANDLE ThreadHandle();

    DWORD threadId_ = 0;
    // Open until the next start, a Kill or the object's end: waiting on it is waiting for the thread.
    UniqueHandle thread_;
    int result_ = 0;
    bool running_ = false;
    SimpleMutex runningMutex_;
    SimpleMutex continueMutex_;
    SimpleMutex startedMutex_;
    // Set by the new thread once it runs: the first half of the start handshake.
    UniqueHandle runningSignal_;
    bool mutexesReady_ = false;
};

template <class Owner, class Param> class CEasyUseThread : public JThread {
public:
    using Member = void (Owner::*)(Param);

    CEasyUseThread(Owner* owner = nullptr, Member member = nullptr, Param param = Param())
        : owner_(owner), member_(member), param_(param) {}
    ~CEasyUseThread() override { Stop(); }

    // -1 without owner or member function; otherwise what Start gives.
    int Run() override {
        if (owner_ == nullptr || member_ == nullptr) {
            return -1;
        }
        return Launch(owner_, member_, param_);
    }

    int Launch(Owner* owner, Member member, Param param) {
        if (!IsRunning()) {
            owner_ = owner;
            member_ = member;
            param_ = param;
        }
        return Start();
    }

    void Stop() override { StopWithGrace(); }

    // -1 when the member function ended with an exception (what it left undone, closing its window,
    // stays undone), else 0.
    int Execute() override {
        ReleaseStart();
        if (owner_ != nullptr && member_ != nullptr) {
            try {
                (owner_->*member_)(param_);
            } catch (...) {
                ::OutputDebugStringA("worker thread: its body ended with an exception\n");
                return -1;
            }
        }
        return 0;
    }

private:
    Owner* owner_;
    Member member_;
    Param param_;
};
