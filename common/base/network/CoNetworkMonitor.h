// Watches the host for changes of its interface addresses and tells its observers.
//
// The single monitor runs the thread "CoNetworkMonitor Thread", made through the thread
// manager, between start() and stop(); CoNetwork starts it with its first init() and stops it
// with its last uninit(). After each change (an address or link of an interface, or a default
// route, came or went; changes that arrive together count once) the thread posts the debug
// message "Network topology changed" and calls notify() on every registered observer.
//
// Observers register at any time, whether the thread runs or not. They are called on the
// monitor thread with the observer lock held: removeObserver() waits for a running
// notification to end, so once it returns the observer is not called again and may be
// destroyed. An observer must not start or stop the monitor from notify(), nor wait for
// another thread that adds or removes observers.
//
// Threads: every operation may be called from any thread. start() and stop() are serialised
// by a lock of their own.
#pragma once

#include <memory>
#include <vector>

#include "ipc/CoMutex.h"
#include "osal/CoThreadAnnotations.h"

namespace Vantrel {

class CoAddressChangeWatch;
class CoThread;

class CoNetworkMonitor {
public:
    // Listener of address changes.
    class Observer {
    public:
        virtual ~Observer();
        // Called on the monitor thread after a change.
        virtual void notify() = 0;
    };

    // The single instance; made on first use and kept until the process ends.
    static CoNetworkMonitor& getInstance();

    CoNetworkMonitor(const CoNetworkMonitor&) = delete;
    CoNetworkMonitor& operator=(const CoNetworkMonitor&) = delete;

    // Not owned. Adding an observer twice registers it once.
    void addObserver(Observer* observer) EXCLUDES(observersLock_);
    void removeObserver(Observer* observer) EXCLUDES(observersLock_);

    // Starts the thread when it does not run. When the system refuses the subscription it
    // posts "Could not register for IP notifications: %s", starts nothing and returns false;
    // interfaces then change unnoticed, but nothing else is affected.
    bool start() EXCLUDES(controlLock_);
    // Wakes the thread, waits for its end and lets it go; nothing when it does not run.
    void stop() EXCLUDES(controlLock_);
    // True from a successful start() to the next stop() (also when the thread ended early
    // because its wait failed, which it reports with the error "Could not wait for network
    // change notification: %s").
    bool isRunning() EXCLUDES(controlLock_);

    // The name of the monitor thread.
    static const char THREAD_NAME[];

private:
    CoNetworkMonitor();
    ~CoNetworkMonitor();

    static void threadMain(void* self);
    void run(CoAddressChangeWatch& watch);
    void notifyObservers() EXCLUDES(observersLock_);
    // The thread object, when the manager still holds it (its uninitialize() may have
    // destroyed it); null otherwise.
    CoThread* registeredThread() REQUIRES(controlLock_);

    CoMutex observersLock_;
    std::vector<Observer*> observers_ GUARDED_BY(observersLock_);

    CoMutex controlLock_;
    std::unique_ptr<CoAddressChangeWatch> watch_ GUARDED_BY(controlLock_);
    CoThread* thread_ GUARDED_BY(controlLock_);   // owned by the thread manager while running
};

}  // namespace Vantrel
