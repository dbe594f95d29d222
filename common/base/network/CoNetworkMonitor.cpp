#include "network/CoNetworkMonitor.h"

#include <algorithm>
#include <string>

#include "vantrel/CoMsg.h"
#include "network/CoAddressChangeWatch.h"
#include "threads/CoThread.h"
#include "threads/CoThreadMgr.h"

namespace Vantrel {

const char CoNetworkMonitor::THREAD_NAME[] = "CoNetworkMonitor Thread";

CoNetworkMonitor::Observer::~Observer() = default;

CoNetworkMonitor& CoNetworkMonitor::getInstance() {
    // Never destroyed: dispatchers that live in static storage may unregister after the end
    // of main, and a thread left running at exit keeps its state.
    static CoNetworkMonitor* instance = new CoNetworkMonitor;
    return *instance;
}

CoNetworkMonitor::CoNetworkMonitor() : thread_(nullptr) {}

CoNetworkMonitor::~CoNetworkMonitor() = default;

void CoNetworkMonitor::addObserver(Observer* observer) {
    CoMutexGuard guard(observersLock_);
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void CoNetworkMonitor::removeObserver(Observer* observer) {
    CoMutexGuard guard(observersLock_);
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer),
                     observers_.end());
}

bool CoNetworkMonitor::start() {
    CoMutexGuard guard(controlLock_);
    if (thread_ != nullptr) return true;
    std::unique_ptr<CoAddressChangeWatch> watch(new CoAddressChangeWatch);
    std::string error;
    if (!watch->open(error)) {
        CO_MSG_ERROR("Could not register for IP notifications: %s", error.c_str());
        return false;
    }
    watch_ = std::move(watch);
    thread_ = &CoThreadMgr::createThread(THREAD_NAME, threadMain, watch_.get(), true);
    return true;
}

void CoNetworkMonitor::stop() {
    CoMutexGuard guard(controlLock_);
    if (thread_ == nullptr) return;
    watch_->wake();
    if (CoThread* thread = registeredThread()) {
        thread->join();
        CoThreadMgr::getInstance().removeThread(thread);
        delete thread;
    }
    thread_ = nullptr;
    watch_.reset();
}

bool CoNetworkMonitor::isRunning() {
    CoMutexGuard guard(controlLock_);
    return thread_ != nullptr;
}

CoThread* CoNetworkMonitor::registeredThread() {
    CoThread* const ours = thread_;
    CoThread* found = nullptr;
    CoThreadMgr::getInstance().visitThreads([ours, &found](CoThread* thread) {
        if (thread != ours) return 0;
        found = thread;
        return 1;
    });
    return found;
}

void CoNetworkMonitor::threadMain(void* watch) {
    getInstance().run(*static_cast<CoAddressChangeWatch*>(watch));
}

void CoNetworkMonitor::run(CoAddressChangeWatch& watch) {
    std::string error;
    for (;;) {
        switch (watch.wait(error)) {
        case CoAddressChangeWatch::CHANGED:
            CO_MSG_DEBUG("Network topology changed");
            notifyObservers();
            break;
        case CoAddressChangeWatch::WOKEN:
            return;
        case CoAddressChangeWatch::FAILED:
            // A wait that failed once fails again at once: looping would only spin.
            CO_MSG_ERROR("Could not wait for network change notification: %s", error.c_str());
            return;
        }
    }
}

void CoNetworkMonitor::notifyObservers() {
    CoMutexGuard guard(observersLock_);
    // A copy, so an observer may add or remove observers (itself included) from notify();
    // those it removed are skipped.
    const std::vector<Observer*> observers = observers_;
    for (Observer* observer : observers)
        if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end())
            observer->notify();
}

}  // namespace Vantrel
