// A fixed-size ring whose derived class chooses which item leaves.
//
// The derived class implements selectIndex(). Each dequeue asks it, under the queue's mutex,
// for the position of the item to take, counted from the next to leave; the item that stood
// first moves into the taken item's place, so the order of the others changes when the
// position is above 0. Threads as in CoLockableFifo.
#pragma once

#include "ipc/CoLockableFifo.h"

namespace Vantrel {

class CoFixedSizeSelectQueue : public CoLockableFifo {
public:
    // Capacity 64.
    CoFixedSizeSelectQueue();
    explicit CoFixedSizeSelectQueue(unsigned size);

private:
    void* dequeue_() override;

    // The position, counted from the next to leave, of the item to take: below depth(),
    // which is at least 1 here. Runs with the queue's mutex held; may use depth() and
    // getItem(), and must not dequeue.
    virtual unsigned selectIndex() = 0;
};

}  // namespace Vantrel
