// A named thread that runs a CoTask, with a scheduling priority and policy and a processor.
//
// Threads are made by the thread manager (CoThreadMgr::createThread), which gives each new
// thread the scheduling of the thread that creates it. The platform implementation is
// CoThreadPosix.
//
// Scheduling. A priority is a level from 0 (lowest) to NUM_PRIO_LEVELS - 1 (highest). Each
// level maps to an operating-system thread priority through two process-wide tables, one per
// policy, which both start as
//     level     0   1   2   3   4   5   6   7   8   9
//     priority -15  -2  -1  -1   0   1   1   2   2  15
// Setting a level uses the time-sharing table; reading a thread's level back uses the table of
// its policy and gives the first level with the thread's priority (so a thread set to level 3
// reads back as level 2). On Linux a thread priority p is the thread's nice value -p; a nice
// value that no level has reads back as the level of the nearest priority (the first of two
// equally near). The round-robin policy is the real-time class of the whole process (SCHED_RR
// for each of its threads); only the main thread may change it.
//
// ZR_THREAD_DEBUG, when it exists in the environment at load, makes threads and the manager
// post debug messages about creation, scheduling and termination (see debugEnabled()).
#pragma once

#include <atomic>
#include <memory>
#include <string>

namespace Vantrel {

class CoTask;

class CoThread {
public:
    enum ThreadType {
        MAIN_THREAD = 0,           // the thread that first created the manager
        NEW_THREAD = 1,            // a thread the library started
        UNREGISTERED_THREAD = 2,   // a thread object that is not entered in the manager
    };
    typedef int PriorityType;      // a level, 0 to NUM_PRIO_LEVELS - 1
    enum PolicyType {
        TIME_SHARING = 0,          // printed "TS"
        ROUND_ROBIN = 1,           // printed "RR"; the process's real-time class
    };
    static const int NUM_PRIO_LEVELS = 10;

    // Takes over `task` (may be null) and calls its attach(). `cpu` is -1 for every processor
    // the process may use.
    CoThread(CoTask* task, const char* name, ThreadType type, int cpu, PriorityType priority,
             PolicyType policy);
    // Calls the task's detach(), then destroys it.
    virtual ~CoThread();
    CoThread(const CoThread&) = delete;
    CoThread& operator=(const CoThread&) = delete;

    virtual void start() = 0;
    virtual void stop() = 0;
    virtual void join() = 0;
    virtual void kill() = 0;
    virtual bool isSameThread(const CoThread& other) = 0;
    virtual bool isRunning() = 0;
    // The operating-system identifier (0 before the first start, except for the main thread).
    virtual unsigned getThreadId() const = 0;
    virtual const char* getName() const;
    virtual bool isCpuAffinitySupported() const = 0;
    virtual int getCpu() const = 0;
    // Returns 0 or the system's error number.
    virtual int setCpu(int cpu, bool applyNow) = 0;
    // Returns 0 or the system's error number.
    virtual int setScheduling(PriorityType priority, PolicyType policy) = 0;
    virtual PriorityType getPriority() = 0;
    virtual PolicyType getPolicy() = 0;
    virtual ThreadType getType() const;
    virtual CoTask* getCoTask() const;

    // The values the thread was given or last set, whatever the operating system reports now.
    // Safe from any thread.
    int recordedCpu() const { return cpu_; }
    PriorityType recordedPriority() const { return priority_; }
    PolicyType recordedPolicy() const { return policy_; }

    // The same operations for the calling thread, whoever made it; the platform provides them.
    // Errors are posted as for a thread object, and the getters then report -1 / level 4 / TS.
    static bool isCpuAffinitySupportedForCurrentThread();
    static int getCpuForCurrentThread();
    static int setCpuForCurrentThread(int cpu);
    static void getSchedulingForCurrentThread(PriorityType& priority, PolicyType& policy);
    static int setSchedulingForCurrentThread(PriorityType priority, PolicyType policy);

    // The priority tables (process-wide; safe from any thread).
    static int osPriority(PolicyType policy, PriorityType level);   // level in range (assertion)
    static PriorityType levelOf(PolicyType policy, int osPriority);
    static void setPriorityTables(const int rr[NUM_PRIO_LEVELS], const int ts[NUM_PRIO_LEVELS]);
    static void resetPriorityTables();   // back to the initial values
    // "TS" or "RR".
    static const char* policyName(PolicyType policy);

    // Whether ZR_THREAD_DEBUG was set at load; tests and programs may change it.
    static bool debugEnabled();
    static void setDebugEnabled(bool enabled);

protected:
    // Scheduling record; the platform class changes it under its own lock.
    void recordCpu(int cpu) { cpu_ = cpu; }
    void recordScheduling(PriorityType priority, PolicyType policy);

    std::unique_ptr<CoTask> task_;
    const std::string name_;

private:
    std::atomic<int> cpu_;
    std::atomic<int> priority_;
    std::atomic<PolicyType> policy_;
    const ThreadType type_;
};

}  // namespace Vantrel
