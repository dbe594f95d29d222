// The Linux thread manager: CoThreadPosix threads named by their gettid() identifiers.
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
