#include "vantrel/server/RequestLog.h"

#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "vantrel/server/ServerError.h"

namespace vantreld {

namespace {

void appendEscaped(std::string& line, const std::string& text) {
    for (char c : text) {
        if (c == '\n')
            line += "\\n";
        else if (c == '\t')
            line += "\\t";
        else if (c == '\\')
            line += "\\\\";
        else
            line += c;
    }
}

}  // namespace

RequestLog::RequestLog(size_t capacity, size_t maxBytes)
    : capacity_(capacity), maxBytes_(maxBytes), bytes_(0), trace_(nullptr) {}

RequestLog::~RequestLog() {
    if (trace_ != nullptr) std::fclose(trace_);
}

void RequestLog::openTraceFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "ae");
    if (file == nullptr) throw ServerError("Cannot open trace file '" + path + "'");
    Vantrel::CoMutexGuard guard(lock_);
    if (trace_ != nullptr) std::fclose(trace_);
    trace_ = file;
}

std::string RequestLog::traceLine(const std::string& method, const std::string& args) {
    std::string line = method;
    line.reserve(method.size() + 1 + args.size() + args.size() / 8);
    line += ' ';
    appendEscaped(line, args);
    return line;
}

std::string RequestLog::traceLine(const std::string& time, const std::string& client,
                                  const std::string& method, const std::string& args,
                                  const std::string& result) {
    std::string line = time + '\t';
    appendEscaped(line, client);
    line += '\t';
    line += traceLine(method, args);
    line += '\t';
    appendEscaped(line, result);
    return line;
}

std::string RequestLog::now() {
    struct timeval tv;
    ::gettimeofday(&tv, nullptr);
    struct tm utc;
    const time_t seconds = tv.tv_sec;
    gmtime_r(&seconds, &utc);
    char text[40];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ",
                  static_cast<int>(tv.tv_usec / 1000));
    return text;
}

void RequestLog::keep(const std::string& method, const std::string& args) {
    const size_t argsKept = std::min(args.size(), maxBytes_);
    const size_t size = method.size() + argsKept;
    while (!entries_.empty() && (entries_.size() >= capacity_ || bytes_ + size > maxBytes_)) {
        bytes_ -= entries_.front().method.size() + entries_.front().args.size();
        entries_.pop_front();
    }
    entries_.push_back({method, args.substr(0, argsKept)});
    bytes_ += size;
}

void RequestLog::record(const std::string& method, const std::string& args,
                        const std::string& client, const std::string& result) {
    Vantrel::CoMutexGuard guard(lock_);
    if (capacity_ > 0) keep(method, args);
    if (trace_ != nullptr) {
        const std::string line = traceLine(now(), client, method, args, result) + "\n";
        std::fwrite(line.data(), 1, line.size(), trace_);
        std::fflush(trace_);
    }
}

std::vector<RequestLog::Entry> RequestLog::entries() const {
    Vantrel::CoMutexGuard guard(lock_);
    return std::vector<Entry>(entries_.begin(), entries_.end());
}

std::vector<std::string> RequestLog::argsOf(const std::string& method) const {
    std::vector<std::string> args;
    Vantrel::CoMutexGuard guard(lock_);
    for (const Entry& entry : entries_)
        if (entry.method == method) args.push_back(entry.args);
    return args;
}

size_t RequestLog::bytes() const {
    Vantrel::CoMutexGuard guard(lock_);
    return bytes_;
}

void RequestLog::clear() {
    Vantrel::CoMutexGuard guard(lock_);
    entries_.clear();
    bytes_ = 0;
}

}  // namespace vantreld
