// The life of a CoThreadPosix on Linux: a pthread, ended by kill() through cancellation.
#include "threads/CoThreadPosix.h"

#include <pthread.h>

#include <cerrno>

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"
#include "threads/CoTask.h"
#include "threads/CoThreadOs.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace Vantrel {

struct CoThreadPosix::Handle {
    pthread_t thread;
};

namespace {

int asInt(unsigned tid) { return static_cast<int>(tid); }

// A cancellation unwinds the task's frames without running their epilogues, so the address
// sanitizer would still see their guard zones when the thread library reuses that stack.
void forgetUnwoundFrames() {
#if defined(__SANITIZE_ADDRESS__)
    __asan_handle_no_return();
#endif
}

}  // namespace

CoThreadPosix::CoThreadPosix(CoTask* task, const char* name, ThreadType type, int cpu,
                             PriorityType priority, PolicyType policy)
    : CoThread(task, name, type, cpu, priority, policy),
      state_(CREATED),
      stateLock_(1),
      tid_(type == MAIN_THREAD ? threadOs::currentThreadId() : 0),
      handle_(new Handle{type == MAIN_THREAD ? pthread_self() : pthread_t()}),
      started_(0),
      go_(0) {}

CoThreadPosix::~CoThreadPosix() {
    bool unjoined;
    {
        CoLockGuard guard(stateLock_);
        unjoined = getType() != MAIN_THREAD && (isRunningNoLock() || isFinishedNoLock());
    }
    if (!unjoined) return;
    if (pthread_equal(handle_->thread, pthread_self()))
        pthread_detach(handle_->thread);
    else
        pthread_join(handle_->thread, nullptr);
}

void CoThreadPosix::start() {
    CO_ASSERT_TEXT(getType() != MAIN_THREAD, "getType() != MAIN_THREAD");
    bool finishedBefore;
    {
        CoLockGuard guard(stateLock_);
        CO_ASSERT_TEXT(!isRunningNoLock(), "!isRunningNoLock()");
        finishedBefore = isFinishedNoLock();
    }
    if (finishedBefore) pthread_join(handle_->thread, nullptr);   // a restart: reap the previous run

    const int error = pthread_create(&handle_->thread, nullptr, &CoThreadPosix::body, this);
    if (error != 0) {
        CO_MSG_ERROR("Error creating thread: %i", error);
        CO_ASSERT_TEXT(false, "0");
    }
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
    try {
        static_cast<CoThreadPosix*>(self)->runBody();
    } catch (...) {   // kill()'s unwinding (or an escaping exception) goes on as before
        forgetUnwoundFrames();
        throw;
    }
    return nullptr;
}

// Cancellation (kill) is allowed only while the task runs: the bookkeeping around it must not
// be cut short.
void CoThreadPosix::runBody() {
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    tid_ = threadOs::currentThreadId();
    started_.release();
    go_.get();   // the creator applies the scheduling first

    if (debugEnabled() || name_.find("Job Exec") == std::string::npos)
        CO_MSG_NOTICE("Registered thread '%s' [ %i ]", name_.c_str(), asInt(tid_));
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, nullptr);
    pthread_testcancel();
    if (task_) task_->run(this);
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);

    if (debugEnabled()) CO_MSG_DEBUG("Finished running thread '%s'", name_.c_str());
    CoLockGuard guard(stateLock_);
    state_ = FINISHED;
}

void CoThreadPosix::kill() {
    if (debugEnabled()) CO_MSG_DEBUG("Stopping thread '%s' [ %i ]", name_.c_str(), asInt(tid_));
    if (getType() != NEW_THREAD) return;
    {
        CoLockGuard guard(stateLock_);
        if (!isRunningNoLock() && !isFinishedNoLock()) return;
    }
    int error = pthread_cancel(handle_->thread);
    if (error == ESRCH) error = 0;   // it has ended by itself
    if (error == 0) error = waitForEnd();
    if (error != 0) {
        CO_MSG_ERROR("Failed to terminate thread '%s' [ %i ] : %i", name_.c_str(), asInt(tid_), error);
        CO_ASSERT_TEXT(false, "0");
    }
    if (debugEnabled())
        CO_MSG_DEBUG("Thread '%s' [ %i ], has been terminated", name_.c_str(), asInt(tid_));
}

int CoThreadPosix::waitForEnd() {
    if (const int error = pthread_join(handle_->thread, nullptr)) return error;
    CoLockGuard guard(stateLock_);
    state_ = JOINED;
    return 0;
}

}  // namespace Vantrel
