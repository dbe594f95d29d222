#include "threads/CoThreadMgrVector.h"

#include <algorithm>
#include <cstring>

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"

namespace Vantrel {

CoThreadMgrVector::CoThreadMgrVector() : mainThreadId_(0), lock_(1) {}

CoThreadMgrVector::~CoThreadMgrVector() {
    CoLockGuard guard(lock_);
    while (!threads_.empty()) {
        delete threads_.back();
        threads_.pop_back();
    }
}

void CoThreadMgrVector::initialize() {
    const unsigned id = currentThreadId();
    mainThreadId_ = id;
    CoThread::PriorityType priority;
    CoThread::PolicyType policy;
    CoThread::getSchedulingForCurrentThread(priority, policy);
    addThread(newThread(nullptr, "main", CoThread::MAIN_THREAD, CoThread::getCpuForCurrentThread(),
                        priority, policy));
}

CoThread* CoThreadMgrVector::findIf(const std::function<bool(CoThread*)>& wanted) const {
    CoLockGuard guard(lock_);
    auto found = std::find_if(threads_.begin(), threads_.end(), wanted);
    return found == threads_.end() ? nullptr : *found;
}

CoThread* CoThreadMgrVector::findThread(unsigned id) {
    return findIf([id](CoThread* t) { return t->getThreadId() == id; });
}

CoThread* CoThreadMgrVector::findMainThread() { return findThread(mainThreadId_.load()); }

CoThread* CoThreadMgrVector::findThread(const char* name) {
    if (name == nullptr) return nullptr;
    return findIf([name](CoThread* t) { return std::strcmp(t->getName(), name) == 0; });
}

CoThread* CoThreadMgrVector::createThread(CoTask* task, const char* name, CoThread::ThreadType type,
                                          bool registered) {
    CoThread* creator = findThread(currentThreadId());
    int cpu;
    CoThread::PriorityType priority;
    CoThread::PolicyType policy;
    if (creator != nullptr && !creator->isRunning()) {
        cpu = creator->recordedCpu();
        priority = creator->recordedPriority();
        policy = creator->recordedPolicy();
    } else {
        if (creator == nullptr)
            CO_MSG_DEBUG("Creating a CoThread from an unmanaged thread ID: %i\n",
                         static_cast<int>(currentThreadId()));
        cpu = CoThread::getCpuForCurrentThread();
        CoThread::getSchedulingForCurrentThread(priority, policy);
    }
    if (CoThread::debugEnabled())
        CO_MSG_DEBUG("Creating thread '%s' with inherited policy %s, prio %i, cpu %i\n", name,
                     CoThread::policyName(policy), CoThread::osPriority(policy, priority), cpu);

    if (registered && type != CoThread::UNREGISTERED_THREAD) {
        CoThread* thread = newThread(task, name, CoThread::NEW_THREAD, cpu, priority, policy);
        addThread(thread);
        return thread;
    }
    return newThread(task, name, type, cpu, priority, policy);
}

void CoThreadMgrVector::addThread(CoThread* thread) {
    CoLockGuard guard(lock_);
    if (std::find(threads_.begin(), threads_.end(), thread) != threads_.end())
        CO_ASSERT_TEXT(false, "\"Cannot add thread that is already there!\" == 0");
    threads_.push_back(thread);
}

void CoThreadMgrVector::removeThread(CoThread* thread) {
    CO_ASSERT_TEXT(thread != nullptr, "t");
    CoLockGuard guard(lock_);
    threads_.remove(thread);
}

void CoThreadMgrVector::killThread(CoThread* thread) {
    if (thread != nullptr) thread->kill();
}

void CoThreadMgrVector::uninitialize() {
    CO_MSG_NOTICE("Uninitialising thread manager.");
    for (;;) {
        CoThread* thread;
        {
            CoLockGuard guard(lock_);
            if (threads_.empty()) break;
            thread = threads_.back();
        }
        // Killing waits for the thread's end: never with the registry locked.
        if (thread->getType() == CoThread::NEW_THREAD && thread->isRunning()) {
            CO_MSG_WARNING("Thread id = %i named=%s was not stopped by its owner.",
                           static_cast<int>(thread->getThreadId()), thread->getName());
            thread->kill();
        }
        removeThread(thread);
        delete thread;
    }
    CO_MSG_DEBUG("Thread manager uninitialized");
    markUninitialized();
}

std::list<CoThread*> CoThreadMgrVector::snapshot() const {
    CoLockGuard guard(lock_);
    return threads_;
}

void CoThreadMgrVector::dump(std::ostream&) const {
    for (CoThread* thread : snapshot())
        CO_MSG_USER("Thread Dump: %s ( %i ) ", thread->getName(),
                    static_cast<int>(thread->getThreadId()));
}

int CoThreadMgrVector::visitThreads(const Visitor& visitor) {
    for (CoThread* thread : snapshot()) {
        const int result = visitor(thread);
        if (result == 1 || result == -1) return result;
    }
    return 0;
}

void CoThreadMgrVector::setPriorityTables(const int rr[CoThread::NUM_PRIO_LEVELS],
                                          const int ts[CoThread::NUM_PRIO_LEVELS]) {
    CoThread::setPriorityTables(rr, ts);
}

}  // namespace Vantrel
