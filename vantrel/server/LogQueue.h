// Where a server's log lines go without ever holding up its work: a bounded queue in memory
// and a thread of its own that writes the lines to a descriptor (standard error, or a file).
//
// post() never blocks on the output: when the queue holds MAX_LINES lines or MAX_BYTES
// bytes, the line is dropped and counted; the next line the queue takes again comes after a
// line "N log lines dropped", in the place where they went missing. Each line is "TIME LEVEL TEXT" (UTC time).
//
// install() makes the queue the router of every CoMsg message of the process until the queue
// is destroyed. finish() stops taking lines and waits until the queued ones are written; the
// destructor does the same without a time limit, so a process whose output never drains
// ends without destroying its queue when finish() times out.
// Threads: post() and dropped() from any thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "vantrel/CoMsg.h"

namespace vantreld {

class LogQueue : public Vantrel::CoMsg::Router {
public:
    static constexpr size_t MAX_LINES = 4096;
    static constexpr size_t MAX_BYTES = 1u << 20;

    // Writes to `fd` (not owned, kept open by the caller).
    explicit LogQueue(int fd);
    // Opens `path` for appending; throws ServerError when it cannot.
    static LogQueue* openFile(const std::string& path);
    ~LogQueue() override;
    LogQueue(const LogQueue&) = delete;
    LogQueue& operator=(const LogQueue&) = delete;

    void install();
    void post(const Vantrel::CoMsg& msg) const override;
    // Queues one line (a line feed is added).
    void post(const std::string& line) const;
    unsigned long long dropped() const;
    // Lines posted later are dropped. False when the queue was not written out within
    // `timeoutMs` (negative: no limit).
    bool finish(int timeoutMs);

private:
    LogQueue(int fd, bool owned);
    void writeLoop();
    void writeAll(const std::string& text) const;

    const int fd_;
    const bool owned_;
    mutable std::mutex lock_;
    mutable std::condition_variable wake_;
    mutable std::deque<std::string> lines_;
    mutable size_t bytes_;
    mutable unsigned long long dropped_, droppedUnreported_;
    mutable bool stopping_;
    bool installed_;
    bool finished_;
    std::condition_variable done_;
    std::thread writer_;
};

}  // namespace vantreld
