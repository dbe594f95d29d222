// Helpers shared by the tests of this module. Not part of the library.
#pragma once

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include "ipc/CoFixedSizeFifo.h"
#include "ipc/CoFixedSizeSelectQueue.h"
#include "ipc/CoLock.h"
#include "vantrel/CoMsg.h"

namespace Vantrel {
namespace testing {

// A distinct, never dereferenced item pointer for each number.
inline void* itemOf(uintptr_t number) { return reinterpret_cast<void*>(number + 1); }
inline uintptr_t numberOf(void* item) { return reinterpret_cast<uintptr_t>(item) - 1; }

// Lowers the message filter to debug for a test and restores it.
class DebugFilter {
public:
    DebugFilter() : saved_(CoMsg::filterLevel()) { CoMsg::setFilterLevel(CoMsg::DEBUGGING_LEVEL); }
    ~DebugFilter() { CoMsg::setFilterLevel(saved_); }

private:
    CoMsg::Level saved_;
};

// For death tests: messages posted to standard output show up where EXPECT_DEATH looks.
inline void sendStdoutToStderr() {
    std::fflush(stdout);
#ifdef _WIN32
    _dup2(_fileno(stderr), _fileno(stdout));
#else
    dup2(STDERR_FILENO, STDOUT_FILENO);
#endif
}

// A fifo whose free-running counts start `before` steps short of the wrap at 2^32.
class WrappingFifo : public CoFixedSizeFifo {
public:
    WrappingFifo(unsigned size, uint32_t before) : CoFixedSizeFifo(size, 0u - before) {}
};

// Takes the item at the position in `pick`, or the last one when fewer are queued.
class PickingSelectQueue : public CoFixedSizeSelectQueue {
public:
    explicit PickingSelectQueue(unsigned size, unsigned firstPick = 0)
        : CoFixedSizeSelectQueue(size), pick(firstPick) {}
    std::atomic<unsigned> pick;

private:
    unsigned selectIndex() override { return std::min(pick.load(), static_cast<unsigned>(depth()) - 1); }
};

// Runs producer and consumer threads over one queue and returns how often each of the
// producers * itemsPerProducer items was dequeued. No more than `capacity` items are ever
// queued or in the middle of a dequeue, so it suits the fixed-size fifos too. The consumers are
// stopped by markers queued once every item has been taken, so that queues which do not keep
// the order cannot let a marker overtake an item.
inline std::vector<int> countItemsTaken(CoFifoBase& fifo, unsigned capacity, int producers,
                                        int consumers, int itemsPerProducer) {
    static char stopMarker;
    CoLock room(capacity);
    const int total = producers * itemsPerProducer;
    std::atomic<int> takenCount{0};
    std::vector<std::vector<uintptr_t>> takenBy(static_cast<size_t>(consumers));

    std::vector<std::thread> consumerThreads;
    for (int c = 0; c < consumers; ++c) {
        consumerThreads.emplace_back([&fifo, &room, &takenCount, &taken = takenBy[static_cast<size_t>(c)]] {
            for (;;) {
                void* item = fifo.dequeue();
                room.release();
                if (item == &stopMarker) return;
                taken.push_back(numberOf(item));
                ++takenCount;
            }
        });
    }
    std::vector<std::thread> producerThreads;
    for (int p = 0; p < producers; ++p) {
        producerThreads.emplace_back([&fifo, &room, p, itemsPerProducer] {
            for (int i = 0; i < itemsPerProducer; ++i) {
                room.get();
                fifo.enqueue(itemOf(static_cast<uintptr_t>(p * itemsPerProducer + i)));
            }
        });
    }
    for (std::thread& t : producerThreads) t.join();
    while (takenCount.load() < total) std::this_thread::yield();
    for (int c = 0; c < consumers; ++c) {
        room.get();
        fifo.enqueue(&stopMarker);
    }
    for (std::thread& t : consumerThreads) t.join();

    std::vector<int> counts(static_cast<size_t>(total), 0);
    for (const auto& taken : takenBy)
        for (uintptr_t number : taken) {
            if (number < counts.size()) ++counts[number];
        }
    return counts;
}

}  // namespace testing
}  // namespace Vantrel
