#include "ipc/CoConditionSignal.h"

#include <gtest/gtest.h>

#include <thread>

#include "osal/CoTime.h"

namespace Vantrel {
namespace {

// A flag guarded by a condition signal, and the usual waiting loop around it.
struct Flag {
    CoConditionSignal signal;
    bool raised = false;
    int waiting = 0;

    void raise() {
        signal.lock();
        raised = true;
        signal.signal();
        signal.unlock();
    }
    // Waits until a test thread reports `count` waiters parked in waitForSignal.
    void awaitWaiters(int count) {
        for (;;) {
            signal.lock();
            const bool ready = waiting == count;
            signal.unlock();
            if (ready) return;
            std::this_thread::yield();
        }
    }
};

TEST(CoConditionSignalTest, TimedWaitWithoutSignalTimesOutWithNoTimeLeft) {
    CoConditionSignal signal;
    int timeoutMs = 50;
    signal.lock();
    const uint64_t start = CoTime::monotonicMs();
    EXPECT_FALSE(signal.waitForSignal(&timeoutMs));
    const uint64_t elapsed = CoTime::monotonicMs() - start;
    signal.unlock();
    EXPECT_EQ(timeoutMs, 0);
    EXPECT_GE(elapsed, 49u);  // never returns early; the clock counts whole milliseconds
}

TEST(CoConditionSignalTest, SignalWakesAThreadWaitingWithoutLimit) {
    Flag flag;
    std::thread waiter([&] {
        flag.signal.lock();
        while (!flag.raised) flag.signal.waitForSignal();
        flag.signal.unlock();
    });
    flag.raise();
    waiter.join();
}

TEST(CoConditionSignalTest, SignalledTimedWaitReportsTheTimeLeft) {
    struct Case {
        int limitMs;
    };
    for (const Case c : {Case{10000}, Case{-1}}) {
        Flag flag;
        int timeoutMs = c.limitMs;
        bool signalled = false;
        std::thread waiter([&] {
            flag.signal.lock();
            ++flag.waiting;
            signalled = flag.signal.waitForSignal(&timeoutMs);
            flag.signal.unlock();
        });
        flag.awaitWaiters(1);
        flag.raise();
        waiter.join();
        EXPECT_TRUE(signalled) << c.limitMs;
        if (c.limitMs < 0) {
            EXPECT_EQ(timeoutMs, -1);  // still no limit for a caller that waits again
        } else {
            EXPECT_GT(timeoutMs, 0);
            EXPECT_LE(timeoutMs, c.limitMs);
        }
    }
}

TEST(CoConditionSignalTest, SignalGivenWhileNoThreadWaitsIsLost) {
    CoConditionSignal signal;
    signal.signal();
    signal.lock();
    int timeoutMs = 50;
    EXPECT_FALSE(signal.waitForSignal(&timeoutMs));
    signal.unlock();
}

TEST(CoConditionSignalTest, ThreadThatStartsWaitingAfterASignalCannotTakeItFromAWaiter) {
    Flag flag;
    bool woken = false;
    std::thread earlier([&] {
        flag.signal.lock();
        ++flag.waiting;
        flag.signal.waitForSignal();
        woken = true;
        flag.signal.unlock();
    });
    flag.awaitWaiters(1);
    flag.signal.signal();
    flag.signal.lock();
    int timeoutMs = 100;
    const bool taken = flag.signal.waitForSignal(&timeoutMs);
    flag.signal.unlock();
    EXPECT_FALSE(taken);
    if (taken) flag.signal.signal();  // lets the earlier waiter end after all
    earlier.join();
    EXPECT_TRUE(woken);
}

TEST(CoConditionSignalTest, EachSignalWakesExactlyOneWaiter) {
    Flag flag;
    int woken = 0;
    auto waiter = [&] {
        flag.signal.lock();
        ++flag.waiting;
        flag.signal.waitForSignal();
        --flag.waiting;
        ++woken;
        flag.signal.unlock();
    };
    std::thread first(waiter), second(waiter);
    flag.awaitWaiters(2);
    flag.signal.signal();
    flag.awaitWaiters(1);
    // Give a wrongly woken second waiter time to show up.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    flag.signal.lock();
    EXPECT_EQ(woken, 1);
    flag.signal.unlock();
    flag.signal.signal();
    first.join();
    second.join();
    EXPECT_EQ(woken, 2);
}

}  // namespace
}  // namespace Vantrel
