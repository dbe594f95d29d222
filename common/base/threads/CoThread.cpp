#include "threads/CoThread.h"

#include <cstdlib>

#include "ipc/CoMutex.h"
#include "osal/CoAssert.h"
#include "osal/CoEnvSettings.h"
#include "threads/CoTask.h"

namespace Vantrel {

namespace {

// The values of the original platform's priorities, from idle (-15) and lowest (-2) through
// normal (0) to highest (2) and time-critical (15).
const int kInitialTable[CoThread::NUM_PRIO_LEVELS] = {-15, -2, -1, -1, 0, 1, 1, 2, 2, 15};

struct PriorityTables {
    CoMutex mutex;
    int table[2][CoThread::NUM_PRIO_LEVELS] GUARDED_BY(mutex);   // [policy][level]
};

PriorityTables& tables() {
    static PriorityTables* instance = [] {
        auto* t = new PriorityTables;   // lives until the process ends
        CoMutexGuard guard(t->mutex);
        for (int level = 0; level < CoThread::NUM_PRIO_LEVELS; ++level)
            t->table[CoThread::TIME_SHARING][level] = t->table[CoThread::ROUND_ROBIN][level] =
                kInitialTable[level];
        return t;
    }();
    return *instance;
}

std::atomic<bool>& debugFlag() {
    static std::atomic<bool> flag(coEnvExists("ZR_THREAD_DEBUG"));
    return flag;
}

[[maybe_unused]] const bool readAtLoad = (tables(), debugFlag(), true);

int tableIndex(CoThread::PolicyType policy) {
    return policy == CoThread::ROUND_ROBIN ? CoThread::ROUND_ROBIN : CoThread::TIME_SHARING;
}

}  // namespace

CoThread::CoThread(CoTask* task, const char* name, ThreadType type, int cpu,
                   PriorityType priority, PolicyType policy)
    : task_(task),
      name_(name != nullptr ? name : ""),
      cpu_(cpu),
      priority_(priority),
      policy_(policy),
      type_(type) {
    if (task_) task_->attach(this);
}

CoThread::~CoThread() {
    if (task_) task_->detach(this);
}

const char* CoThread::getName() const { return name_.c_str(); }
CoThread::ThreadType CoThread::getType() const { return type_; }
CoTask* CoThread::getCoTask() const { return task_.get(); }

void CoThread::recordScheduling(PriorityType priority, PolicyType policy) {
    priority_ = priority;
    policy_ = policy;
}

int CoThread::osPriority(PolicyType policy, PriorityType level) {
    CO_ASSERT(level >= 0 && level < NUM_PRIO_LEVELS);
    PriorityTables& t = tables();
    CoMutexGuard guard(t.mutex);
    return t.table[tableIndex(policy)][level];
}

CoThread::PriorityType CoThread::levelOf(PolicyType policy, int osPriority) {
    PriorityTables& t = tables();
    CoMutexGuard guard(t.mutex);
    const int* table = t.table[tableIndex(policy)];
    // The first exact match; failing that, the first of the nearest, since the operating
    // system allows priorities between the table's.
    PriorityType best = 0;
    for (PriorityType level = 0; level < NUM_PRIO_LEVELS; ++level) {
        if (table[level] == osPriority) return level;
        if (std::abs(table[level] - osPriority) < std::abs(table[best] - osPriority)) best = level;
    }
    return best;
}

void CoThread::setPriorityTables(const int rr[NUM_PRIO_LEVELS], const int ts[NUM_PRIO_LEVELS]) {
    PriorityTables& t = tables();
    CoMutexGuard guard(t.mutex);
    for (int level = 0; level < NUM_PRIO_LEVELS; ++level) {
        t.table[ROUND_ROBIN][level] = rr[level];
        t.table[TIME_SHARING][level] = ts[level];
    }
}

void CoThread::resetPriorityTables() { setPriorityTables(kInitialTable, kInitialTable); }

const char* CoThread::policyName(PolicyType policy) {
    return policy == ROUND_ROBIN ? "RR" : "TS";
}

bool CoThread::debugEnabled() { return debugFlag(); }
void CoThread::setDebugEnabled(bool enabled) { debugFlag() = enabled; }

}  // namespace Vantrel
