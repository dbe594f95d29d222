// The life of a CoThreadPosix on Windows: a thread of the C run-time (_beginthreadex, so that
// the run-time's per-thread data is set up and freed), stopped cooperatively by kill().
#include "threads/CoThreadPosix.h"

#include <process.h>
#include <windows.h>

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"
#include "threads/CoTask.h"
#include "threads/CoThreadOs.h"

namespace Vantrel {

// The thread's handle, null when there is none to wait for or close.
struct CoThreadPosix::Handle {
    HANDLE thread = nullptr;
};

namespace {

int asInt(unsigned tid) { return static_cast<int>(tid); }

int lastError() { return static_cast<int>(GetLastError()); }

}  // namespace

CoThreadPosix::CoThreadPosix(CoTask* task, const char* name, ThreadType type, int cpu,
                             PriorityType priority, PolicyType policy)
    : CoThread(task, name, type, cpu, priority, policy),
      state_(CREATED),
      stateLock_(1),
      tid_(type == MAIN_THREAD ? threadOs::currentThreadId() : 0),
      handle_(new Handle),
      started_(0),
      go_(0) {}

CoThreadPosix::~CoThreadPosix() {
    bool unjoined;
    {
        CoLockGuard guard(stateLock_);
        unjoined = getType() != MAIN_THREAD && (isRunningNoLock() || isFinishedNoLock());
    }
    if (unjoined && tid_ != threadOs::currentThreadId())
        WaitForSingleObject(handle_->thread, INFINITE);
    if (handle_->thread != nullptr) CloseHandle(handle_->thread);
}

void CoThreadPosix::start() {
    CO_ASSERT_TEXT(getType() != MAIN_THREAD, "getType() != MAIN_THREAD");
    bool finishedBefore;
    {
        CoLockGuard guard(stateLock_);
        CO_ASSERT_TEXT(!isRunningNoLock(), "!isRunningNoLock()");
        finishedBefore = isFinishedNoLock();
    }
    if (finishedBefore) waitForEnd();   // a restart: reap the previous run
    if (handle_->thread != nullptr) CloseHandle(handle_->thread);

    // Stack size 0: the size the program's image asks for.
    const uintptr_t thread = _beginthreadex(
        nullptr, 0, [](void* self) -> unsigned {
            body(self);
            return 0;
        },
        this, 0, nullptr);
    if (thread == 0) {
        CO_MSG_ERROR("Error creating thread: %i", errno);
        CO_ASSERT_TEXT(false, "0");
    }
    handle_->thread = reinterpret_cast<HANDLE>(thread);
    started_.get();
    {
        CoLockGuard guard(stateLock_);
        state_ = RUNNING;
        applySchedulingNoLock(recordedPriority(), recordedPolicy());
        applyCpuNoLock(recordedCpu());
    }
    go_.release();
}

void* CoThreadPosix::body(void* self) {
    static_cast<CoThreadPosix*>(self)->runBody();
    return nullptr;
}

void CoThreadPosix::runBody() {
    tid_ = threadOs::currentThreadId();
    started_.release();
    go_.get();   // the creator applies the scheduling first

    if (debugEnabled() || name_.find("Job Exec") == std::string::npos)
        CO_MSG_NOTICE("Registered thread '%s' [ %i ]", name_.c_str(), asInt(tid_));
    if (task_) task_->run(this);

    if (debugEnabled()) CO_MSG_DEBUG("Finished running thread '%s'", name_.c_str());
    CoLockGuard guard(stateLock_);
    state_ = FINISHED;
}

// Ending a thread by force (TerminateThread) would leave its locks held and its objects
// undestroyed: the task is asked to stop and the thread is waited for.
void CoThreadPosix::kill() {
    if (debugEnabled()) CO_MSG_DEBUG("Stopping thread '%s' [ %i ]", name_.c_str(), asInt(tid_));
    if (getType() != NEW_THREAD) return;
    {
        CoLockGuard guard(stateLock_);
        if (!isRunningNoLock() && !isFinishedNoLock()) return;
    }
    if (task_) task_->stop(this);
    if (const int error = waitForEnd()) {
        CO_MSG_ERROR("Failed to terminate thread '%s' [ %i ] : %i", name_.c_str(), asInt(tid_), error);
        CO_ASSERT_TEXT(false, "0");
    }
    if (debugEnabled())
        CO_MSG_DEBUG("Thread '%s' [ %i ], has been terminated", name_.c_str(), asInt(tid_));
}

int CoThreadPosix::waitForEnd() {
    if (WaitForSingleObject(handle_->thread, INFINITE) != WAIT_OBJECT_0) return lastError();
    CoLockGuard guard(stateLock_);
    state_ = JOINED;
    return 0;
}

}  // namespace Vantrel
