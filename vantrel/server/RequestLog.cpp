#include "vantrel/server/RequestLog.h"

#include "vantrel/server/ServerError.h"

namespace vantreld {

RequestLog::RequestLog(size_t capacity) : capacity_(capacity), trace_(nullptr) {}

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
    for (char c : args) {
        if (c == '\n')
            line += "\\n";
        else if (c == '\t')
            line += "\\t";
        else if (c == '\\')
            line += "\\\\";
        else
            line += c;
    }
    return line;
}

void RequestLog::record(const std::string& method, const std::string& args) {
    Vantrel::CoMutexGuard guard(lock_);
    if (capacity_ > 0) {
        if (entries_.size() == capacity_) entries_.pop_front();
        entries_.push_back({method, args});
    }
    if (trace_ != nullptr) {
        const std::string line = traceLine(method, args) + "\n";
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

void RequestLog::clear() {
    Vantrel::CoMutexGuard guard(lock_);
    entries_.clear();
}

}  // namespace vantreld
