#include "threads/CoThreadOs.h"

#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace Vantrel {
namespace threadOs {

namespace {

// The processors the process may use, as they were when the library was loaded (on the
// loading thread, normally the main one): what "every processor" means to setCpu(-1).
const cpu_set_t& processCpus() {
    static const cpu_set_t cpus = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        if (sched_getaffinity(0, sizeof set, &set) != 0) {
            for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) CPU_SET(cpu, &set);
        }
        return set;
    }();
    return cpus;
}

[[maybe_unused]] const bool readAtLoad = (processCpus(), true);

struct SchedulingOfThread {
    pid_t tid;
    int policy;
    sched_param param;
};

int applyPolicy(pid_t tid, CoThread::PolicyType policy) {
    sched_param param{};
    const int osPolicy = policy == CoThread::ROUND_ROBIN ? SCHED_RR : SCHED_OTHER;
    param.sched_priority = policy == CoThread::ROUND_ROBIN ? sched_get_priority_min(SCHED_RR) : 0;
    return sched_setscheduler(tid, osPolicy, &param) == 0 ? 0 : errno;
}

// The main thread first, so that a refusal (the usual failure) comes before any change.
std::vector<pid_t> threadsOfProcess() {
    std::vector<pid_t> tids{getpid()};
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            const pid_t tid = static_cast<pid_t>(std::atol(entry->d_name));
            if (tid > 0 && tid != getpid()) tids.push_back(tid);
        }
        closedir(dir);
    }
    return tids;
}

}  // namespace

unsigned currentThreadId() { return static_cast<unsigned>(syscall(SYS_gettid)); }

unsigned mainThreadId() { return static_cast<unsigned>(getpid()); }

// The nice value of a thread is its priority with the sign turned.
int readPriority(unsigned tid, int* priority) {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (nice == -1 && errno != 0) return errno;
    *priority = -nice;
    return 0;
}

int writePriority(unsigned tid, int priority) {
    return setpriority(PRIO_PROCESS, tid, -priority) == 0 ? 0 : errno;
}

int readPolicy(unsigned tid, CoThread::PolicyType* policy) {
    const int osPolicy = sched_getscheduler(static_cast<pid_t>(tid));
    if (osPolicy == -1) return errno;
    const bool realTime = osPolicy == SCHED_RR || osPolicy == SCHED_FIFO;
    *policy = realTime ? CoThread::ROUND_ROBIN : CoThread::TIME_SHARING;
    return 0;
}

int writeProcessPolicy(CoThread::PolicyType policy) {
    std::vector<SchedulingOfThread> moved;
    for (pid_t tid : threadsOfProcess()) {
        SchedulingOfThread before{tid, sched_getscheduler(tid), {}};
        if (before.policy == -1 || sched_getparam(tid, &before.param) != 0) {
            if (errno == ESRCH) continue;   // ended meanwhile
            before.policy = SCHED_OTHER;
        }
        const int error = applyPolicy(tid, policy);
        if (error == ESRCH) continue;
        if (error != 0) {
            for (const SchedulingOfThread& undo : moved)
                sched_setscheduler(undo.tid, undo.policy, &undo.param);
            return error;
        }
        moved.push_back(before);
    }
    return 0;
}

int readCpu(unsigned tid, int* cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(static_cast<pid_t>(tid), sizeof set, &set) != 0) return errno;
    if (CPU_EQUAL(&set, &processCpus())) {
        *cpu = -1;
        return 0;
    }
    for (int candidate = 0; candidate < CPU_SETSIZE; ++candidate) {
        if (CPU_ISSET(candidate, &set)) {
            *cpu = candidate;
            return 0;
        }
    }
    *cpu = -1;
    return 0;
}

int writeCpu(unsigned tid, int cpu) {
    if (cpu < -1 || cpu >= CPU_SETSIZE) return EINVAL;
    cpu_set_t set;
    if (cpu == -1) {
        set = processCpus();
    } else {
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
    }
    return sched_setaffinity(static_cast<pid_t>(tid), sizeof set, &set) == 0 ? 0 : errno;
}

}  // namespace threadOs
}  // namespace Vantrel
