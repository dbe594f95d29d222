// Start and stop of the network layer, counted.
//
// The first init() starts the address-change monitor (CoNetworkMonitor); the last uninit()
// stops it and waits for its thread's end. There is no socket library to start on Linux, so
// init() always succeeds; a monitor the system refuses is reported by the monitor and leaves
// the layer initialised without change notifications.
//
// Threads: every operation may be called from any thread; one lock serialises them.
#pragma once

namespace Vantrel {

class CoNetwork {
public:
    // Counts one user more; the first starts the monitor. Returns true.
    static bool init();
    // Undoes the last matching init(); the last stops the monitor. Without a matching init()
    // it posts the error "Could not uninitialize network: not initialized" and returns false.
    static bool uninit();
    // True while init() calls outnumber uninit() calls.
    static bool isInitialized();

    // init() for a scope: calls init() on construction and, when that succeeded, uninit() on
    // destruction.
    class Guard {
    public:
        Guard() : initialized_(init()) {}
        ~Guard() {
            if (initialized_) uninit();
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

        bool isInitialized() const { return initialized_; }

    private:
        const bool initialized_;
    };
};

}  // namespace Vantrel
