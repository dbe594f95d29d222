// The library's messages, handed to Python's logging module instead of standard output.
//
// The router runs on whatever thread posts (library threads among them, some holding library
// locks), so it never waits for the interpreter lock: it queues the message and wakes the
// reader through a pipe. The package's forwarding thread (vantrel/__init__.py) waits on the
// pipe in Python and logs what take_messages() returns on logger "vantrel".
#include <fcntl.h>
#include <unistd.h>

#include <deque>
#include <mutex>
#include <utility>

#include "Binding.h"
#include "vantrel/CoMsg.h"

namespace vantrel_python {

namespace {

using Vantrel::CoMsg;

// Messages waiting for the forwarding thread; beyond this many the newest are dropped and
// counted (a flood of messages must not grow the process without bound).
constexpr size_t MAX_QUEUED = 10000;

// Python logging levels.
int loggingLevel(CoMsg::Level level) {
    switch (level) {
        case CoMsg::ERROR_LEVEL: return 40;
        case CoMsg::WARNING_LEVEL: return 30;
        case CoMsg::DEBUGGING_LEVEL: return 10;
        default: return 20;  // user, notice
    }
}

class QueueRouter : public CoMsg::Router {
public:
    QueueRouter() {
        // The reader blocks; the posting side never does.
        if (pipe2(wake_, O_CLOEXEC) != 0 || fcntl(wake_[1], F_SETFL, O_NONBLOCK) != 0)
            wake_[0] = wake_[1] = -1;
    }

    void post(const CoMsg& msg) const override {
        std::string text = msg.text();
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        bool wasEmpty = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queued_.size() >= MAX_QUEUED) {
                ++dropped_;
                return;
            }
            wasEmpty = queued_.empty();
            queued_.emplace_back(loggingLevel(msg.level()), std::move(text));
        }
        if (wasEmpty && wake_[1] >= 0) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t written = write(wake_[1], &byte, 1);
        }
    }

    // Every queued message, oldest first, then a warning for those dropped.
    std::deque<std::pair<int, std::string>> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::deque<std::pair<int, std::string>> taken;
        taken.swap(queued_);
        if (dropped_ != 0)
            taken.emplace_back(30, std::to_string(dropped_) + " library messages were dropped");
        dropped_ = 0;
        return taken;
    }

    int wakeDescriptor() const { return wake_[0]; }

private:
    mutable std::mutex mutex_;
    mutable std::deque<std::pair<int, std::string>> queued_;
    mutable size_t dropped_ = 0;
    int wake_[2];
};

// Lives as long as the process: library threads may post until the very end.
QueueRouter& router() {
    static QueueRouter* instance = new QueueRouter();
    return *instance;
}

py::list takeMessages() {
    py::list messages;
    for (auto& message : router().take()) {
        py::str text = py::reinterpret_steal<py::str>(
            PyUnicode_DecodeUTF8(message.second.data(), message.second.size(), "replace"));
        messages.append(py::make_tuple(message.first, text));
    }
    return messages;
}

}  // namespace

void bindMessages(py::module_& module) {
    CoMsg::setRouter(&router());
    module.def("_take_messages", &takeMessages,
               "The library messages queued since the last call: (logging level, text) pairs.");
    module.attr("_message_wake_fd") = router().wakeDescriptor();
}

}  // namespace vantrel_python
