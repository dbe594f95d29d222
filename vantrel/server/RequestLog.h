// The log of the requests a server received: the method and the argument text of each, in
// order, for tests (entries()) and for people (an optional trace file, one line per request:
// the method, a space and the argument text with line feeds, tabs and backslashes written as
// \n, \t and \\).
//
// Memory is bounded: the log keeps the latest `capacity` entries.
// Threads: every operation may be called from any thread (one lock).
#pragma once

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "ipc/CoMutex.h"
#include "osal/CoThreadAnnotations.h"

namespace vantreld {

class RequestLog {
public:
    struct Entry {
        std::string method;
        std::string args;
    };

    explicit RequestLog(size_t capacity = 10000);
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;
    ~RequestLog();

    // Appends every later request to the file at `path` (created when missing); throws
    // ServerError when it cannot be opened.
    void openTraceFile(const std::string& path) EXCLUDES(lock_);

    void record(const std::string& method, const std::string& args) EXCLUDES(lock_);
    std::vector<Entry> entries() const EXCLUDES(lock_);
    // The argument texts of every logged request of `method`, oldest first.
    std::vector<std::string> argsOf(const std::string& method) const EXCLUDES(lock_);
    void clear() EXCLUDES(lock_);

    // The trace line of one request (without its line feed).
    static std::string traceLine(const std::string& method, const std::string& args);

private:
    const size_t capacity_;
    mutable Vantrel::CoMutex lock_;
    std::deque<Entry> entries_ GUARDED_BY(lock_);
    FILE* trace_ GUARDED_BY(lock_);
};

}  // namespace vantreld
