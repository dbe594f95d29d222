// What every queue of the family promises through the common interface.
#include "ipc/CoFifoBase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "ipc/CoFifoLock.h"
#include "ipc/CoLockableFifo.h"
#include "ipc/CoSortedQueue.h"
#include "ipc/IpcTestSupport.h"

namespace Vantrel {
namespace {

using testing::itemOf;

struct QueueKind {
    const char* name;
    std::function<std::unique_ptr<CoFifoBase>()> make;
    unsigned capacity;        // 0: unbounded
    bool severalConsumers;    // false: one producer and one consumer at a time
};

const unsigned RING = 8;

const QueueKind QUEUE_KINDS[] = {
    {"FifoLock", [] { return std::make_unique<CoFifoLock>(); }, 1, false},
    {"FixedSizeFifo", [] { return std::make_unique<CoFixedSizeFifo>(RING); }, RING, true},
    // Starts 1000 short of the count wrap, so the threaded run crosses it.
    {"FixedSizeFifoAcrossWrap", [] { return std::make_unique<testing::WrappingFifo>(RING, 1000); },
     RING, true},
    {"LockableFifo", [] { return std::make_unique<CoLockableFifo>(RING); }, RING, true},
    {"SelectQueueTakingLast", [] { return std::make_unique<testing::PickingSelectQueue>(RING, RING); },
     RING, true},
    {"SortedQueue", [] { return std::make_unique<CoSortedQueue>(); }, 0, true},
};

class EveryQueueTest : public ::testing::TestWithParam<QueueKind> {
protected:
    std::unique_ptr<CoFifoBase> queue = GetParam().make();
};

TEST_P(EveryQueueTest, TryDequeueReturnsNullAtOnceWhenEmpty) {
    EXPECT_EQ(queue->tryDequeue(), nullptr);
    queue->enqueue(itemOf(1));
    EXPECT_EQ(queue->depth(), 1);
    EXPECT_EQ(queue->tryDequeue(), itemOf(1));
    EXPECT_EQ(queue->depth(), 0);
    EXPECT_EQ(queue->tryDequeue(), nullptr);
}

TEST_P(EveryQueueTest, DequeueWaitsForAnEnqueueFromAnotherThread) {
    std::atomic<void*> taken{nullptr};
    std::thread consumer([&] { taken = queue->dequeue(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(taken.load(), nullptr);
    queue->enqueue(itemOf(7));
    consumer.join();
    EXPECT_EQ(taken.load(), itemOf(7));
    EXPECT_EQ(queue->depth(), 0);
}

INSTANTIATE_TEST_SUITE_P(Queues, EveryQueueTest, ::testing::ValuesIn(QUEUE_KINDS),
                         [](const ::testing::TestParamInfo<QueueKind>& info) { return info.param.name; });

std::vector<QueueKind> kindsForSeveralConsumers() {
    std::vector<QueueKind> kinds;
    for (const QueueKind& kind : QUEUE_KINDS)
        if (kind.severalConsumers) kinds.push_back(kind);
    return kinds;
}

// The queues that any number of producers and consumers may share.
class SharedQueueTest : public EveryQueueTest {};

TEST_P(SharedQueueTest, SeveralProducersAndConsumersTakeEveryItemExactlyOnce) {
    const unsigned room = GetParam().capacity != 0 ? GetParam().capacity : 64;
    const std::vector<int> counts = testing::countItemsTaken(*queue, room, 2, 3, 4000);
    for (size_t i = 0; i < counts.size(); ++i) ASSERT_EQ(counts[i], 1) << "item " << i;
    EXPECT_EQ(queue->depth(), 0);
    EXPECT_EQ(queue->tryDequeue(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Queues, SharedQueueTest, ::testing::ValuesIn(kindsForSeveralConsumers()),
                         [](const ::testing::TestParamInfo<QueueKind>& info) { return info.param.name; });

}  // namespace
}  // namespace Vantrel
