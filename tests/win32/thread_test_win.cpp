// The worker thread classes under Wine: result codes, the start handshake, the grace period.
#include "hardware/thread_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct Worker {
    std::atomic<int> begun{0};
    std::atomic<int> ended{0};
    std::atomic<bool> release{false};
    void Quick(int) { ++begun, ++ended; }
    void Busy(int) {
        ++begun;
        while (!release) {
            ::Sleep(5);
        }
        ++ended;
    }
};

using Thread = CEasyUseThread<Worker, int>;

// A body that takes its time before it lets Start return, and leaves a result.
class Probe final : public JThread {
public:
    std::atomic<bool> began{false};
    int Run() override { return Start(); }
    void Stop() override {}
    int Execute() override {
        began = true;
        ::Sleep(100);
        ReleaseStart();
        return 7;
    }
};

HANDLE WINAPI NoMutex(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR) {
    return nullptr;
}
HANDLE WINAPI NoThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    return nullptr;
}

template <class T> void WaitIdle(T& thread) {
    while (thread.IsRunning()) {
        ::Sleep(1);
    }
}

double SecondsToDelete(Thread* thread) {
    const auto start = std::chrono::steady_clock::now();
    delete thread;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class ThreadTest : public ::testing::Test {
protected:
    void TearDown() override { ThreadCalls() = ThreadSystemCalls{}; }
};

} // namespace

TEST_F(ThreadTest, ResultCodesFollowTheStateAndStartReturnsOnceTheBodyHasBegun) {
    SimpleMutex mutex;
    EXPECT_EQ(-1, mutex.Init());
    EXPECT_EQ(0, mutex.Lock());
    EXPECT_EQ(0, mutex.Unlock());
    ThreadCalls().create_mutex = NoMutex;
    SimpleMutex failed;
    EXPECT_EQ(-2, failed.Lock());
    EXPECT_EQ(-2, failed.Unlock());
    EXPECT_EQ(-3, failed.Init());
    Worker w;
    Thread no_mutexes(&w, &Worker::Quick, 0);
    EXPECT_EQ(-1, no_mutexes.Run());
    ThreadCalls() = ThreadSystemCalls{};
    EXPECT_EQ(0, failed.Init());
    ThreadCalls().create_thread = NoThread;
    Thread no_thread(&w, &Worker::Quick, 0);
    EXPECT_EQ(-2, no_thread.Run());
    ThreadCalls() = ThreadSystemCalls{};
    EXPECT_EQ(-1, Thread(nullptr, &Worker::Quick, 0).Run());
    EXPECT_EQ(-1, Thread(&w, nullptr, 0).Run());
    EXPECT_EQ(0, w.begun);

    Probe probe;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, probe.Start());
    EXPECT_TRUE(probe.began); // the handshake: Start does not return before the body has begun
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
    WaitIdle(probe);
    EXPECT_EQ(7, probe.Result());

    Thread busy(&w, &Worker::Busy, 0);
    EXPECT_EQ(-4, busy.Kill());
    ASSERT_EQ(0, busy.Run());
    EXPECT_EQ(-5, busy.Run());
    EXPECT_EQ(0, busy.Kill());
    EXPECT_EQ(-4, busy.Kill());
    EXPECT_EQ(0, w.ended);

    // A body that returns at once still lets Start return 0; the idle object starts again, and one
    // whose mutexes failed before gets them now.
    for (Thread* t : {&no_mutexes, &no_mutexes}) {
        ASSERT_EQ(0, t->Run());
        WaitIdle(*t);
    }
    EXPECT_EQ(3, w.begun);
    EXPECT_EQ(2, w.ended);
}

TEST_F(ThreadTest, StopWaitsForABusyBodyThroughTheGracePeriodOnly) {
    Worker w;
    auto* finished = new Thread(&w, &Worker::Quick, 0);
    ASSERT_EQ(0, finished->Run());
    WaitIdle(*finished);
    EXPECT_LT(SecondsToDelete(finished), 0.2);

    auto* ending = new Thread(&w, &Worker::Busy, 0);
    ASSERT_EQ(0, ending->Run());
    std::thread([&w] {
        ::Sleep(300);
        w.release = true;
    }).detach();
    const double waited = SecondsToDelete(ending);
    EXPECT_EQ(2, w.ended);
    EXPECT_GT(waited, 0.2);
    EXPECT_LT(waited, 2.0);

    w.release = false;
    auto* stuck = new Thread(&w, &Worker::Busy, 0);
    ASSERT_EQ(0, stuck->Run());
    const double killed_after = SecondsToDelete(stuck);
    EXPECT_GE(killed_after, 3.9); // 5 whole seconds of the calendar clock: 4 to 5 real seconds
    EXPECT_LT(killed_after, 5.5);
    EXPECT_EQ(2, w.ended); // terminated, not finished
}
