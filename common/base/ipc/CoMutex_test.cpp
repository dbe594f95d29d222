#include "ipc/CoMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "ipc/CoConditionSignal.h"
#include "ipc/IpcTestSupport.h"

namespace Vantrel {
namespace {

bool takenByAnotherThread(CoMutex& mutex) {
    bool taken = false;
    std::thread([&] {
        if (mutex.tryLock()) {
            taken = true;
            mutex.unlock();
        }
    }).join();
    return taken;
}

// Locking twice is what the analysis is told to reject; this mutex allows it.
void lockTwiceAndUnlockStepByStep(CoMutex& mutex) NO_THREAD_SAFETY_ANALYSIS {
    mutex.lock();
    EXPECT_TRUE(mutex.tryLock());
    EXPECT_FALSE(takenByAnotherThread(mutex));
    mutex.unlock();
    EXPECT_FALSE(takenByAnotherThread(mutex));
    mutex.unlock();
    EXPECT_TRUE(takenByAnotherThread(mutex));
}

TEST(CoMutexTest, HolderMayLockAgainAndMustUnlockOncePerLock) {
    CoMutex mutex;
    lockTwiceAndUnlockStepByStep(mutex);
}

TEST(CoMutexTest, GuardKeepsOtherThreadsOutAndCanStepAsideInsideItsScope) {
    CoMutex mutex;
    {
        CoMutexGuard guard(mutex);
        EXPECT_FALSE(takenByAnotherThread(mutex));
        guard.unlock();
        EXPECT_TRUE(takenByAnotherThread(mutex));
        guard.lock();
        EXPECT_FALSE(takenByAnotherThread(mutex));
    }
    EXPECT_TRUE(takenByAnotherThread(mutex));
}

TEST(CoMutexTest, GuardedIncrementsFromSeveralThreadsAreNotLost) {
    CoMutex mutex;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            CoMutexGuard guard(mutex);
            ++counter;
        }
    };
    std::thread a(work), b(work), c(work);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(counter, 60000);
}

TEST(CoTryLockMutexGuardTest, FreeMutexIsAcquiredAndGivenBackAtScopeEnd) {
    CoMutex mutex;
    {
        CoTryLockMutexGuard guard(mutex);
        EXPECT_TRUE(guard.isAcquired());
        EXPECT_FALSE(takenByAnotherThread(mutex));
    }
    EXPECT_TRUE(takenByAnotherThread(mutex));
}

TEST(CoTryLockMutexGuardTest, MutexHeldByAnotherThreadIsNotAcquiredNorUnlocked) {
    CoMutex mutex;
    CoConditionSignal step;
    int stage = 0;  // 1: the holder has the mutex; 2: the guard is gone
    std::thread holder([&] {
        mutex.lock();
        step.lock();
        stage = 1;
        step.signal();
        while (stage != 2) step.waitForSignal();
        step.unlock();
        // Fails (and stops the process) if the guard had unlocked the holder's mutex.
        mutex.unlock();
    });
    step.lock();
    while (stage != 1) step.waitForSignal();
    {
        CoTryLockMutexGuard guard(mutex);
        EXPECT_FALSE(guard.isAcquired());
    }
    stage = 2;
    step.signal();
    step.unlock();
    holder.join();
    EXPECT_TRUE(takenByAnotherThread(mutex));
}

void unlockWithoutHolding(CoMutex& mutex) NO_THREAD_SAFETY_ANALYSIS { mutex.unlock(); }

TEST(CoMutexDeathTest, UnlockingAMutexNotHeldPostsTheErrorAndStops) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    CoMutex mutex;
    const std::string expected = "Can't release mutex: " + std::to_string(EPERM) + "\n.*Assertion failed: 0";
    EXPECT_DEATH(
        {
            testing::sendStdoutToStderr();
            unlockWithoutHolding(mutex);
        },
        expected);
}

}  // namespace
}  // namespace Vantrel
