// The scheduling side of CoThreadPosix, the same on every platform: the operating-system calls
// are threadOs's (CoThreadOs.h).
#include "threads/CoThreadPosix.h"

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"
#include "threads/CoTask.h"
#include "threads/CoThreadOs.h"

namespace Vantrel {

namespace {

int asInt(unsigned tid) { return static_cast<int>(tid); }

// Leaves the thread alone when it is at the level already: a nice value between the table's
// reads back as a level, and moving it to that level's own value may need a privilege that
// moving to the same level should not.
int applyPriority(unsigned tid, CoThread::PriorityType level) {
    int current = 0;
    if (threadOs::readPriority(tid, &current) == 0 &&
        CoThread::levelOf(CoThread::TIME_SHARING, current) == level)
        return 0;
    return threadOs::writePriority(tid, CoThread::osPriority(CoThread::TIME_SHARING, level));
}

void reportCpuFailure(int cpu, int error) {
    CO_MSG_ERROR("Unable to set thread cpu affinity to %i: %i", cpu, error);
}

}  // namespace

void CoThreadPosix::stop() {
    CO_ASSERT_TEXT(getType() != CoThread::MAIN_THREAD, "getType() != CoThread::MAIN_THREAD");
    if (task_) task_->stop(this);
}

void CoThreadPosix::join() {
    CO_ASSERT_TEXT(getType() == CoThread::NEW_THREAD, "getType() == CoThread::NEW_THREAD");
    {
        CoLockGuard guard(stateLock_);
        if (!isRunningNoLock() && !isFinishedNoLock()) return;
    }
    if (const int error = waitForEnd()) {
        CO_MSG_ERROR("Failed to wait for thread terminaison for thread '%s' [ %i ] : %i",
                     name_.c_str(), asInt(tid_), error);
        CO_ASSERT_TEXT(false, "0");
    }
}

bool CoThreadPosix::isSameThread(const CoThread& other) {
    return getThreadId() == other.getThreadId();
}

bool CoThreadPosix::isRunning() {
    CoLockGuard guard(stateLock_);
    return isRunningNoLock();
}

bool CoThreadPosix::isRunningNoLock() { return state_ == RUNNING; }

bool CoThreadPosix::isFinishedNoLock() { return state_ == FINISHED; }

unsigned CoThreadPosix::getThreadId() const { return tid_; }

bool CoThreadPosix::isCpuAffinitySupported() const { return true; }

// A finished thread's identifier may already name another thread: only a running one (or the
// main thread, which runs as long as the process) is asked.
bool CoThreadPosix::hasOsThreadNoLock() const {
    return getType() == MAIN_THREAD || state_ == RUNNING;
}

int CoThreadPosix::getCpu() const {
    CoLockGuard guard(stateLock_);
    if (!hasOsThreadNoLock()) return recordedCpu();
    int cpu = -1;
    if (const int error = threadOs::readCpu(tid_, &cpu)) {
        CO_MSG_ERROR("Unable to get thread cpu affinity : %i", error);
        return recordedCpu();
    }
    return cpu;
}

int CoThreadPosix::setCpu(int cpu, bool applyNow) {
    CoLockGuard guard(stateLock_);
    if (applyNow && hasOsThreadNoLock()) {
        if (const int error = applyCpuNoLock(cpu)) return error;
    }
    recordCpu(cpu);
    return 0;
}

int CoThreadPosix::applyCpuNoLock(int cpu) {
    const int error = threadOs::writeCpu(tid_, cpu);
    if (error != 0) reportCpuFailure(cpu, error);
    return error;
}

int CoThreadPosix::setScheduling(PriorityType priority, PolicyType policy) {
    if (debugEnabled())
        CO_MSG_DEBUG("Thread '%s' [ %i ] : setting priority/policy to %i/%i", name_.c_str(),
                     asInt(tid_), priority, policy);
    CoLockGuard guard(stateLock_);
    if (!hasOsThreadNoLock()) {
        recordScheduling(priority, policy);
        return 0;
    }
    return applySchedulingNoLock(priority, policy);
}

int CoThreadPosix::applySchedulingNoLock(PriorityType priority, PolicyType policy) {
    CO_ASSERT(priority >= 0 && priority < NUM_PRIO_LEVELS);
    const PolicyType before = recordedPolicy();
    PolicyType after = before;
    if (policy != before) {
        if (getType() != MAIN_THREAD) {
            CO_MSG_WARNING("Cannot set scheduling of thread. Must be the main thread to be able "
                           "to change policy");
        } else if (const int error = threadOs::writeProcessPolicy(policy)) {
            CO_MSG_ERROR("Unable to set priority class for main thread: %i", error);
            return error;
        } else {
            after = policy;
        }
    }
    if (const int error = applyPriority(tid_, priority)) {
        if (after != before) threadOs::writeProcessPolicy(before);
        CO_MSG_ERROR("Unable to set priority of thread '%s' [ %i ] : %i", name_.c_str(),
                     asInt(tid_), error);
        return error;
    }
    if (debugEnabled())
        CO_MSG_DEBUG("Thread '%s' [ %i ] : set thread priority/policy to %i/%i", name_.c_str(),
                     asInt(tid_), osPriority(TIME_SHARING, priority), after);
    recordScheduling(priority, after);
    return 0;
}

CoThread::PriorityType CoThreadPosix::getPriority() {
    CoLockGuard guard(stateLock_);
    if (!hasOsThreadNoLock()) return recordedPriority();
    PolicyType policy = recordedPolicy();
    if (const int error = threadOs::readPolicy(tid_, &policy))
        CO_MSG_ERROR("Unable to get thread priority class for thread %i : %i", asInt(tid_), error);
    int priority = 0;
    if (const int error = threadOs::readPriority(tid_, &priority)) {
        CO_MSG_ERROR("Unable to get thread priority for thread %i : %i", asInt(tid_), error);
        return recordedPriority();
    }
    return levelOf(policy, priority);
}

CoThread::PolicyType CoThreadPosix::getPolicy() {
    CoLockGuard guard(stateLock_);
    if (!hasOsThreadNoLock()) return recordedPolicy();
    PolicyType policy = recordedPolicy();
    if (const int error = threadOs::readPolicy(tid_, &policy))
        CO_MSG_ERROR("Unable to get thread priority class for thread %i : %i", asInt(tid_), error);
    return policy;
}

// The calling thread, whoever made it.

bool CoThread::isCpuAffinitySupportedForCurrentThread() { return true; }

int CoThread::getCpuForCurrentThread() {
    int cpu = -1;
    if (const int error = threadOs::readCpu(threadOs::currentThreadId(), &cpu)) {
        CO_MSG_ERROR("Unable to get thread cpu affinity : %i", error);
        return -1;
    }
    return cpu;
}

int CoThread::setCpuForCurrentThread(int cpu) {
    const int error = threadOs::writeCpu(threadOs::currentThreadId(), cpu);
    if (error != 0) reportCpuFailure(cpu, error);
    return error;
}

void CoThread::getSchedulingForCurrentThread(PriorityType& priority, PolicyType& policy) {
    const unsigned tid = threadOs::currentThreadId();
    int osPriority = 0;
    policy = TIME_SHARING;
    int error = threadOs::readPolicy(tid, &policy);
    if (error == 0) error = threadOs::readPriority(tid, &osPriority);
    if (error != 0) CO_MSG_ERROR("Unable to get thread policy/prio : %i", error);
    priority = levelOf(policy, osPriority);
}

// The calling thread has no object of its own here: a change of policy follows the rule of
// setScheduling, with the process's main thread in the
// role of the main thread.
int CoThread::setSchedulingForCurrentThread(PriorityType priority, PolicyType policy) {
    CO_ASSERT(priority >= 0 && priority < NUM_PRIO_LEVELS);
    const unsigned tid = threadOs::currentThreadId();
    PolicyType current = TIME_SHARING;
    threadOs::readPolicy(tid, &current);
    if (policy != current) {
        if (tid != threadOs::mainThreadId()) {
            CO_MSG_WARNING("Cannot set scheduling of thread. Must be the main thread to be able "
                           "to change policy");
        } else if (const int error = threadOs::writeProcessPolicy(policy)) {
            CO_MSG_ERROR("Unable to set priority class for main thread: %i", error);
            return error;
        }
    }
    const int error = applyPriority(tid, priority);
    if (error != 0) {
        CO_MSG_ERROR("Unable to set priority of thread [ %i ] : %i", asInt(tid), error);
        if (policy != current && tid == threadOs::mainThreadId())
            threadOs::writeProcessPolicy(current);
    }
    return error;
}

}  // namespace Vantrel
