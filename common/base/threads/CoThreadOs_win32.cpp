#include "threads/CoThreadOs.h"

#include <windows.h>

namespace Vantrel {
namespace threadOs {

namespace {

int lastError() { return static_cast<int>(GetLastError()); }

// An open handle of thread `tid` with `access`, closed when the object goes.
class ThreadHandle {
public:
    ThreadHandle(unsigned tid, DWORD access) : handle_(OpenThread(access, FALSE, tid)) {}
    ~ThreadHandle() {
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    ThreadHandle(const ThreadHandle&) = delete;
    ThreadHandle& operator=(const ThreadHandle&) = delete;

    HANDLE get() const { return handle_; }
    bool isOpen() const { return handle_ != nullptr; }

private:
    HANDLE handle_;
};

// The processors the process may use, as they were when the library was loaded: what "every
// processor" means to setCpu(-1).
DWORD_PTR processCpus() {
    static const DWORD_PTR cpus = [] {
        DWORD_PTR process = 0;
        DWORD_PTR system = 0;
        if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0)
            return ~static_cast<DWORD_PTR>(0);
        return process;
    }();
    return cpus;
}

[[maybe_unused]] const bool readAtLoad = (processCpus(), true);

// The main thread is the process's first: the one that loaded the library, in the normal case.
const unsigned loadingThread = GetCurrentThreadId();

constexpr int MAX_CPUS = static_cast<int>(sizeof(DWORD_PTR) * 8);

}  // namespace

unsigned currentThreadId() { return GetCurrentThreadId(); }

unsigned mainThreadId() { return loadingThread; }

int readPriority(unsigned tid, int* priority) {
    ThreadHandle thread(tid, THREAD_QUERY_LIMITED_INFORMATION);
    if (!thread.isOpen()) return lastError();
    const int value = GetThreadPriority(thread.get());
    if (value == THREAD_PRIORITY_ERROR_RETURN) return lastError();
    *priority = value;
    return 0;
}

int writePriority(unsigned tid, int priority) {
    ThreadHandle thread(tid, THREAD_SET_LIMITED_INFORMATION);
    if (!thread.isOpen()) return lastError();
    return SetThreadPriority(thread.get(), priority) ? 0 : lastError();
}

// The round-robin policy is the real-time priority class of the process.
int readPolicy(unsigned, CoThread::PolicyType* policy) {
    const DWORD priorityClass = GetPriorityClass(GetCurrentProcess());
    if (priorityClass == 0) return lastError();
    *policy = priorityClass == REALTIME_PRIORITY_CLASS ? CoThread::ROUND_ROBIN
                                                       : CoThread::TIME_SHARING;
    return 0;
}

int writeProcessPolicy(CoThread::PolicyType policy) {
    const DWORD priorityClass =
        policy == CoThread::ROUND_ROBIN ? REALTIME_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS;
    return SetPriorityClass(GetCurrentProcess(), priorityClass) ? 0 : lastError();
}

// Windows tells a thread's affinity only when it is set: set it to itself and keep the answer.
int readCpu(unsigned tid, int* cpu) {
    ThreadHandle thread(tid, THREAD_SET_INFORMATION | THREAD_QUERY_INFORMATION);
    if (!thread.isOpen()) return lastError();
    const DWORD_PTR mask = SetThreadAffinityMask(thread.get(), processCpus());
    if (mask == 0) return lastError();
    SetThreadAffinityMask(thread.get(), mask);
    *cpu = -1;
    if (mask == processCpus()) return 0;
    for (int candidate = 0; candidate < MAX_CPUS; ++candidate) {
        if (mask & (static_cast<DWORD_PTR>(1) << candidate)) {
            *cpu = candidate;
            return 0;
        }
    }
    return 0;
}

int writeCpu(unsigned tid, int cpu) {
    if (cpu < -1 || cpu >= MAX_CPUS) return ERROR_INVALID_PARAMETER;
    ThreadHandle thread(tid, THREAD_SET_INFORMATION | THREAD_QUERY_INFORMATION);
    if (!thread.isOpen()) return lastError();
    const DWORD_PTR mask = cpu == -1 ? processCpus() : static_cast<DWORD_PTR>(1) << cpu;
    return SetThreadAffinityMask(thread.get(), mask) != 0 ? 0 : lastError();
}

}  // namespace threadOs
}  // namespace Vantrel
