#include "hardware/thread_win.h"

#include <initializer_list>

ThreadSystemCalls& ThreadCalls() {
    static ThreadSystemCalls calls;
    return calls;
}

SimpleMutex::SimpleMutex() {
    Init();
}

SimpleMutex::~SimpleMutex() {
    if (initialised_) {
        ::CloseHandle(handle_);
    }
}

int SimpleMutex::Init() {
    if (initialised_) {
        return -1;
    }
    handle_ = ThreadCalls().create_mutex(nullptr, FALSE, nullptr);
    if (handle_ == nullptr) {
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
    ::WaitForSingleObject(handle_, INFINITE);
    return 0;
}

int SimpleMutex::Unlock() {
    if (!initialised_) {
        return -2;
    }
    ::ReleaseMutex(handle_);
    return 0;
}

JThread::~JThread() {
    Kill();
}

bool JThread::IsRunning() {
    runningMutex_.Lock();
    const bool running = running_;
    runningMutex_.Unlock();
    return running;
}

int JThread::Result() {
    runningMutex_.Lock();
    const int result = result_;
    runningMutex_.Unlock();
    return result;
}

int JThread::Start() {
    try {
        if (!mutexesReady_) {
            for (SimpleMutex* m : {&runningMutex_, &continueMutex_, &startedMutex_}) {
                if (!m->IsInitialized() && m->Init() != 0) {
                    return -1;
                }
            }
            mutexesReady_ = true;
        }
        runningMutex_.Lock();
        if (running_) {
            runningMutex_.Unlock();
            return -5;
        }
        runningMutex_.Unlock();

        continueMutex_.Lock();
        DWORD id = 0;
        const HANDLE h = ThreadCalls().create_thread(nullptr, 0, &JThread::Entry, this, 0, &id);
        if (h == nullptr) {
            continueMutex_.Unlock();
            return -2;
        }
        runningMutex_.Lock();
        thread_ = h;
        threadId_ = id;
        runningMutex_.Unlock();

        // The handshake: the new thread reports that it runs, is let on, and releases the started mutex
        // once its body has begun.
        runningMutex_.Lock();
        while (!running_) {
            runningMutex_.Unlock();
            ::Sleep(1);
            runningMutex_.Lock();
        }
        runningMutex_.Unlock();
        continueMutex_.Unlock();
        startedMutex_.Lock();
        startedMutex_.Unlock();
        return 0;
    } catch (...) {
        return 0;
    }
}

DWORD WINAPI JThread::Entry(LPVOID param) {
    auto* self = static_cast<JThread*>(param);
    try {
        self->startedMutex_.Lock();
        self->runningMutex_.Lock();
        self->running_ = true;
        self->runningMutex_.Unlock();
        self->continueMutex_.Lock();
        self->continueMutex_.Unlock();
        const int result = self->Execute();
        self->runningMutex_.Lock();
        self->running_ = false;
        self->result_ = result;
        // The thread is ours to end from here: its handle goes, and Kill finds nothing to terminate.
        ::CloseHandle(self->thread_);
        self->thread_ = nullptr;
        self->runningMutex_.Unlock();
    } catch (...) {
    }
    return 0;
}

void JThread::ReleaseStart() {
    if (startedMutex_.IsInitialized()) {
        startedMutex_.Unlock();
    }
}

int JThread::Kill() {
    try {
        if (runningMutex_.Lock() != 0) {
            return -4;
        }
        if (!running_) {
            runningMutex_.Unlock();
            return -4;
        }
        ::TerminateThread(thread_, 0);
        ::CloseHandle(thread_);
        thread_ = nullptr;
        running_ = false;
        runningMutex_.Unlock();
        return 0;
    } catch (...) {
        return 0;
    }
}

void JThread::StopWithGrace() {
    if (!IsRunning()) {
        return;
    }
    const std::time_t start = std::time(nullptr);
    while (IsRunning() && std::time(nullptr) - start < 5) {
        ::Sleep(50);
    }
    Kill(); // -4 and nothing done when the body has ended
}
