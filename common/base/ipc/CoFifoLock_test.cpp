#include "ipc/CoFifoLock.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "ipc/IpcTestSupport.h"
#include "testing/MessageCapture.h"

namespace Vantrel {
namespace {

TEST(CoFifoLockTest, DumpShowsDepthAndTheHeldItem) {
    CoFifoLock fifo;
    fifo.enqueue(testing::itemOf(41));
    testing::DebugFilter debug;
    testing::MessageCapture capture;
    fifo.dump(false);
    fifo.dump(true);
    char plain[128], verbose[128];
    std::snprintf(plain, sizeof plain, "Fifo %p [depth = 1]", static_cast<void*>(&fifo));
    std::snprintf(verbose, sizeof verbose, "Fifo %p [depth = 1],[_item=%p]", static_cast<void*>(&fifo),
                  testing::itemOf(41));
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{plain, verbose}));
}

TEST(CoFifoLockDeathTest, SecondEnqueueBeforeADequeueStopsAfterTheError) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    CoFifoLock fifo;
    fifo.enqueue(testing::itemOf(1));
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "The fifo capacity \\(1\\) is exceeded\\. Unable to enqueue item: %p\n.*Assertion failed",
                  testing::itemOf(2));
    EXPECT_DEATH(
        {
            testing::sendStdoutToStderr();
            fifo.enqueue(testing::itemOf(2));
        },
        expected);
    // The first item is still there and the slot usable again once it is taken.
    EXPECT_EQ(fifo.dequeue(), testing::itemOf(1));
    fifo.enqueue(testing::itemOf(2));
    EXPECT_EQ(fifo.dequeue(), testing::itemOf(2));
}

}  // namespace
}  // namespace Vantrel
