#include "ipc/CoSignalWaiters.h"

namespace Vantrel {

void CoSignalWaiters::set() {
    lock();
    if (first_ != nullptr) {
        Waiter* waiter = remove(first_);
        waiter->released_ = true;
        wake(waiter);
    }
    unlock();
}

void CoSignalWaiters::enrol(Waiter* waiter) {
    lock();
    if (last_ != nullptr) {
        last_->next_ = waiter;
    } else {
        first_ = waiter;
    }
    last_ = waiter;
    unlock();
}

bool CoSignalWaiters::wait(Waiter* waiter, int limitMs) {
    lock();
    sleep(waiter, limitMs);
    const bool released = waiter->released_;
    if (!released) remove(waiter);
    unlock();
    return released;
}

CoSignalWaiters::Waiter* CoSignalWaiters::remove(Waiter* waiter) {
    Waiter* previous = nullptr;
    Waiter** link = &first_;
    while (*link != waiter) {
        previous = *link;
        link = &previous->next_;
    }
    *link = waiter->next_;
    if (last_ == waiter) last_ = previous;
    return waiter;
}

}  // namespace Vantrel
