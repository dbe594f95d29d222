// FramePipe: frames handed from the thread that reads them to a worker thread that consumes
// them (writes or compares them elsewhere), so that reading and consuming overlap.
//
// The queue between the two holds at most `capacity` frames; push() blocks while it is full.
// Frame buffers are recycled, so a long transfer allocates `capacity` + 2 buffers at most.
//
// Failure: an exception thrown by the consumer stops the worker; the next push() or finish()
// rethrows it on the pushing thread (later frames are dropped). A pipe destroyed before
// finish() (the reader failed) drops what is queued and joins the worker.
// Threads: push() and finish() from one thread (the owner's); the consumer runs on the worker.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vantrel_tool {

class FramePipe {
public:
    using Bytes = std::vector<unsigned char>;
    using Consumer = std::function<void(size_t index, const Bytes& bytes)>;

    // Starts the worker. `capacity` is at least 1.
    FramePipe(size_t capacity, Consumer consumer);
    ~FramePipe();
    FramePipe(const FramePipe&) = delete;
    FramePipe& operator=(const FramePipe&) = delete;

    // Queues frame `index`: takes `bytes` and leaves a spare buffer (perhaps of another size,
    // perhaps empty) in their place, so frames are never copied.
    void push(size_t index, Bytes& bytes);
    // Waits until every queued frame is consumed; rethrows the consumer's failure.
    void finish();

    // The queue length that keeps about `bufferBytes` bytes of frames of `frameSize` in
    // flight (at least 1 frame, at most 256).
    static size_t capacityFor(size_t frameSize, size_t bufferBytes);

private:
    struct Frame {
        size_t index;
        Bytes bytes;
    };
    void work();

    const size_t capacity_;
    const Consumer consumer_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Frame> queue_;        // guarded by lock_
    std::vector<Bytes> spare_;       // guarded by lock_
    bool busy_ = false;              // guarded by lock_: the consumer holds a frame
    bool closing_ = false;           // guarded by lock_
    std::exception_ptr failure_;     // guarded by lock_
    std::thread worker_;
};

}  // namespace vantrel_tool
