// The way back into the interpreter for threads other than the main one, closed at exit.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "Binding.h"

namespace vantrel_python {

namespace {

struct Gate {
    std::mutex mutex;
    std::condition_variable emptied;
    int inside = 0;
    bool closed = false;
};

Gate& gate() {
    static Gate* const instance = new Gate;  // never destroyed: threads may outlive statics
    return *instance;
}

}  // namespace

bool ExitGate::tryEnter() {
    Gate& g = gate();
    std::lock_guard<std::mutex> lock(g.mutex);
    if (g.closed) return false;
    ++g.inside;
    return true;
}

void ExitGate::enter() {
    Gate& g = gate();
    std::lock_guard<std::mutex> lock(g.mutex);
    ++g.inside;
}

void ExitGate::leave() {
    Gate& g = gate();
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        --g.inside;
    }
    g.emptied.notify_all();
}

void ExitGate::close(std::chrono::milliseconds bound) {
    Gate& g = gate();
    ReleasedInterpreter released;  // the threads on their way in need the interpreter lock
    std::unique_lock<std::mutex> lock(g.mutex);
    g.closed = true;
    g.emptied.wait_for(lock, bound, [&] { return g.inside == 0; });
}

}  // namespace vantrel_python
