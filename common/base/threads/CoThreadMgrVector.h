// The thread manager's registry as a list guarded by a CoLock. A platform manager derives from
// it and provides the thread identifiers and the thread objects (see CoThreadMgr for the
// contract).
#pragma once

#include <list>

#include "ipc/CoLock.h"
#include "threads/CoThreadMgr.h"

namespace Vantrel {

class CoThreadMgrVector : public CoThreadMgr {
public:
    using CoThreadMgr::createThread;

    // Destroys the threads still entered (as uninitialize() does, without the messages).
    ~CoThreadMgrVector() override;

    CoThread* findThread(unsigned id) override;
    CoThread* findMainThread() override;
    CoThread* findThread(const char* name) override;
    CoThread* createThread(CoTask* task, const char* name, CoThread::ThreadType type,
                           bool registered) override;
    void addThread(CoThread* thread) override;
    void removeThread(CoThread* thread) override;
    void killThread(CoThread* thread) override;
    void uninitialize() override;
    void dump(std::ostream& out) const override;
    int visitThreads(const Visitor& visitor) override;
    void setPriorityTables(const int rr[CoThread::NUM_PRIO_LEVELS],
                           const int ts[CoThread::NUM_PRIO_LEVELS]) override;

protected:
    CoThreadMgrVector();
    void initialize() override;
    // A new, unstarted platform thread object that owns `task`.
    virtual CoThread* newThread(CoTask* task, const char* name, CoThread::ThreadType type, int cpu,
                                CoThread::PriorityType priority, CoThread::PolicyType policy) = 0;

private:
    std::list<CoThread*> snapshot() const;
    CoThread* findIf(const std::function<bool(CoThread*)>& wanted) const;

    std::atomic<unsigned> mainThreadId_;
    mutable CoLock lock_;               // count 1; guards threads_
    std::list<CoThread*> threads_;      // owned
};

}  // namespace Vantrel
