#include "vantrel/VantrelNodeHandle.h"

#include <cstdio>
#include <string>

#include "osal/CoAssert.h"
#include "vantrel/client/api/VantrelNodeImp.h"
#include "vantrel/VantrelServerHandle.h"
#include "vantrel/client/connection/VantrelTextConversion.h"

namespace {

// Made on first use and never destroyed, so that default-made node handles may outlive
// everything else.
const VantrelServerHandle& defaultServer() {
    static const VantrelServerHandle* server = new VantrelServerHandle("");
    return *server;
}

std::string typeText(int type) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", type);
    return text;
}

// Copies a string result into a VantrelStr only on success.
template <typename Fetch>
bool intoStr(VantrelStr& out, Fetch fetch) {
    std::string text;
    if (!fetch(text)) return false;
    out = text.c_str();
    return true;
}

}  // namespace

VantrelNodeHandle::VantrelNodeHandle()
    : imp_(new VantrelNodeImp(&defaultServer(), VantrelNodeId())) {}

VantrelNodeHandle::VantrelNodeHandle(const VantrelServerHandle& server, const VantrelNodeId& id)
    : imp_(new VantrelNodeImp(&server, id)) {}

VantrelNodeHandle::VantrelNodeHandle(const VantrelServerHandle& server, const char* id)
    : imp_(new VantrelNodeImp(&server, VantrelNodeId(id))) {}

VantrelNodeHandle::VantrelNodeHandle(const VantrelNodeHandle& other)
    : imp_(new VantrelNodeImp(*other.imp())) {}

VantrelNodeHandle& VantrelNodeHandle::operator=(const VantrelNodeHandle& other) {
    if (this != &other) *imp() = *other.imp();
    return *this;
}

VantrelNodeHandle::~VantrelNodeHandle() { delete imp_; }

VantrelNodeImp* VantrelNodeHandle::imp() const {
    CO_ASSERT_TEXT(imp_ != nullptr, "imp_ != 0");
    return imp_;
}

const char* VantrelNodeHandle::lastError() const { return imp()->server()->lastError(); }

const VantrelNodeId& VantrelNodeHandle::getNodeId() const { return imp()->nodeId(); }

void VantrelNodeHandle::setNodeId(const VantrelNodeId& id) {
    if (imp()->nodeId() == id) return;
    // `id` may live in the implementation being replaced.
    VantrelNodeImp* fresh = new VantrelNodeImp(imp_->server(), id);
    delete imp_;
    imp_ = fresh;
}

const VantrelServerHandle& VantrelNodeHandle::getServer() const { return *imp()->server(); }

void VantrelNodeHandle::setServer(const VantrelServerHandle& server) {
    if (imp()->server() == &server) return;
    VantrelNodeImp* fresh = new VantrelNodeImp(&server, imp_->nodeId());
    delete imp_;
    imp_ = fresh;
}

bool VantrelNodeHandle::getDisplayName(VantrelStr& name) const {
    return intoStr(name, [&](std::string& text) { return imp()->getDisplayName(text); });
}

bool VantrelNodeHandle::getNodeType(int& type) const {
    int clipFlag = 0;
    std::string text;
    return imp()->getNodeType(clipFlag, type, text);
}

bool VantrelNodeHandle::getIsClipNode(bool& isClip) const {
    int clipFlag = 0, type = 0;
    std::string text;
    if (!imp()->getNodeType(clipFlag, type, text)) return false;
    isClip = clipFlag == 1;
    return true;
}

bool VantrelNodeHandle::getNodeTypeStr(VantrelStr& type) const {
    return intoStr(type, [&](std::string& text) {
        int clipFlag = 0, number = 0;
        return imp()->getNodeType(clipFlag, number, text);
    });
}

bool VantrelNodeHandle::getClipFormat(VantrelClipFormat& format) const {
    return imp()->getClipFormat(format);
}

bool VantrelNodeHandle::getNumChildren(int& count) { return imp()->getNumChildren(count); }

bool VantrelNodeHandle::getNumChildren(unsigned int& count) {
    int signedCount = 0;
    if (!imp()->getNumChildren(signedCount)) return false;
    count = static_cast<unsigned int>(signedCount);
    return true;
}

bool VantrelNodeHandle::getChild(int index, VantrelNodeHandle& child) const {
    // A copy: `child` may be this handle, whose caches setNodeId drops.
    VantrelNodeInterface::Child record;
    if (!imp()->getChildRecord(index, record)) return false;
    const VantrelServerHandle& server = *imp_->server();
    child.setServer(server);
    child.setNodeId(VantrelNodeId(record.nodeId.c_str()));
    child.imp()->setKnownDisplayName(record.displayName);
    return true;
}

bool VantrelNodeHandle::getParentNode(VantrelNodeHandle& parent) const {
    VantrelNodeId parentId;
    if (!imp()->getParentId(parentId)) return false;
    const VantrelServerHandle& server = *imp_->server();
    parent.setServer(server);
    parent.setNodeId(parentId);
    return true;
}

bool VantrelNodeHandle::canCreateNode(const char* type, bool& can) const {
    return imp()->canCreateNode(type, can);
}

// Points `child` at the node just created under the name `name`, whose display name it then
// knows as the server will give it back.
void VantrelNodeHandle::adoptCreated(const VantrelNodeId& newId, const char* name,
                                     VantrelNodeHandle& child) const {
    const VantrelServerHandle& server = *imp()->server();
    child.setServer(server);
    child.setNodeId(newId);
    child.imp()->setKnownDisplayName(VantrelLocaleTextAsReadBack(name));
}

bool VantrelNodeHandle::createNode(const char* name, const char* type, VantrelNodeHandle& child) {
    VantrelNodeId newId;
    if (!imp()->createNode(name, type, VantrelClipFormat(), newId)) return false;
    adoptCreated(newId, name, child);
    return true;
}

bool VantrelNodeHandle::createNode(const char* name, int type, VantrelNodeHandle& child) {
    return createNode(name, typeText(type).c_str(), child);
}

bool VantrelNodeHandle::createClipNode(const char* name, const VantrelClipFormat& format,
                                       const char* type, VantrelNodeHandle& child) {
    // `format` may belong to `child`, which the creation replaces.
    const VantrelClipFormat given(format);
    VantrelNodeId newId;
    if (!imp()->createNode(name, type, given, newId)) return false;
    adoptCreated(newId, name, child);
    child.imp()->setCreationFormat(given);
    return true;
}

bool VantrelNodeHandle::createClipNode(const char* name, const VantrelClipFormat& format,
                                       int type, VantrelNodeHandle& child) {
    return createClipNode(name, format, typeText(type).c_str(), child);
}

bool VantrelNodeHandle::renameNode(const char* name) { return imp()->renameNode(name); }

bool VantrelNodeHandle::destroyNode() {
    if (!imp()->destroyNode()) return false;
    VantrelNodeImp* fresh = new VantrelNodeImp(imp_->server(), imp_->nodeId());
    delete imp_;
    imp_ = fresh;
    return true;
}

bool VantrelNodeHandle::getNumFrames(int& count) { return imp()->getNumFrames(count); }

bool VantrelNodeHandle::getNumFrames(unsigned int& count) {
    int signedCount = 0;
    if (!imp()->getNumFrames(signedCount)) return false;
    count = static_cast<unsigned int>(signedCount);
    return true;
}

bool VantrelNodeHandle::getFrameId(int index, VantrelStr& id) const {
    return intoStr(id, [&](std::string& text) { return imp()->getFrameId(index, text); });
}

bool VantrelNodeHandle::setNumFrames(unsigned int count) { return imp()->setNumFrames(count); }

bool VantrelNodeHandle::getFrameIdPath(int index, VantrelStr& path) const {
    return intoStr(path, [&](std::string& text) { return imp()->getFrameIdPath(index, text); });
}

bool VantrelNodeHandle::linkToFrames(const VantrelStr* paths, int count) {
    return imp()->linkToFrames(paths, count);
}

bool VantrelNodeHandle::getMetaData(const char* stream, const char* filter, int depth,
                                    VantrelStr& data) const {
    return intoStr(data, [&](std::string& text) {
        return imp()->getMetaData(stream, filter, depth, text);
    });
}

bool VantrelNodeHandle::setMetaData(const char* stream, const char* data) const {
    return imp()->setMetaData(stream, data);
}

bool VantrelNodeHandle::getNumAvailableMetaDataStreams(int& count) const {
    return imp()->getNumMetaDataStreams(count);
}

bool VantrelNodeHandle::getAvailableMetaDataStream(int index, VantrelStr& name) const {
    return intoStr(name, [&](std::string& text) { return imp()->getMetaDataStream(index, text); });
}

bool VantrelNodeHandle::getIsMetaDataStreamAvailable(const char* name, bool& available) const {
    return imp()->isMetaDataStreamAvailable(name, available);
}

bool VantrelNodeHandle::getStreamId(VantrelStr& id) const {
    return intoStr(id, [&](std::string& text) { return imp()->getStreamId(text); });
}

bool VantrelNodeHandle::getNbReadAheads(int& count) const {
    count = imp()->nbReadAheads();
    return true;
}

bool VantrelNodeHandle::activateReadAhead() { return imp()->activateReadAhead(); }

bool VantrelNodeHandle::readFrame(int index, const void* params, unsigned int paramsSize,
                                  void* buffer, unsigned int size, ReadAheadHint hint) {
    return imp()->readFrame(index, params, paramsSize, buffer, size, hint);
}

bool VantrelNodeHandle::readFrame(int index, void* buffer, int size, bool noReadAhead) {
    if (size < 0) size = 0;
    return imp()->readFrame(index, nullptr, 0, buffer, static_cast<unsigned int>(size),
                          noReadAhead ? NO_READ_AHEAD : READ_AHEAD);
}

bool VantrelNodeHandle::writeFrame(int index, const void* data, int size) {
    return imp()->writeFrame(index, data, size);
}
