#include "threads/CoThreadMgrPosix.h"

#include "threads/CoThreadOs.h"
#include "threads/CoThreadPosix.h"

namespace Vantrel {

CoThreadMgrPosix::CoThreadMgrPosix() = default;
CoThreadMgrPosix::~CoThreadMgrPosix() = default;

unsigned CoThreadMgrPosix::currentThreadId() { return threadOs::currentThreadId(); }

CoThread* CoThreadMgrPosix::newThread(CoTask* task, const char* name, CoThread::ThreadType type,
                                      int cpu, CoThread::PriorityType priority,
                                      CoThread::PolicyType policy) {
    return new CoThreadPosix(task, name, type, cpu, priority, policy);
}

CoThreadMgr* coNewPlatformThreadMgr() { return new CoThreadMgrPosix; }

}  // namespace Vantrel
