#include "vantrel/VantrelServerHandle.h"

#include <string>

#include "osal/CoAssert.h"
#include "vantrel/client/connection/VantrelBaseClientAPI.h"
#include "vantrel/client/connection/VantrelClientConnection.h"
#include "vantrel/client/nodes/VantrelNodeClientAPI.h"
#include "vantrel/VantrelNodeHandle.h"
#include "vantrel/client/api/VantrelServerFrames.h"
#include "vantrel/client/api/VantrelServerImp.h"
#include "vantrel/VantrelServerInfo.h"

namespace {

const char EVENTS_NOT_AVAILABLE[] =
    "Node events are not available: the event monitor is not running.";

}  // namespace

VantrelServerHandle::VantrelServerHandle(const char* id)
    : imp_(new VantrelServerImp(VantrelServerId(id))) {}

VantrelServerHandle::VantrelServerHandle(const VantrelServerId& id)
    : imp_(new VantrelServerImp(id)) {}

VantrelServerHandle::VantrelServerHandle(const VantrelServerHandle& other) : imp_(nullptr) {
    CO_ASSERT_TEXT(other.imp_ != nullptr, "imp_ != 0");
    other.imp_->bind();
    imp_ = new VantrelServerImp(other.imp_->serverId());
}

VantrelServerHandle::~VantrelServerHandle() { delete imp_; }

VantrelServerImp* VantrelServerHandle::imp() const {
    CO_ASSERT_TEXT(imp_ != nullptr, "imp_ != 0");
    return imp_;
}

const char* VantrelServerHandle::lastError() const { return imp()->lastError(); }

const VantrelServerId& VantrelServerHandle::getId() const {
    imp()->bind();
    return imp_->serverId();
}

const char* VantrelServerHandle::getIdStr() const { return getId().getId(); }

bool VantrelServerHandle::getInfo(VantrelServerInfo& info) const {
    const VantrelDaemonInfo* record = imp()->getDaemonInfo();
    if (record == nullptr) return false;
    info = *record;
    return true;
}

bool VantrelServerHandle::getDisplayName(VantrelStr& name) const {
    const VantrelDaemonInfo* record = imp()->getDaemonInfo();
    if (record == nullptr) return false;
    name = record->getDisplayName();
    return true;
}

bool VantrelServerHandle::getStorageId(VantrelStr& id) const {
    const VantrelDaemonInfo* record = imp()->getDaemonInfo();
    if (record == nullptr) return false;
    id = record->getStorageId();
    return true;
}

const char* VantrelServerHandle::getHostName() const {
    const VantrelDaemonInfo* record = imp()->getDaemonInfo();
    return record != nullptr ? record->getHostName() : nullptr;
}

const char* VantrelServerHandle::getHostUUID() const {
    const VantrelDaemonInfo* record = imp()->getDaemonInfo();
    return record != nullptr ? record->getHostUUID() : nullptr;
}

bool VantrelServerHandle::getProtocolVersion(int& major, int& minor) const {
    const VantrelDaemonInfo* record = imp()->getDaemonInfo();
    if (record == nullptr) return false;
    major = record->getVersionMajor();
    minor = record->getVersionMinor();
    return true;
}

bool VantrelServerHandle::getVendor(VantrelStr& vendor) const {
    VantrelNodeClientAPI* client = imp()->nodeClient();
    if (client == nullptr) return false;
    std::string text;
    if (!client->getVendor(text)) {
        imp_->setLastError(client->lastError());
        return false;
    }
    vendor = text.c_str();
    return true;
}

bool VantrelServerHandle::getProduct(VantrelStr& product) const {
    VantrelNodeClientAPI* client = imp()->nodeClient();
    if (client == nullptr) return false;
    std::string text;
    if (!client->getProduct(text)) {
        imp_->setLastError(client->lastError());
        return false;
    }
    product = text.c_str();
    return true;
}

bool VantrelServerHandle::getVersion(int& major, int& minor) const {
    VantrelNodeClientAPI* client = imp()->nodeClient();
    if (client == nullptr) return false;
    if (!client->getVersion(major, minor)) {
        imp_->setLastError(client->lastError());
        return false;
    }
    return true;
}

bool VantrelServerHandle::ping(unsigned int timeout) const {
    VantrelBaseClientAPI* client = imp()->baseClient();
    if (client == nullptr) return false;
    if (!client->ping(timeout)) {
        imp_->setLastError(client->lastError());
        return false;
    }
    return true;
}

bool VantrelServerHandle::isConnected() const {
    VantrelClientConnection* connection = imp()->boundConnection();
    return connection != nullptr && connection->isConnected();
}

void VantrelServerHandle::stop(const char* msg) const {
    // A handle that has made no call yet binds (no traffic): the call in progress may be
    // another handle's of the same server.
    VantrelClientConnection* connection = imp()->bindForStop();
    if (connection != nullptr) connection->stop(msg);
    imp()->frames().stop();
}

void VantrelServerHandle::disconnect() {
    // Binding makes no traffic, and the link may be open for other handles of the server.
    VantrelClientConnection* connection = imp()->connection();
    if (connection != nullptr) connection->forcedDisconnect();
    imp()->frames().disconnect();
}

bool VantrelServerHandle::translatePaths(const VantrelStrList& in, VantrelStrList& out,
                                         const char* srcHost, const char* dstHost,
                                         VantrelOS::OsType srcType, VantrelOS::OsType dstType) {
    return imp()->translatePaths(in, out, srcHost, dstHost, srcType, dstType);
}

bool VantrelServerHandle::translatePath(const VantrelStr& in, VantrelStr& out,
                                        const char* srcHost, const char* dstHost,
                                        VantrelOS::OsType srcType, VantrelOS::OsType dstType) {
    VantrelStrList paths;
    paths.push_back(in);
    VantrelStrList translated;
    if (!translatePaths(paths, translated, srcHost, dstHost, srcType, dstType)) return false;
    out = translated.size() > 0 ? translated[0] : "";
    return true;
}

bool VantrelServerHandle::getNumHostTranslations(int& count) {
    return imp()->getNumHostTranslations(count);
}

bool VantrelServerHandle::getHostTranslation(int index, HostTranslation& translation) {
    return imp()->getHostTranslation(index, translation);
}

bool VantrelServerHandle::getNumOsTypeTranslations(int& count) {
    return imp()->getNumOsTypeTranslations(count);
}

bool VantrelServerHandle::getOsTypeTranslation(int index, OsTypeTranslation& translation) {
    return imp()->getOsTypeTranslation(index, translation);
}

bool VantrelServerHandle::getNumTranslationGroups(int& count) {
    return imp()->getNumTranslationGroups(count);
}

bool VantrelServerHandle::getTranslationGroup(int index, TranslationGroup& group) {
    return imp()->getTranslationGroup(index, group);
}

bool VantrelServerHandle::getRootNode(VantrelNodeHandle& node) const {
    VantrelNodeClientAPI* client = imp()->nodeClient();
    if (client == nullptr) return false;
    VantrelNodeId root;
    if (!client->getRootNode(root)) {
        imp_->setLastError(client->lastError());
        return false;
    }
    node.setServer(*this);
    node.setNodeId(root);
    return true;
}

bool VantrelServerHandle::registerEventHandler(const VantrelNodeId& node,
                                               VantrelNodeEvent::Handler* handler) {
    CO_ASSERT_TEXT(handler != nullptr, "handler != 0");
    if (!imp()->bind()) return false;
    VantrelEventMonitor::Connection* events = imp_->events();
    if (events == nullptr) {
        imp_->setLastError(EVENTS_NOT_AVAILABLE);
        return false;
    }
    if (!events->registerHandler(node, handler)) {
        imp_->setLastError(events->getLastError());
        return false;
    }
    return true;
}

bool VantrelServerHandle::unregisterEventHandler(const VantrelNodeId& node,
                                                 VantrelNodeEvent::Handler* handler) {
    VantrelEventMonitor::Connection* events = imp()->existingEvents();
    if (events == nullptr) return true;  // nothing was registered
    if (!events->unregisterHandler(node, handler)) {
        imp_->setLastError(events->getLastError());
        return false;
    }
    return true;
}

// Frames and streams travel on the data connection to the frame port.

bool VantrelServerHandle::readFrame(const char* frameId, void* buffer, unsigned int size,
                                    const char* readAheadId1, const char* readAheadId2) const {
    return imp()->frames().readFrame(frameId, nullptr, 0, buffer, size, readAheadId1,
                                     readAheadId2);
}

bool VantrelServerHandle::readFrame(const char* frameId, const void* params,
                                    unsigned int paramsLength, void* buffer, unsigned int size,
                                    const char* readAheadId1, const char* readAheadId2) const {
    return imp()->frames().readFrame(frameId, params, paramsLength, buffer, size, readAheadId1,
                                     readAheadId2);
}

bool VantrelServerHandle::writeFrame(const char* frameId, const void* data,
                                     unsigned int size) const {
    return imp()->frames().writeFrame(frameId, data, size);
}

bool VantrelServerHandle::readStream(const char* id, void* buffer, unsigned int size, int first,
                                     int unitSize, int& count) const {
    return imp()->frames().readStream(id, buffer, size, first, unitSize, count);
}

bool VantrelServerHandle::pushStream(const char* remoteName, const char* localPath) const {
    return imp()->frames().pushStream(remoteName, localPath);
}

bool VantrelServerHandle::pullStream(const char* remoteName, const char* localPath) const {
    return imp()->frames().pullStream(remoteName, localPath);
}

bool VantrelServerHandle::invalidateCache() const { return imp()->frames().invalidateCache(); }
