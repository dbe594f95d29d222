// The operating-system side of threads and their scheduling, for the thread classes.
//
// Threads are named by their operating-system identifier (gettid on Linux). Every function
// that can fail returns 0 or the system's error number and changes nothing on failure; none
// posts messages: the callers do, in their own words. Thread-safe.
#pragma once

#include "threads/CoThread.h"

namespace Vantrel {
namespace threadOs {

// The calling thread's identifier.
unsigned currentThreadId();
// The identifier of the process's main thread (on Linux the process id).
unsigned mainThreadId();

// A thread's priority in the thread classes' sense: the higher, the more processor time.
int readPriority(unsigned tid, int* priority);
int writePriority(unsigned tid, int priority);

// A thread's policy: round-robin for a real-time thread, else time sharing.
int readPolicy(unsigned tid, CoThread::PolicyType* policy);
// Moves every thread of the process to `policy`; on failure, the threads already moved are
// moved back.
int writeProcessPolicy(CoThread::PolicyType policy);

// A thread's processor: -1 when it may run on every processor the process could use when it
// was loaded, else the lowest processor it may run on.
int readCpu(unsigned tid, int* cpu);
// -1 restores the process's processors; otherwise the one processor `cpu` (EINVAL when no such
// processor can exist).
int writeCpu(unsigned tid, int cpu);

}  // namespace threadOs
}  // namespace Vantrel
