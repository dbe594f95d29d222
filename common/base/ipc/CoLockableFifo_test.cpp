#include "ipc/CoLockableFifo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ipc/IpcTestSupport.h"

namespace Vantrel {
namespace {

using testing::itemOf;

TEST(CoLockableFifoTest, EnqueueFrontLeavesNextEvenOnAFreshFifo) {
    CoLockableFifo fifo(4);
    fifo.enqueueFront(itemOf(0));  // steps the head count back past 0
    fifo.enqueue(itemOf(1));
    fifo.enqueue(itemOf(2));
    fifo.enqueueFront(itemOf(9));
    EXPECT_EQ(fifo.depth(), 4);
    EXPECT_EQ(fifo.dequeue(), itemOf(9));
    EXPECT_EQ(fifo.dequeue(), itemOf(0));
    EXPECT_EQ(fifo.tryDequeue(), itemOf(1));
    EXPECT_EQ(fifo.tryDequeue(), itemOf(2));
    EXPECT_EQ(fifo.tryDequeue(), nullptr);
}

TEST(CoLockableFifoTest, HeldFifoCanBeEditedWhileAConsumerWaits) {
    CoLockableFifo fifo(4);
    fifo.enqueue(itemOf(1));
    fifo.enqueue(itemOf(2));
    fifo.lock();
    std::atomic<void*> taken{nullptr};
    std::thread consumer([&] { taken = fifo.dequeue(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(taken.load(), nullptr);
    EXPECT_EQ(fifo.getItem(0), itemOf(1));
    EXPECT_EQ(fifo.swapItem(0, itemOf(5)), itemOf(1));
    EXPECT_EQ(fifo.swapItem(1, itemOf(6)), itemOf(2));
    fifo.release();
    consumer.join();
    EXPECT_EQ(taken.load(), itemOf(5));
    EXPECT_EQ(fifo.dequeue(), itemOf(6));
}

TEST(CoLockableFifoTest, HolderMayStillEnqueueWhileOtherProducersWait) {
    CoLockableFifo fifo(4);
    fifo.lock();
    std::atomic<bool> enqueued{false};
    std::thread producer([&] {
        fifo.enqueue(itemOf(2));
        enqueued = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(enqueued);
    fifo.enqueue(itemOf(1));  // re-entrant: no deadlock for the holder
    fifo.release();
    producer.join();
    EXPECT_EQ(fifo.dequeue(), itemOf(1));
    EXPECT_EQ(fifo.dequeue(), itemOf(2));
}

}  // namespace
}  // namespace Vantrel
