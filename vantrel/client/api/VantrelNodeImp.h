// VantrelNodeImp: what stands behind a VantrelNodeHandle: the node's id, its server handle and
// the caches of what was learnt about the node, and the node operations themselves.
//
// Every cache has a stale flag, set in a fresh object. A request for a stale item empties it,
// fetches it through the server's node client and clears the flag only on success; a failure
// copies the node client's last error into the server handle's last error.
//
// Which request form is used depends on the server's protocol version (its description,
// VantrelServerImp::getDaemonInfo()); when the description cannot be had the operation fails
// with the server handle's last error.
//
// Ownership: the server handle is not owned. Copies copy the caches.
// Threads: no lock; one thread at a time.
#pragma once

#include <string>
#include <vector>

#include "vantrel/VantrelClipFormat.h"
#include "vantrel/VantrelIds.h"
#include "vantrel/client/nodes/VantrelNodeInterface.h"
#include "vantrel/VantrelStr.h"

class VantrelNodeClientAPI;
class VantrelServerHandle;

class VantrelNodeImp {
public:
    // A protocol version of servers: major, minor, maint, build, compared in this order.
    struct ProtocolVersion {
        int major;
        int minor;
        int maint;
        int build;
    };
    // The first server generations that know a request form.
    static const ProtocolVersion SET_META_DATA;            // 2.5.0.0
    static const ProtocolVersion FRAME_PATHS;              // 2.6.1.0
    static const ProtocolVersion NB_READ_AHEADS;           // 2010.1.1.0
    static const ProtocolVersion STREAM_NODE_FORMS;        // 2012.0.0.5134
    static const ProtocolVersion STREAM_FRAME_PATH_FORMS;  // 2012.1.1.5758
    static const ProtocolVersion STREAM_FRAME_FORMS;       // 2013.1.0.6115
    static const ProtocolVersion CAN_CREATE_NODE;          // 2015.0.0.0
    // Read-aheads of servers that cannot tell their number.
    static const int DEFAULT_READ_AHEADS = 2;

    VantrelNodeImp(const VantrelServerHandle* server, const VantrelNodeId& id);
    VantrelNodeImp(const VantrelNodeImp&) = default;
    VantrelNodeImp& operator=(const VantrelNodeImp&) = default;
    ~VantrelNodeImp();

    const VantrelNodeId& nodeId() const { return nodeId_; }
    const VantrelServerHandle* server() const { return server_; }

    // Records `name` as the node's display name, known without a request.
    void setKnownDisplayName(const std::string& name);
    // Records `format` as the format the node was created with.
    void setCreationFormat(const VantrelClipFormat& format);

    bool getDisplayName(std::string& name);
    bool getNodeType(int& clipFlag, int& type, std::string& typeText);
    bool getClipFormat(VantrelClipFormat& format);
    bool getNumChildren(int& count);
    bool getChildRecord(int index, VantrelNodeInterface::Child& child);
    bool getParentId(VantrelNodeId& parent);
    bool canCreateNode(const char* type, bool& can);
    // Creates the child and adds it to the cached children; `newId` gets its id.
    bool createNode(const char* name, const char* type, const VantrelClipFormat& format,
                    VantrelNodeId& newId);
    bool renameNode(const char* name);
    bool destroyNode();

    bool getNumFrames(int& count);
    bool getFrameId(int index, std::string& id);
    bool setNumFrames(unsigned int count);
    bool getFrameIdPath(int index, std::string& path);
    bool linkToFrames(const VantrelStr* paths, int count);

    bool getMetaData(const char* stream, const char* filter, int depth, std::string& data);
    bool setMetaData(const char* stream, const char* data);
    bool getNumMetaDataStreams(int& count);
    bool getMetaDataStream(int index, std::string& name);
    bool isMetaDataStreamAvailable(const char* name, bool& available);
    bool getStreamId(std::string& id);

    int nbReadAheads() const { return nbReadAheads_; }
    bool activateReadAhead();
    bool readFrame(int index, const void* params, unsigned int paramsSize, void* buffer,
                   unsigned int size, int hint);
    bool writeFrame(int index, const void* data, int size);

private:
    // The server's node client; null with the server handle's last error when it cannot be
    // bound.
    VantrelNodeClientAPI* client();
    // Whether the server's protocol version is `version` or later; false (the operation
    // fails) when the server's description cannot be had.
    bool serverIsAtLeast(const ProtocolVersion& version, bool& atLeast);
    // Sets the server handle's last error and answers false.
    bool fail(const std::string& text);
    // Copies the node client's last error into the server handle's and answers false.
    bool failedRequest(const VantrelNodeClientAPI& nodes);

    bool refreshDisplayName();
    bool refreshNodeType();
    bool refreshClipFormat();
    bool refreshChildren();
    bool refreshParent();
    bool refreshFrameIds();
    bool refreshFramePaths();
    bool refreshMetaDataStreams();
    // The node's format as the server will use it for new frames.
    bool currentClipFormat();
    bool checkFrameIndex(int index);
    bool readAhead(int index, const void* params, unsigned int paramsSize, int hint);

    VantrelNodeId nodeId_;
    VantrelNodeId parentId_;
    std::vector<VantrelNodeInterface::Child> children_;
    std::vector<VantrelFrameId> frameIds_;
    std::vector<std::string> framePaths_;
    std::vector<std::string> metaDataStreams_;
    VantrelClipFormat clipFormat_;
    int clipFlag_ = 0;
    int nodeType_ = 0;
    std::string nodeTypeText_;
    std::string displayName_;
    int nbReadAheads_ = 0;
    const VantrelServerHandle* server_;

    bool parentStale_ = true;
    bool childrenStale_ = true;
    bool frameIdsStale_ = true;
    bool metaDataStreamsStale_ = true;
    bool clipFormatStale_ = true;
    bool nodeTypeStale_ = true;
    bool displayNameStale_ = true;
    bool framePathsStale_ = true;
    bool readAheadKnown_ = false;
    // clipFormat_ is the format given at creation, not yet used to allocate frames.
    bool holdsCreationFormat_ = false;
};
