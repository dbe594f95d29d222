// Annotations for clang's thread-safety analysis (-Wthread-safety).
//
// They tell the compiler which lock guards which data and which functions take or need a
// lock, so that a read or write of guarded data without its lock is reported at compile time.
// Under other compilers they expand to nothing and cost nothing.
//
//     class Queue {
//         CoMutex mutex_;
//         std::list<Entry> list_ GUARDED_BY(mutex_);
//     };
#pragma once

#if defined(__clang__)
#define CO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define CO_THREAD_ANNOTATION(x)
#endif

// A class whose objects are locks.
#ifndef CAPABILITY
#define CAPABILITY(name) CO_THREAD_ANNOTATION(capability(name))
#endif
// A class whose objects hold a lock for their lifetime (scope guards).
#ifndef SCOPED_CAPABILITY
#define SCOPED_CAPABILITY CO_THREAD_ANNOTATION(scoped_lockable)
#endif
// Data reached only with the given lock held.
#ifndef GUARDED_BY
#define GUARDED_BY(lock) CO_THREAD_ANNOTATION(guarded_by(lock))
#endif
// Data pointed to by the member reached only with the given lock held.
#ifndef PT_GUARDED_BY
#define PT_GUARDED_BY(lock) CO_THREAD_ANNOTATION(pt_guarded_by(lock))
#endif
// The function takes the lock(s) (none named: the object itself) and returns holding them.
#ifndef ACQUIRE
#define ACQUIRE(...) CO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#endif
// The function gives the lock(s) back.
#ifndef RELEASE
#define RELEASE(...) CO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#endif
// The function takes the lock(s) when it returns `result`.
#ifndef TRY_ACQUIRE
#define TRY_ACQUIRE(...) CO_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#endif
// The caller must hold the lock(s).
#ifndef REQUIRES
#define REQUIRES(...) CO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#endif
// The caller must not hold the lock(s).
#ifndef EXCLUDES
#define EXCLUDES(...) CO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#endif
// The function returns a reference to the given lock.
#ifndef RETURN_CAPABILITY
#define RETURN_CAPABILITY(lock) CO_THREAD_ANNOTATION(lock_returned(lock))
#endif
// Turns the analysis off for one function whose locking it cannot follow.
#ifndef NO_THREAD_SAFETY_ANALYSIS
#define NO_THREAD_SAFETY_ANALYSIS CO_THREAD_ANNOTATION(no_thread_safety_analysis)
#endif
