// The process-wide registry of threads: creates threads, finds the current one, and takes
// stock of them at shutdown.
//
// getInstance() makes the platform manager on first use. The thread that calls it first
// becomes the main thread: the manager enters a MAIN_THREAD object named "main" with that
// thread's present priority, policy and processor, and installs the message channel's
// current-process callback, so that the number in full message lines is the posting thread's
// operating-system identifier. That first call has no lock around it: it must come from one
// thread, normally the main thread at library start. After uninitialize(), the next
// getInstance() starts the registry again in the same way.
//
// Ownership: the manager owns the threads entered in it (those made with registered = true,
// and the main thread's object) and destroys them in uninitialize(); their users must not
// delete them. A thread made with registered = false belongs to the caller of createThread,
// who deletes it (after join()).
//
// Threads: the registry is guarded by the manager's CoLock; every operation may be called from
// any thread. Visitors run on a snapshot of the registry, outside its lock.
#pragma once

#include <atomic>
#include <functional>
#include <ostream>

#include "threads/CoThread.h"

namespace Vantrel {

class CoTask;

class CoThreadMgr {
public:
    // Returns 1 or -1 to stop the walk, anything else to go on.
    typedef std::function<int(CoThread*)> Visitor;

    static CoThreadMgr& getInstance();
    // The registered thread whose identifier is the caller's, or null.
    static CoThread* findCurrentThread();
    // Makes a NEW_THREAD named `name` that runs fn(arg), enters it in the registry when
    // `registered` is true, starts it and returns it. The new thread inherits the priority,
    // policy and processor of the calling thread: its recorded ones when the caller is a
    // registered thread that is not running (the main thread), otherwise those the system
    // reports for it.
    static CoThread& createThread(const char* name, void (*fn)(void*), void* arg, bool registered);

    virtual ~CoThreadMgr();

    virtual unsigned currentThreadId() = 0;
    virtual CoThread* findThread(unsigned id) = 0;
    virtual CoThread* findMainThread() = 0;
    // The first registered thread whose name equals `name` exactly, or null.
    virtual CoThread* findThread(const char* name) = 0;
    // Makes a thread owning `task` (not started), with the calling thread's scheduling (see
    // above). With `registered` set and a type other than UNREGISTERED_THREAD it is a
    // NEW_THREAD entered in the registry; otherwise it has `type` and is not entered.
    virtual CoThread* createThread(CoTask* task, const char* name, CoThread::ThreadType type,
                                   bool registered) = 0;
    // Enters a thread; entering one twice is a broken contract (assertion).
    virtual void addThread(CoThread* thread) = 0;
    // Takes a thread (not null: assertion "t") out of the registry; the caller owns it then.
    virtual void removeThread(CoThread* thread) = 0;
    // kill() on the thread, when it is not null.
    virtual void killThread(CoThread* thread) = 0;
    // Empties the registry from the last thread to the first, killing (with a warning) every
    // NEW_THREAD its owner left running, and destroys the thread objects.
    virtual void uninitialize() = 0;
    // Posts one line per registered thread at user level, "Thread Dump: %s ( %i ) "; nothing
    // is written to the stream.
    virtual void dump(std::ostream& out) const = 0;
    // Calls `visitor` on each registered thread in order until it returns 1 or -1, and
    // returns that value; 0 when all were visited.
    virtual int visitThreads(const Visitor& visitor) = 0;
    // Replaces both level-to-priority tables.
    virtual void setPriorityTables(const int rr[CoThread::NUM_PRIO_LEVELS],
                                   const int ts[CoThread::NUM_PRIO_LEVELS]) = 0;

protected:
    CoThreadMgr();
    // Registers the calling thread as the main thread; called by getInstance().
    virtual void initialize() = 0;
    // Lets the next getInstance() initialise again; called at the end of uninitialize().
    static void markUninitialized();

private:
    CoThreadMgr(const CoThreadMgr&) = delete;
    CoThreadMgr& operator=(const CoThreadMgr&) = delete;

    static std::atomic<CoThreadMgr*> _instance;
    static std::atomic<bool> _initialized;
};

// Calls mgr.dump(out).
std::ostream& operator<<(std::ostream& out, const CoThreadMgr& mgr);

// The platform's manager, made by getInstance().
CoThreadMgr* coNewPlatformThreadMgr();

}  // namespace Vantrel
