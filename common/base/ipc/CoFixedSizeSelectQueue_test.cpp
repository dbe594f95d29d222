#include "ipc/CoFixedSizeSelectQueue.h"

#include <gtest/gtest.h>

#include "ipc/IpcTestSupport.h"

namespace Vantrel {
namespace {

using testing::itemOf;

// Takes the item with the smallest number first, looking at the queue from selectIndex().
class SmallestFirstQueue : public CoFixedSizeSelectQueue {
public:
    using CoFixedSizeSelectQueue::CoFixedSizeSelectQueue;

private:
    unsigned selectIndex() override {
        unsigned best = 0;
        for (unsigned i = 1; i < static_cast<unsigned>(depth()); ++i) {
            if (testing::numberOf(getItem(i)) < testing::numberOf(getItem(best))) best = i;
        }
        return best;
    }
};

TEST(CoFixedSizeSelectQueueTest, DerivedClassChoosesWhichItemLeaves) {
    SmallestFirstQueue queue(8);
    for (uintptr_t number : {5, 3, 9, 1, 7}) queue.enqueue(itemOf(number));
    for (uintptr_t number : {1, 3, 5, 7, 9}) EXPECT_EQ(queue.dequeue(), itemOf(number));
    EXPECT_EQ(queue.tryDequeue(), nullptr);
}

TEST(CoFixedSizeSelectQueueTest, TheFirstItemMovesIntoThePlaceOfTheTakenOne) {
    testing::PickingSelectQueue queue(8, 2);
    for (uintptr_t number : {0, 1, 2, 3}) queue.enqueue(itemOf(number));
    EXPECT_EQ(queue.dequeue(), itemOf(2));
    ASSERT_EQ(queue.depth(), 3);
    EXPECT_EQ(queue.getItem(0), itemOf(1));
    EXPECT_EQ(queue.getItem(1), itemOf(0));
    EXPECT_EQ(queue.getItem(2), itemOf(3));
    queue.pick = 0;
    for (uintptr_t number : {1, 0, 3}) EXPECT_EQ(queue.tryDequeue(), itemOf(number));
}

}  // namespace
}  // namespace Vantrel
