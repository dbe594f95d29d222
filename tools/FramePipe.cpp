#include "FramePipe.h"

#include <algorithm>

namespace vantrel_tool {

FramePipe::FramePipe(size_t capacity, Consumer consumer)
    : capacity_(std::max<size_t>(capacity, 1)), consumer_(std::move(consumer)) {
    worker_ = std::thread([this] { work(); });
}

FramePipe::~FramePipe() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        closing_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    worker_.join();
}

size_t FramePipe::capacityFor(size_t frameSize, size_t bufferBytes) {
    const size_t frames = frameSize == 0 ? bufferBytes : bufferBytes / frameSize;
    return std::clamp<size_t>(frames, 1, 256);
}

void FramePipe::push(size_t index, Bytes& bytes) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return queue_.size() < capacity_ || failure_; });
    if (failure_) std::rethrow_exception(failure_);
    queue_.push_back(Frame{index, std::move(bytes)});
    bytes.clear();
    if (!spare_.empty()) {
        bytes = std::move(spare_.back());
        spare_.pop_back();
    }
    changed_.notify_all();
}

void FramePipe::finish() {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return (queue_.empty() && !busy_) || failure_; });
    if (failure_) std::rethrow_exception(failure_);
}

void FramePipe::work() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return !queue_.empty() || closing_; });
        if (closing_) return;
        Frame frame = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        guard.unlock();
        std::exception_ptr failure;
        try {
            consumer_(frame.index, frame.bytes);
        } catch (...) {
            failure = std::current_exception();
        }
        guard.lock();
        busy_ = false;
        spare_.push_back(std::move(frame.bytes));
        changed_.notify_all();
        if (failure) {
            failure_ = failure;
            queue_.clear();
            return;
        }
    }
}

}  // namespace vantrel_tool
