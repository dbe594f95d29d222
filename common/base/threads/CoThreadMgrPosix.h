// The thread manager of the platform: CoThreadPosix threads named by their operating-system
// identifiers (gettid() on Linux, GetCurrentThreadId() on Windows).
#pragma once

#include "threads/CoThreadMgrVector.h"

namespace Vantrel {

class CoThreadMgrPosix : public CoThreadMgrVector {
public:
    CoThreadMgrPosix();
    ~CoThreadMgrPosix() override;

    unsigned currentThreadId() override;

protected:
    CoThread* newThread(CoTask* task, const char* name, CoThread::ThreadType type, int cpu,
                        CoThread::PriorityType priority, CoThread::PolicyType policy) override;
};

}  // namespace Vantrel
