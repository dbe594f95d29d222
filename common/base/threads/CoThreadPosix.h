// The thread of the platform: a pthread with the platform's default stack size on Linux, a
// thread of the C run-time (_beginthreadex) on Windows.
//
// Life: created (state 0), started (1), finished its task (2), joined or killed (3); start()
// may begin the cycle again. The main thread's object stands for the thread that created the
// manager: it is never started, joined or killed, but its scheduling and processor can be read
// and set.
//
// Threads: each object's state and scheduling record are guarded by its own CoLock, which is
// never held while the task runs or while joining. join() and kill() are called by one thread,
// the owner, at a time. Destroying an object whose thread was started and not yet joined waits
// for the thread's end (a thread that destroys its own object lets it go instead).
#pragma once

#include <atomic>
#include <memory>

#include "ipc/CoLock.h"
#include "threads/CoThread.h"

namespace Vantrel {

class CoThreadPosix : public CoThread {
public:
    // A MAIN_THREAD object stands for the calling thread, which runs already.
    CoThreadPosix(CoTask* task, const char* name, ThreadType type, int cpu, PriorityType priority,
                  PolicyType policy);
    ~CoThreadPosix() override;

    // Not for the main thread nor a running one (assertions "getType() != MAIN_THREAD",
    // "!isRunningNoLock()"). Creates the thread, then applies the recorded priority, policy and
    // processor before the task starts. A refusal of the system to create a thread posts
    // "Error creating thread: %i" and stops the process.
    void start() override;
    // Asks the task to stop (CoTask::stop); not for the main thread.
    void stop() override;
    // For a NEW_THREAD only: waits without limit for the end of a started thread; returns at
    // once for one that was never started or is joined already.
    void join() override;
    // Ends a started NEW_THREAD and waits for it. On Windows this is cooperative: the task is
    // asked to stop (CoTask::stop), and kill() waits for the task's end. On Linux it is a
    // cancellation:
    // the thread ends at its next cancellation point (a sleep, a blocking read, a semaphore or
    // condition wait, ...), unwinding its stack, and kill() waits for that. A task that never
    // reaches one cannot be killed and kill() then waits for the task's end.
    void kill() override;
    bool isSameThread(const CoThread& other) override;
    bool isRunning() override;
    unsigned getThreadId() const override;
    bool isCpuAffinitySupported() const override;

    // The processor of a running thread (and of the main thread) as the system reports it,
    // otherwise the recorded one.
    int getCpu() const override;
    // Records `cpu`; with applyNow, a running thread (or the main thread) is moved there at
    // once, otherwise the processor is applied at the next start(). A refusal posts
    // "Unable to set thread cpu affinity to %i: %i", records nothing and returns the error.
    int setCpu(int cpu, bool applyNow) override;
    // For a running thread (and the main thread): a change of policy is refused, with a
    // warning, except on the main thread, where it moves the whole process. Then the level's
    // time-sharing priority is applied. A refusal posts an error and returns the system's error
    // number, leaving the thread as it was. For a thread that does not run, only records.
    int setScheduling(PriorityType priority, PolicyType policy) override;
    PriorityType getPriority() override;
    PolicyType getPolicy() override;

protected:
    // State 1 / state 2; the caller holds the state lock.
    virtual bool isRunningNoLock();
    virtual bool isFinishedNoLock();

private:
    enum State { CREATED = 0, RUNNING = 1, FINISHED = 2, JOINED = 3 };

    static void* body(void* self);
    void runBody();
    bool hasOsThreadNoLock() const;
    int applySchedulingNoLock(PriorityType priority, PolicyType policy);
    int applyCpuNoLock(int cpu);
    // Joins the thread and marks it joined; 0 or the system's error number.
    int waitForEnd();

    State state_;                  // under stateLock_
    mutable CoLock stateLock_;     // count 1
    std::atomic<unsigned> tid_;    // 0 until the thread has started
    struct Handle;                 // the system's handle of the thread
    std::unique_ptr<Handle> handle_;   // valid from start() until joined
    CoLock started_;               // released once the new thread has published its identifier
    CoLock go_;                    // released once start() has applied the scheduling
};

}  // namespace Vantrel
