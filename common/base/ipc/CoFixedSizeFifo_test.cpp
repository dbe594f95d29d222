#include "ipc/CoFixedSizeFifo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ipc/IpcTestSupport.h"
#include "testing/MessageCapture.h"

namespace Vantrel {
namespace {

using testing::itemOf;

TEST(CoFixedSizeFifoTest, CapacityIsRoundedUpToAPowerOfTwoAndTheRoundingReported) {
    struct Case {
        unsigned size;
        unsigned capacity;
    };
    testing::DebugFilter debug;
    for (const Case c : {Case{1, 1}, Case{2, 2}, Case{3, 4}, Case{4, 4}, Case{64, 64}, Case{100, 128}}) {
        testing::MessageCapture capture;
        CoFixedSizeFifo fifo(c.size);
        EXPECT_EQ(fifo.capacity(), c.capacity) << c.size;
        std::vector<std::string> expected;
        if (c.size != c.capacity) {
            expected.push_back("Rounding up the size of the fifo to: " + std::to_string(c.capacity) + "\n");
        }
        EXPECT_EQ(capture.texts(), expected) << c.size;
        EXPECT_EQ(capture.messages().empty() ? CoMsg::DEBUGGING_LEVEL : capture.messages()[0].level(),
                  CoMsg::DEBUGGING_LEVEL);
    }
    EXPECT_EQ(CoFixedSizeFifo().capacity(), 64u);
}

TEST(CoFixedSizeFifoTest, RoundedFifoHoldsItsFullCapacityInOrder) {
    CoFixedSizeFifo fifo(3);
    for (uintptr_t i = 0; i < 4; ++i) fifo.enqueue(itemOf(i));
    EXPECT_EQ(fifo.depth(), 4);
    for (uintptr_t i = 0; i < 4; ++i) EXPECT_EQ(fifo.dequeue(), itemOf(i));
    EXPECT_EQ(fifo.depth(), 0);
}

TEST(CoFixedSizeFifoTest, CountsWrapAt2To32WithoutLosingOrderOrDepth) {
    testing::WrappingFifo fifo(4, 2);  // counts start at 0xFFFFFFFE
    fifo.enqueue(itemOf(1));
    fifo.enqueue(itemOf(2));
    fifo.enqueue(itemOf(3));  // the tail count has wrapped to 1
    EXPECT_EQ(fifo.depth(), 3);
    EXPECT_EQ(fifo.getItem(0), itemOf(1));
    EXPECT_EQ(fifo.getItem(2), itemOf(3));
    EXPECT_EQ(fifo.dequeue(), itemOf(1));
    fifo.enqueue(itemOf(4));
    fifo.enqueue(itemOf(5));
    EXPECT_EQ(fifo.depth(), 4);

    testing::DebugFilter debug;
    testing::MessageCapture capture;
    fifo.dump(true);
    std::vector<std::string> expected;
    char line[128];
    std::snprintf(line, sizeof line, "Fifo %p [depth = 4]", static_cast<void*>(&fifo));
    expected.push_back(line);
    for (uintptr_t i = 0; i < 4; ++i) {
        std::snprintf(line, sizeof line, "Item %d: %p", static_cast<int>(i), itemOf(i + 2));
        expected.push_back(line);
    }
    EXPECT_EQ(capture.texts(), expected);

    for (uintptr_t i = 2; i <= 5; ++i) EXPECT_EQ(fifo.tryDequeue(), itemOf(i));
    EXPECT_EQ(fifo.depth(), 0);
    EXPECT_EQ(fifo.tryDequeue(), nullptr);
}

TEST(CoFixedSizeFifoDeathTest, SizeMustBeAboveZeroAndWithinTheLargestCapacity) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_DEATH(CoFixedSizeFifo fifo(0), "Assertion failed: size > 0");
    // Above 2^31 the rounding would never end.
    EXPECT_DEATH(CoFixedSizeFifo fifo(0x80000001u), "Assertion failed: size <= ");
}

}  // namespace
}  // namespace Vantrel
