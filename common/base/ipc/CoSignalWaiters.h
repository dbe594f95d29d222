// The threads waiting for one condition signal (CoConditionSignal.h), longest waiting first.
//
// set() releases exactly one of them, the one that has waited longest; with none waiting it
// does nothing, which is what setting an auto-reset event that the next waiter resets before
// it waits amounts to. A thread enrols before it gives the signal's mutex back, so a signal
// given while it is on its way from that unlock to its wait reaches it; a release, once handed
// to a thread, is that thread's alone.
//
// The list's bookkeeping is shared; how a waiter sleeps and is woken is the platform's
// (CoSignalWaiters_posix.cpp: one condition variable for the list; CoSignalWaiters_win32.cpp:
// an auto-reset event per waiter). Failed system calls end as CoConditionSignal.h says.
// Threads: every member may be called from any thread.
#pragma once

#include <memory>

namespace Vantrel {

class CoSignalWaiters {
public:
    // One per waiting thread, on that thread's stack.
    class Waiter {
    public:
        Waiter();
        ~Waiter();
        Waiter(const Waiter&) = delete;
        Waiter& operator=(const Waiter&) = delete;

    private:
        friend class CoSignalWaiters;
        Waiter* next_ = nullptr;
        bool released_ = false;
        void* event_ = nullptr;  // the platform's wake-up object, where it needs one per waiter
    };

    CoSignalWaiters();
    ~CoSignalWaiters();
    CoSignalWaiters(const CoSignalWaiters&) = delete;
    CoSignalWaiters& operator=(const CoSignalWaiters&) = delete;

    // Releases the longest waiting thread, if any.
    void set();
    // Puts `waiter` at the end of the list.
    void enrol(Waiter* waiter);
    // Waits until `waiter` (enrolled) is released or `limitMs` (negative: no limit) has passed,
    // and leaves the list. True when released, also when the release came as the time ran out.
    bool wait(Waiter* waiter, int limitMs);

private:
    // The platform's part.
    class Os;

    // Take and give back the list's own lock.
    void lock();
    void unlock();
    // Under the lock: wakes `waiter`, already marked as released.
    void wake(Waiter* waiter);
    // Called and returns under the lock, which it may give back while it sleeps: sleeps until
    // `waiter` is released or `limitMs` (negative: no limit) has passed.
    void sleep(Waiter* waiter, int limitMs);

    Waiter* remove(Waiter* waiter);

    std::unique_ptr<Os> os_;
    // Reached only under the lock: the waiters not yet released, longest waiting first.
    Waiter* first_ = nullptr;
    Waiter* last_ = nullptr;
};

}  // namespace Vantrel
