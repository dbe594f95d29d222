#include "vantrel/server/LogQueue.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "vantrel/server/RequestLog.h"
#include "vantrel/server/ServerError.h"

namespace vantreld {

LogQueue::LogQueue(int fd) : LogQueue(fd, false) {}

LogQueue::LogQueue(int fd, bool owned)
    : fd_(fd),
      owned_(owned),
      bytes_(0),
      dropped_(0),
      droppedUnreported_(0),
      stopping_(false),
      installed_(false),
      finished_(false),
      writer_([this] { writeLoop(); }) {}

LogQueue* LogQueue::openFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        throw ServerError("Cannot open log file '" + path + "': " + std::strerror(errno));
    return new LogQueue(fd, true);
}

LogQueue::~LogQueue() {
    if (installed_) Vantrel::CoMsg::setRouter(nullptr);
    finish(-1);
    writer_.join();
    if (owned_) ::close(fd_);
}

bool LogQueue::finish(int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    stopping_ = true;
    wake_.notify_one();
    auto finished = [this] { return finished_; };
    if (timeoutMs < 0) {
        done_.wait(guard, finished);
        return true;
    }
    return done_.wait_for(guard, std::chrono::milliseconds(timeoutMs), finished);
}

void LogQueue::install() {
    Vantrel::CoMsg::setRouter(this);
    installed_ = true;
}

void LogQueue::post(const Vantrel::CoMsg& msg) const {
    std::string text = msg.text();
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    post(RequestLog::now() + " " + Vantrel::CoMsg::levelToString(msg.level()) + " " + text);
}

void LogQueue::post(const std::string& line) const {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_) return;
        if (lines_.size() >= MAX_LINES || bytes_ + line.size() + 1 > MAX_BYTES) {
            ++dropped_;
            ++droppedUnreported_;
            return;
        }
        if (droppedUnreported_ > 0) {  // where the lines went missing
            lines_.push_back(RequestLog::now() + " warn " + std::to_string(droppedUnreported_) +
                             " log lines dropped\n");
            droppedUnreported_ = 0;
        }
        lines_.push_back(line + "\n");
        bytes_ += line.size() + 1;
    }
    wake_.notify_one();
}

unsigned long long LogQueue::dropped() const {
    std::lock_guard<std::mutex> guard(lock_);
    return dropped_;
}

void LogQueue::writeLoop() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || !lines_.empty(); });
        if (lines_.empty()) {  // stopping, all written
            finished_ = true;
            done_.notify_all();
            return;
        }
        std::string text;
        while (!lines_.empty()) {
            text += lines_.front();
            lines_.pop_front();
        }
        bytes_ = 0;
        guard.unlock();
        writeAll(text);
        guard.lock();
    }
}

void LogQueue::writeAll(const std::string& text) const {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere to write: the lines are lost, the server goes on
        done += static_cast<size_t>(n);
    }
}

}  // namespace vantreld
