#include "network/CoNetwork.h"

#include "ipc/CoMutex.h"
#include "vantrel/CoMsg.h"
#include "network/CoNetworkMonitor.h"
#include "osal/CoThreadAnnotations.h"

namespace Vantrel {
namespace {

struct Users {
    CoMutex lock;
    unsigned count GUARDED_BY(lock) = 0;
};

Users& users() {
    // Never destroyed, so uninit() from a static destructor still finds it.
    static Users* instance = new Users;
    return *instance;
}

}  // namespace

bool CoNetwork::init() {
    Users& state = users();
    CoMutexGuard guard(state.lock);
    if (state.count++ == 0) CoNetworkMonitor::getInstance().start();
    return true;
}

bool CoNetwork::uninit() {
    Users& state = users();
    CoMutexGuard guard(state.lock);
    if (state.count == 0) {
        CO_MSG_ERROR("Could not uninitialize network: %s", "not initialized");
        return false;
    }
    if (--state.count == 0) CoNetworkMonitor::getInstance().stop();
    return true;
}

bool CoNetwork::isInitialized() {
    Users& state = users();
    CoMutexGuard guard(state.lock);
    return state.count > 0;
}

}  // namespace Vantrel
