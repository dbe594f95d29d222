#include "ipc/CoLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "ipc/IpcTestSupport.h"

namespace Vantrel {
namespace {

TEST(CoLockTest, CountsGetsAndReleasesFromItsInitialValue) {
    struct Case {
        CoLock* lock;
        unsigned initial;
    };
    CoLock byDefault;
    CoLock three(3);
    CoLock none(0);
    for (const Case& c : {Case{&byDefault, 1}, Case{&three, 3}, Case{&none, 0}}) {
        EXPECT_EQ(c.lock->valueSnapshot(), c.initial);
        for (unsigned i = 0; i < c.initial; ++i) EXPECT_TRUE(c.lock->tryGet()) << c.initial;
        EXPECT_FALSE(c.lock->tryGet()) << c.initial;
        c.lock->release();
        EXPECT_EQ(c.lock->valueSnapshot(), 1u);
        EXPECT_TRUE(c.lock->tryGet());
    }
}

TEST(CoLockTest, GetWaitsForAReleaseFromAnotherThread) {
    CoLock lock(0);
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        lock.get();
        got = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(got);
    lock.release();
    waiter.join();
    EXPECT_TRUE(got);
    EXPECT_EQ(lock.valueSnapshot(), 0u);
}

TEST(CoLockTest, GuardHoldsOneCountForItsScope) {
    CoLock lock;
    {
        CoLockGuard guard(lock);
        EXPECT_FALSE(lock.tryGet());
    }
    EXPECT_TRUE(lock.tryGet());
}

TEST(CoLockDeathTest, InitialValueMustBeBelowMaxCount) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_DEATH(CoLock lock(CoLock::MAX_COUNT), "Assertion failed: value < MAX_COUNT");
}

TEST(CoLockDeathTest, ReleasingPastMaxCountPostsTheErrorAndStops) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    CoLock lock(CoLock::MAX_COUNT - 1);
    lock.release();  // reaches MAX_COUNT
    EXPECT_EQ(lock.valueSnapshot(), CoLock::MAX_COUNT);
    const std::string expected =
        "Can't release semaphore: " + std::to_string(EOVERFLOW) + "\n.*Assertion failed: 0";
    EXPECT_DEATH(
        {
            testing::sendStdoutToStderr();
            lock.release();
        },
        expected);
}

}  // namespace
}  // namespace Vantrel
