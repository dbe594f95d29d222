#include "tcp/CoSocketWait.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace Vantrel {
namespace {

TEST(CoWakeupTest, WakeMakesTheWaitReadableUntilDrained) {
    CoWakeup wakeup;
    std::vector<int> readable;
    std::string error;
    EXPECT_EQ(coWaitReadable({wakeup.waitId()}, 0, readable, error), 0);
    EXPECT_TRUE(readable.empty());

    // Several wake-ups before a drain read as one, and a drain takes them all back.
    wakeup.wake();
    wakeup.wake();
    ASSERT_EQ(coWaitReadable({wakeup.waitId()}, 0, readable, error), 1) << error;
    EXPECT_EQ(readable, std::vector<int>{wakeup.waitId()});
    wakeup.drain();
    EXPECT_EQ(coWaitReadable({wakeup.waitId()}, 0, readable, error), 0);
    EXPECT_TRUE(readable.empty());
}

TEST(CoWakeupTest, WakeFromAnotherThreadEndsAWaitWithoutLimit) {
    CoWakeup wakeup;
    CoWakeup idle;
    std::thread waker([&wakeup] { wakeup.wake(); });
    std::vector<int> readable;
    std::string error;
    const int ready = coWaitReadable({idle.waitId(), wakeup.waitId()}, -1, readable, error);
    waker.join();
    ASSERT_EQ(ready, 1) << error;
    EXPECT_EQ(readable, std::vector<int>{wakeup.waitId()});
}

}  // namespace
}  // namespace Vantrel
