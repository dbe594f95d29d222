#include "vantrel/client/api/VantrelNodeImp.h"

#include <climits>
#include <cstring>
#include <tuple>

#include "osal/CoAssert.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/client/nodes/VantrelNodeClientAPI.h"
#include "vantrel/VantrelServerHandle.h"
#include "vantrel/client/api/VantrelServerImp.h"
#include "vantrel/client/connection/VantrelTextConversion.h"

const VantrelNodeImp::ProtocolVersion VantrelNodeImp::SET_META_DATA{2, 5, 0, 0};
const VantrelNodeImp::ProtocolVersion VantrelNodeImp::FRAME_PATHS{2, 6, 1, 0};
const VantrelNodeImp::ProtocolVersion VantrelNodeImp::NB_READ_AHEADS{2010, 1, 1, 0};
const VantrelNodeImp::ProtocolVersion VantrelNodeImp::STREAM_NODE_FORMS{2012, 0, 0, 5134};
const VantrelNodeImp::ProtocolVersion VantrelNodeImp::STREAM_FRAME_PATH_FORMS{2012, 1, 1, 5758};
const VantrelNodeImp::ProtocolVersion VantrelNodeImp::STREAM_FRAME_FORMS{2013, 1, 0, 6115};
const VantrelNodeImp::ProtocolVersion VantrelNodeImp::CAN_CREATE_NODE{2015, 0, 0, 0};

namespace {

// The child types a parent of each type may hold, for servers that cannot answer
// "CanCreateNode" themselves.
struct CreationRule {
    const char* parent;
    std::vector<const char*> children;
};

const std::vector<CreationRule>& creationRules() {
    static const std::vector<CreationRule> rules = {
        {"HOST", {"VOLUME"}},
        {"VOLUME", {"PROJECT"}},
        {"PROJECT", {"SHARED_VAULT"}},
        {"SHARED_VAULT", {"BIN", "LIBRARY"}},
        {"WORKSPACE", {"BIN", "LIBRARY"}},
        {"BINENTRY", {"BIN", "LIBRARY"}},
        {"BIN", {"FOLDER", "CLIP"}},
        {"LIBRARY", {"FOLDER", "CLIP"}},
        {"REEL", {"CLIP"}},
        {"FOLDER", {"FOLDER", "CLIP"}},
        {"DIR", {"DIR"}},
        {"CLIP", {}},
        {"HIRES", {}},
        {"LOWRES", {}},
        {"SLATE", {}},
        {"FILE", {}},
    };
    return rules;
}

}  // namespace

VantrelNodeImp::VantrelNodeImp(const VantrelServerHandle* server, const VantrelNodeId& id)
    : nodeId_(id), server_(server) {
    CO_ASSERT(server != nullptr);
}

VantrelNodeImp::~VantrelNodeImp() = default;

// ---------------------------------------------------------------------------- plumbing

VantrelNodeClientAPI* VantrelNodeImp::client() { return server_->imp()->nodeClient(); }

bool VantrelNodeImp::serverIsAtLeast(const ProtocolVersion& version, bool& atLeast) {
    const VantrelDaemonInfo* info = server_->imp()->getDaemonInfo();
    if (info == nullptr) return false;
    atLeast = std::make_tuple(info->getVersionMajor(), info->getVersionMinor(),
                              info->getVersionMaint(), info->getVersionBuild()) >=
              std::make_tuple(version.major, version.minor, version.maint, version.build);
    return true;
}

bool VantrelNodeImp::fail(const std::string& text) {
    server_->imp()->setLastError(text);
    return false;
}

bool VantrelNodeImp::failedRequest(const VantrelNodeClientAPI& nodes) {
    return fail(nodes.lastError());
}

void VantrelNodeImp::setKnownDisplayName(const std::string& name) {
    displayName_ = name;
    displayNameStale_ = false;
}

void VantrelNodeImp::setCreationFormat(const VantrelClipFormat& format) {
    clipFormat_ = format;
    clipFormatStale_ = false;
    holdsCreationFormat_ = true;
}

// ---------------------------------------------------------------------------- caches

bool VantrelNodeImp::refreshDisplayName() {
    if (!displayNameStale_) return true;
    displayName_.clear();
    VantrelNodeClientAPI* nodes = client();
    bool streamForm = false;
    if (nodes == nullptr || !serverIsAtLeast(STREAM_NODE_FORMS, streamForm)) return false;
    const bool ok = streamForm ? nodes->getDisplayNameEx(nodeId_, displayName_)
                               : nodes->getDisplayName(nodeId_, displayName_);
    if (!ok) return failedRequest(*nodes);
    displayNameStale_ = false;
    return true;
}

bool VantrelNodeImp::refreshNodeType() {
    if (!nodeTypeStale_) return true;
    clipFlag_ = nodeType_ = 0;
    nodeTypeText_.clear();
    VantrelNodeClientAPI* nodes = client();
    if (nodes == nullptr) return false;
    if (!nodes->getNodeType(nodeId_, clipFlag_, nodeType_) ||
        !nodes->getNodeTypeStr(nodeId_, nodeTypeText_))
        return failedRequest(*nodes);
    nodeTypeStale_ = false;
    return true;
}

bool VantrelNodeImp::refreshClipFormat() {
    if (!clipFormatStale_) return true;
    clipFormat_ = VantrelClipFormat();
    holdsCreationFormat_ = false;
    VantrelNodeClientAPI* nodes = client();
    if (nodes == nullptr) return false;
    if (!nodes->getClipFormat(nodeId_, clipFormat_)) return failedRequest(*nodes);
    clipFormatStale_ = false;
    return true;
}

bool VantrelNodeImp::refreshChildren() {
    if (!childrenStale_) return true;
    children_.clear();
    VantrelNodeClientAPI* nodes = client();
    bool streamForm = false;
    if (nodes == nullptr || !serverIsAtLeast(STREAM_NODE_FORMS, streamForm)) return false;
    const bool ok = streamForm ? nodes->getChildrenEx(nodeId_, children_)
                               : nodes->getChildren(nodeId_, children_);
    if (!ok) return failedRequest(*nodes);
    childrenStale_ = false;
    return true;
}

bool VantrelNodeImp::refreshParent() {
    if (!parentStale_) return true;
    parentId_.setId(nullptr);
    VantrelNodeClientAPI* nodes = client();
    if (nodes == nullptr) return false;
    if (!nodes->getParentNode(nodeId_, parentId_)) return failedRequest(*nodes);
    parentStale_ = false;
    return true;
}

bool VantrelNodeImp::refreshFrameIds() {
    if (!frameIdsStale_) return true;
    frameIds_.clear();
    VantrelNodeClientAPI* nodes = client();
    bool streamForm = false;
    if (nodes == nullptr || !serverIsAtLeast(STREAM_FRAME_FORMS, streamForm)) return false;
    const bool ok = streamForm ? nodes->getFramesEx(nodeId_, frameIds_)
                               : nodes->getFrames(nodeId_, frameIds_);
    if (!ok) return failedRequest(*nodes);
    frameIdsStale_ = false;
    return true;
}

bool VantrelNodeImp::refreshFramePaths() {
    if (!framePathsStale_) return true;
    framePaths_.clear();
    VantrelNodeClientAPI* nodes = client();
    bool streamForm = false, textForm = false;
    if (nodes == nullptr || !serverIsAtLeast(STREAM_FRAME_PATH_FORMS, streamForm) ||
        !serverIsAtLeast(FRAME_PATHS, textForm))
        return false;
    // Servers older than both forms cannot tell: the node has no known paths.
    bool ok = true;
    if (streamForm)
        ok = nodes->getFramePathsEx(nodeId_, framePaths_);
    else if (textForm)
        ok = nodes->getFramePaths(nodeId_, framePaths_);
    if (!ok) return failedRequest(*nodes);
    framePathsStale_ = false;
    return true;
}

bool VantrelNodeImp::refreshMetaDataStreams() {
    if (!metaDataStreamsStale_) return true;
    metaDataStreams_.clear();
    VantrelNodeClientAPI* nodes = client();
    if (nodes == nullptr) return false;
    if (!nodes->queryMetaDataSupport(nodeId_, metaDataStreams_)) return failedRequest(*nodes);
    metaDataStreamsStale_ = false;
    return true;
}

bool VantrelNodeImp::currentClipFormat() {
    if (holdsCreationFormat_) return true;
    clipFormatStale_ = true;
    return refreshClipFormat();
}

// ---------------------------------------------------------------------------- node queries

bool VantrelNodeImp::getDisplayName(std::string& name) {
    if (!refreshDisplayName()) return false;
    name = displayName_;
    return true;
}

bool VantrelNodeImp::getNodeType(int& clipFlag, int& type, std::string& typeText) {
    if (!refreshNodeType()) return false;
    clipFlag = clipFlag_;
    type = nodeType_;
    typeText = nodeTypeText_;
    return true;
}

bool VantrelNodeImp::getClipFormat(VantrelClipFormat& format) {
    if (!refreshClipFormat()) return false;
    format = clipFormat_;
    return true;
}

bool VantrelNodeImp::getNumChildren(int& count) {
    if (!refreshChildren()) return false;
    count = static_cast<int>(children_.size());
    return true;
}

bool VantrelNodeImp::getChildRecord(int index, VantrelNodeInterface::Child& child) {
    if (!refreshChildren()) return false;
    if (index < 0 || static_cast<size_t>(index) >= children_.size())
        return fail("Child node index out of range");
    child = children_[static_cast<size_t>(index)];
    return true;
}

bool VantrelNodeImp::getParentId(VantrelNodeId& parent) {
    if (!refreshParent()) return false;
    parent = parentId_;
    return true;
}

bool VantrelNodeImp::canCreateNode(const char* type, bool& can) {
    VantrelNodeClientAPI* nodes = client();
    bool serverAnswers = false;
    if (nodes == nullptr || !serverIsAtLeast(CAN_CREATE_NODE, serverAnswers)) return false;
    if (serverAnswers)
        return nodes->canCreateNode(nodeId_, type, can) || failedRequest(*nodes);
    std::string parentType;
    if (!nodes->getNodeTypeStr(nodeId_, parentType)) return failedRequest(*nodes);
    for (const CreationRule& rule : creationRules()) {
        if (parentType != rule.parent) continue;
        can = false;
        for (const char* child : rule.children)
            if (type != nullptr && std::strcmp(type, child) == 0) can = true;
        return true;
    }
    return fail("Unhandled parent node type '" + parentType + "'");
}

bool VantrelNodeImp::createNode(const char* name, const char* type,
                                const VantrelClipFormat& format, VantrelNodeId& newId) {
    VantrelNodeClientAPI* nodes = client();
    bool streamForm = false;
    if (nodes == nullptr || !serverIsAtLeast(STREAM_NODE_FORMS, streamForm)) return false;
    const bool ok = streamForm ? nodes->createNodeEx(nodeId_, name, type, 0, format, newId)
                               : nodes->createNode(nodeId_, name, type, 0, format, newId);
    if (!ok) return failedRequest(*nodes);
    // A stale list will be fetched whole, new child included.
    if (!childrenStale_)
        children_.push_back(VantrelNodeInterface::Child{VantrelLocaleTextAsReadBack(name),
                                                        newId.id()});
    return true;
}

bool VantrelNodeImp::renameNode(const char* name) {
    VantrelNodeClientAPI* nodes = client();
    if (nodes == nullptr) return false;
    if (!nodes->renameNode(nodeId_, name)) return failedRequest(*nodes);
    // The cached name is the old one; the server decides what the new one reads as.
    displayNameStale_ = true;
    return true;
}

bool VantrelNodeImp::destroyNode() {
    VantrelNodeClientAPI* nodes = client();
    if (nodes == nullptr) return false;
    return nodes->destroyNode(nodeId_) || failedRequest(*nodes);
}

// ---------------------------------------------------------------------------- frames

bool VantrelNodeImp::getNumFrames(int& count) {
    if (!refreshFrameIds()) return false;
    count = static_cast<int>(frameIds_.size());
    return true;
}

bool VantrelNodeImp::checkFrameIndex(int index) {
    if (!refreshFrameIds()) return false;
    if (index < 0 || static_cast<size_t>(index) >= frameIds_.size())
        return fail("Frame index out of range");
    return true;
}

bool VantrelNodeImp::getFrameId(int index, std::string& id) {
    if (!checkFrameIndex(index)) return false;
    id = frameIds_[static_cast<size_t>(index)].id();
    return true;
}

bool VantrelNodeImp::setNumFrames(unsigned int count) {
    if (count > static_cast<unsigned int>(INT_MAX)) return fail("Frame count out of range");
    if (!currentClipFormat()) return false;
    frameIds_.clear();
    frameIdsStale_ = true;
    VantrelNodeClientAPI* nodes = client();
    bool streamForm = false;
    if (nodes == nullptr || !serverIsAtLeast(STREAM_FRAME_FORMS, streamForm)) return false;
    const int frames = static_cast<int>(count);
    const bool ok = streamForm ? nodes->allocateFramesEx(nodeId_, frames, clipFormat_, frameIds_)
                               : nodes->allocateFrames(nodeId_, frames, clipFormat_, frameIds_);
    if (!ok) return failedRequest(*nodes);
    frameIdsStale_ = false;
    // The server may have completed the format (frame size) while allocating.
    clipFormatStale_ = true;
    holdsCreationFormat_ = false;
    return true;
}

bool VantrelNodeImp::getFrameIdPath(int index, std::string& path) {
    if (index < 0) return fail("Frame index out of range");
    if (!refreshFramePaths()) return false;
    path = static_cast<size_t>(index) < framePaths_.size() ? framePaths_[static_cast<size_t>(index)]
                                                           : std::string();
    return true;
}

bool VantrelNodeImp::linkToFrames(const VantrelStr* paths, int count) {
    VantrelNodeClientAPI* nodes = client();
    bool streamForm = false, textForm = false;
    if (nodes == nullptr || !serverIsAtLeast(STREAM_FRAME_PATH_FORMS, streamForm) ||
        !serverIsAtLeast(FRAME_PATHS, textForm))
        return false;
    if (!streamForm && !textForm)
        return fail("Server does not support linking to existing media files.");
    std::vector<std::string> files;
    for (int i = 0; paths != nullptr && i < count; ++i) files.emplace_back(paths[i].c_str());
    if (streamForm && !currentClipFormat()) return false;
    const bool ok = streamForm ? nodes->setFramePathsEx(nodeId_, files, clipFormat_)
                               : nodes->setFramePaths(nodeId_, files, clipFormat_);
    if (!ok) return failedRequest(*nodes);
    // The node's frames are now the linked files: what was cached of them is out of date.
    frameIdsStale_ = true;
    framePathsStale_ = true;
    return true;
}

// ---------------------------------------------------------------------------- metadata

bool VantrelNodeImp::getMetaData(const char* stream, const char* filter, int depth,
                                 std::string& data) {
    VantrelNodeClientAPI* nodes = client();
    if (nodes == nullptr) return false;
    return nodes->getMetaData(nodeId_, stream, filter, depth, data) || failedRequest(*nodes);
}

bool VantrelNodeImp::setMetaData(const char* stream, const char* data) {
    VantrelNodeClientAPI* nodes = client();
    bool supported = false;
    if (nodes == nullptr || !serverIsAtLeast(SET_META_DATA, supported)) return false;
    if (!supported) return fail("Functionality not supported on remote Vantrel server.");
    return nodes->setMetaData(nodeId_, stream, data) || failedRequest(*nodes);
}

bool VantrelNodeImp::getNumMetaDataStreams(int& count) {
    if (!refreshMetaDataStreams()) return false;
    count = static_cast<int>(metaDataStreams_.size());
    return true;
}

bool VantrelNodeImp::getMetaDataStream(int index, std::string& name) {
    if (!refreshMetaDataStreams()) return false;
    if (index < 0 || static_cast<size_t>(index) >= metaDataStreams_.size())
        return fail("Metadata stream index out of range");
    name = metaDataStreams_[static_cast<size_t>(index)];
    return true;
}

bool VantrelNodeImp::isMetaDataStreamAvailable(const char* name, bool& available) {
    if (!refreshMetaDataStreams()) return false;
    available = false;
    for (const std::string& stream : metaDataStreams_)
        if (name != nullptr && stream == name) available = true;
    return true;
}

bool VantrelNodeImp::getStreamId(std::string& id) {
    VantrelNodeClientAPI* nodes = client();
    if (nodes == nullptr) return false;
    return nodes->getStreamId(nodeId_, id) || failedRequest(*nodes);
}

// ---------------------------------------------------------------------------- read-ahead

bool VantrelNodeImp::activateReadAhead() {
    if (readAheadKnown_) return true;
    VantrelNodeClientAPI* nodes = client();
    bool serverTells = false;
    if (nodes == nullptr || !serverIsAtLeast(NB_READ_AHEADS, serverTells)) return false;
    int count = DEFAULT_READ_AHEADS;
    if (serverTells && !nodes->getNbReadAheads(nodeId_, count)) return failedRequest(*nodes);
    nbReadAheads_ = count;
    readAheadKnown_ = true;
    return true;
}

bool VantrelNodeImp::readAhead(int index, const void* params, unsigned int paramsSize,
                               int hint) {
    // Without a known number of read-aheads the frame is still read, only not ahead.
    if (!activateReadAhead() || nbReadAheads_ < 1) return true;
    const long long end = static_cast<long long>(index) +
                          static_cast<long long>(nbReadAheads_) * static_cast<long long>(hint);
    for (long long k = index; k < end && k < static_cast<long long>(frameIds_.size()); ++k) {
        if (!server_->readFrame(nullptr, params, paramsSize, nullptr, 0,
                                frameIds_[static_cast<size_t>(k)].id()))
            return false;
    }
    return true;
}

bool VantrelNodeImp::readFrame(int index, const void* params, unsigned int paramsSize,
                               void* buffer, unsigned int size, int hint) {
    if (!checkFrameIndex(index)) return false;
    if (index >= 1 && hint > 0 && !readAhead(index, params, paramsSize, hint)) return false;
    return server_->readFrame(frameIds_[static_cast<size_t>(index)].id(), params, paramsSize,
                              buffer, size);
}

bool VantrelNodeImp::writeFrame(int index, const void* data, int size) {
    if (!checkFrameIndex(index)) return false;
    if (size < 0) return fail("Invalid frame size");
    return server_->writeFrame(frameIds_[static_cast<size_t>(index)].id(), data,
                               static_cast<unsigned int>(size));
}
