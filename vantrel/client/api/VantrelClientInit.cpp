// The library's entry points: counted start and stop, version, connection release.
#include <exception>

#include "vantrel/CoMsg.h"
#include "network/CoNetwork.h"
#include "tcp/CoIoTcpDescriptor.h"
#include "vantrel/client/connection/VantrelCallTimeout.h"
#include "vantrel/VantrelClientAPI.h"
#include "vantrel/client/connection/VantrelClientConnection.h"
#include "vantrel/client/events/VantrelEventMonitor.h"
#include "vantrel/client/discovery/VantrelMulticastClient.h"
#include "vantrel/client/discovery/VantrelMulticastDiscovery.h"

namespace {

// Init and uninit run on one thread, before and after every other use of the library.
int initCount = 0;

}  // namespace

bool VantrelClientInit() {
    if (initCount++ > 0) return true;
    Vantrel::CoMsg::setDefaultFilterLevel(Vantrel::CoMsg::USER_LEVEL);
    if (!Vantrel::CoNetwork::init()) {
        --initCount;
        return false;
    }
    try {
        Vantrel::CoIoTcpDescriptor::init();
    } catch (const std::exception& e) {
        CO_MSG_ERROR("%s", e.what());
        Vantrel::CoNetwork::uninit();
        --initCount;
        return false;
    }
    // Without the monitor the library still serves everything but node events, whose
    // registration then fails with a clear text.
    VantrelEventMonitor::start();
    VantrelDiscoveryHooks::install(&VantrelMulticastDiscovery::hooks());
    VantrelClientConnection::createCache();
    return true;
}

void VantrelClientUninit() {
    if (initCount == 0) return;
    if (--initCount > 0) return;
    VantrelMulticastClient::destroyInstance();
    VantrelEventMonitor::stop();
    VantrelClientConnection::destroyCache();
    try {
        Vantrel::CoIoTcpDescriptor::uninit();
    } catch (const std::exception& e) {
        CO_MSG_DEBUG("%s", e.what());
    }
    Vantrel::CoNetwork::uninit();
}

void VantrelClientGetVersion(int& major, int& minor, int& maint) {
    major = 2015;
    minor = 0;
    maint = 0;
}

void VantrelClientReleaseUnusedConnections(bool all) {
    VantrelClientConnection::releaseUnused(all);
}

void VantrelClientSetCallTimeout(unsigned int ms) { VantrelCallTimeout::set(ms); }

unsigned int VantrelClientGetCallTimeout() { return VantrelCallTimeout::ceiling(); }

void VantrelRegisterDisconnectCallBack(void (*callback)(const VantrelServerId&)) {
    VantrelClientConnection::setDisconnectCallback(callback);
}

VantrelClient::VantrelClient(const VantrelClient& other)
    : initialized_(other.initialized_ && VantrelClientInit()) {}

VantrelClient& VantrelClient::operator=(const VantrelClient& other) {
    if (other.initialized_ && !initialized_) {
        initialized_ = VantrelClientInit();
    } else if (!other.initialized_ && initialized_) {
        VantrelClientUninit();
        initialized_ = false;
    }
    return *this;
}

VantrelClient::~VantrelClient() {
    if (initialized_) VantrelClientUninit();
}

bool VantrelClient::init() {
    if (!initialized_) initialized_ = VantrelClientInit();
    return initialized_;
}
