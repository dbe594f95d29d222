// The log of the requests a server received: the method and the argument text of each, in
// order, for tests (entries()) and for people (an optional trace file).
//
// Trace file: one line per request, four fields separated by tabs: the time (UTC, ISO 8601
// with milliseconds), the client ("#ID ADDRESS", empty when not known), the method, a space
// and the argument text, and the result ("ok N bytes" or "error: TEXT", empty when not
// known). Line feeds, tabs and backslashes inside the texts are written as \n, \t and \\, so
// a tab always separates fields.
//
// Memory is bounded: the log keeps the latest `capacity` entries whose texts together take
// at most `maxBytes`; an entry larger than that on its own keeps the first `maxBytes` bytes of
// its argument text.
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
    static constexpr size_t DEFAULT_CAPACITY = 10000;
    static constexpr size_t DEFAULT_MAX_BYTES = 4u << 20;

    struct Entry {
        std::string method;
        std::string args;
    };

    explicit RequestLog(size_t capacity = DEFAULT_CAPACITY, size_t maxBytes = DEFAULT_MAX_BYTES);
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;
    ~RequestLog();

    // Appends every later request to the file at `path` (created when missing); throws
    // ServerError when it cannot be opened.
    void openTraceFile(const std::string& path) EXCLUDES(lock_);

    // `client` and `result` go to the trace only (see above).
    void record(const std::string& method, const std::string& args,
                const std::string& client = std::string(),
                const std::string& result = std::string()) EXCLUDES(lock_);
    std::vector<Entry> entries() const EXCLUDES(lock_);
    // The argument texts of every logged request of `method`, oldest first.
    std::vector<std::string> argsOf(const std::string& method) const EXCLUDES(lock_);
    // Bytes the kept entries take (their method and argument texts).
    size_t bytes() const EXCLUDES(lock_);
    void clear() EXCLUDES(lock_);

    // The method and argument field of a trace line.
    static std::string traceLine(const std::string& method, const std::string& args);
    // The whole trace line (without its line feed).
    static std::string traceLine(const std::string& time, const std::string& client,
                                 const std::string& method, const std::string& args,
                                 const std::string& result);
    // The current time in the trace's form.
    static std::string now();

private:
    void keep(const std::string& method, const std::string& args) REQUIRES(lock_);

    const size_t capacity_;
    const size_t maxBytes_;
    mutable Vantrel::CoMutex lock_;
    std::deque<Entry> entries_ GUARDED_BY(lock_);
    size_t bytes_ GUARDED_BY(lock_);
    FILE* trace_ GUARDED_BY(lock_);
};

}  // namespace vantreld
