// VantrelNodeInterface: the operations a node tree offers, one call per operation.
//
// The interface is bound to nothing: an implementation (VantrelNodeClientAPI for a remote
// server) decides where the calls go. Every operation answers true on success and false on
// failure, leaving the reason in lastError(); out-parameters are only meaningful on success.
//
// Threads: no lock. One object is used by one thread at a time; callers that share a node
// client between threads serialise their calls (the shared connection underneath serialises
// the requests themselves).
#pragma once

#include <string>
#include <vector>

#include "vantrel/VantrelClipFormat.h"
#include "vantrel/VantrelIds.h"

class VantrelNodeInterface {
public:
    // One child of a node: its display name and its node id text, as the server lists them.
    struct Child {
        std::string displayName;
        std::string nodeId;
        bool operator==(const Child& other) const {
            return displayName == other.displayName && nodeId == other.nodeId;
        }
    };

    VantrelNodeInterface() = default;
    VantrelNodeInterface(const VantrelNodeInterface&) = default;
    VantrelNodeInterface& operator=(const VantrelNodeInterface&) = default;
    virtual ~VantrelNodeInterface();

    const std::string& lastError() const { return lastError_; }
    void setLastError(const std::string& text) { lastError_ = text; }

    virtual bool getRootNode(VantrelNodeId& root) = 0;
    virtual bool getParentNode(const VantrelNodeId& node, VantrelNodeId& parent) = 0;
    // Creates the child `name` of type `type` (a node type text) under `parent`; `typeNumber`
    // is the numeric type some servers still read. The base answers false ("not supported").
    virtual bool createNode(const VantrelNodeId& parent, const char* name, const char* type,
                            int typeNumber, const VantrelClipFormat& format,
                            VantrelNodeId& newId);
    // Whether a child of type text `type` may be created under `node`.
    virtual bool canCreateNode(const VantrelNodeId& node, const char* type, bool& can) = 0;
    // Renames `node`; on success `node` holds the id the server gives the renamed node.
    // The base answers false ("not supported").
    virtual bool renameNode(VantrelNodeId& node, const char* name);
    virtual bool destroyNode(const VantrelNodeId& node) = 0;
    // The children of `node` in the server's order; `children` is replaced.
    virtual bool getChildren(const VantrelNodeId& node, std::vector<Child>& children) = 0;
    // `clipFlag` is 1 for a clip; `nodeType` is the server's type number.
    virtual bool getNodeType(const VantrelNodeId& node, int& clipFlag, int& nodeType) = 0;
    virtual bool getNodeTypeStr(const VantrelNodeId& node, std::string& type) = 0;
    virtual bool getDisplayName(const VantrelNodeId& node, std::string& name) = 0;
    // Allocates `numFrames` frames of `format` to the clip `node`; `frames` receives their ids.
    virtual bool allocateFrames(const VantrelNodeId& node, int numFrames,
                                const VantrelClipFormat& format,
                                std::vector<VantrelFrameId>& frames) = 0;
    virtual bool getFrames(const VantrelNodeId& node, std::vector<VantrelFrameId>& frames) = 0;
    // The file paths of the frames of `node`, as seen from this machine.
    virtual bool getFramePaths(const VantrelNodeId& node, std::vector<std::string>& paths) = 0;
    // Makes the clip `node` use the existing media files `paths` (of `format`) as its frames.
    virtual bool setFramePaths(const VantrelNodeId& node, const std::vector<std::string>& paths,
                               const VantrelClipFormat& format) = 0;
    virtual bool getClipFormat(const VantrelNodeId& node, VantrelClipFormat& format) = 0;
    virtual bool getNbReadAheads(const VantrelNodeId& node, int& count) = 0;
    // A null `filter` means no filter.
    virtual bool getMetaData(const VantrelNodeId& node, const char* stream, const char* filter,
                             int depth, std::string& data) = 0;
    virtual bool setMetaData(const VantrelNodeId& node, const char* stream,
                             const char* data) = 0;
    // The names of the metadata streams `node` offers.
    virtual bool queryMetaDataSupport(const VantrelNodeId& node,
                                      std::vector<std::string>& streams) = 0;
    virtual bool getStreamId(const VantrelNodeId& node, std::string& streamId) = 0;

private:
    std::string lastError_;
};
