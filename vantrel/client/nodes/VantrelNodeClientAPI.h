// VantrelNodeClientAPI: node operations made as remote calls on a server's shared connection.
//
// Each operation is one synchronous request on the connection and decodes its reply. Where a
// request exists in two forms, the plain name sends the older text form ("GetChildren") and
// the name ending in Ex the attribute-stream form ("GetChildrenEx"); which one a server
// understands is the caller's choice (VantrelNodeHandle decides by the server's version).
//
// Texts cross the wire in UTF-8, in every form: the names, frame paths and metadata stream
// names given are converted from the process's locale here, and those read back (display
// names, children's names, frame paths, stream names) into it (VantrelTextConversion.h).
// Node ids, type texts, metadata contents and filters pass unchanged.
//
// Ownership: the connection is not owned and must outlive this object.
// Failures: every operation catches the connection's exceptions (connection failures, server
// errors) and malformed replies, keeps their text as lastError() and answers false. Requests
// of the text form that separate their arguments by commas refuse, before anything is sent,
// a node id that contains a comma ("Invalid node id: '<id>'.").
// Threads: as VantrelNodeInterface; the connection serialises the requests of all clients.
#pragma once

#include <string>
#include <vector>

#include "vantrel/client/nodes/VantrelNodeInterface.h"

class VantrelClientConnection;

class VantrelNodeClientAPI : public VantrelNodeInterface {
public:
    // Time limit of every node request, in milliseconds.
    static const int REQUEST_TIMEOUT_MS = 100000000;

    explicit VantrelNodeClientAPI(VantrelClientConnection* connection);
    ~VantrelNodeClientAPI() override;

    VantrelNodeClientAPI(const VantrelNodeClientAPI&) = delete;
    VantrelNodeClientAPI& operator=(const VantrelNodeClientAPI&) = delete;

    VantrelClientConnection* connection() const { return connection_; }

    bool getRootNode(VantrelNodeId& root) override;
    bool getParentNode(const VantrelNodeId& node, VantrelNodeId& parent) override;
    // "CreateNode": the name always escaped, the type number and text, the format as text.
    bool createNode(const VantrelNodeId& parent, const char* name, const char* type,
                    int typeNumber, const VantrelClipFormat& format,
                    VantrelNodeId& newId) override;
    bool canCreateNode(const VantrelNodeId& node, const char* type, bool& can) override;
    bool renameNode(VantrelNodeId& node, const char* name) override;
    bool destroyNode(const VantrelNodeId& node) override;
    // "GetChildren": id and name pairs separated by commas.
    bool getChildren(const VantrelNodeId& node, std::vector<Child>& children) override;
    bool getNodeType(const VantrelNodeId& node, int& clipFlag, int& nodeType) override;
    bool getNodeTypeStr(const VantrelNodeId& node, std::string& type) override;
    // "GetDisplayName": the name as the server stores it.
    bool getDisplayName(const VantrelNodeId& node, std::string& name) override;
    // "AllocateFrames": `format` is not sent in this form.
    bool allocateFrames(const VantrelNodeId& node, int numFrames, const VantrelClipFormat& format,
                        std::vector<VantrelFrameId>& frames) override;
    bool getFrames(const VantrelNodeId& node, std::vector<VantrelFrameId>& frames) override;
    bool getFramePaths(const VantrelNodeId& node, std::vector<std::string>& paths) override;
    // "SetFramePaths": `format` is not sent in this form.
    bool setFramePaths(const VantrelNodeId& node, const std::vector<std::string>& paths,
                       const VantrelClipFormat& format) override;
    bool getClipFormat(const VantrelNodeId& node, VantrelClipFormat& format) override;
    bool getNbReadAheads(const VantrelNodeId& node, int& count) override;
    bool getMetaData(const VantrelNodeId& node, const char* stream, const char* filter,
                     int depth, std::string& data) override;
    bool setMetaData(const VantrelNodeId& node, const char* stream, const char* data) override;
    bool queryMetaDataSupport(const VantrelNodeId& node,
                              std::vector<std::string>& streams) override;
    bool getStreamId(const VantrelNodeId& node, std::string& streamId) override;

    // The attribute-stream forms.
    virtual bool allocateFramesEx(const VantrelNodeId& node, int numFrames,
                                  const VantrelClipFormat& format,
                                  std::vector<VantrelFrameId>& frames);
    virtual bool getFramesEx(const VantrelNodeId& node, std::vector<VantrelFrameId>& frames);
    virtual bool getFramePathsEx(const VantrelNodeId& node, std::vector<std::string>& paths);
    virtual bool setFramePathsEx(const VantrelNodeId& node, const std::vector<std::string>& paths,
                                 const VantrelClipFormat& format);
    virtual bool getStorageId(std::string& storageId);
    bool createNodeEx(const VantrelNodeId& parent, const char* name, const char* type,
                      int typeNumber, const VantrelClipFormat& format, VantrelNodeId& newId);
    bool getChildrenEx(const VantrelNodeId& node, std::vector<Child>& children);
    bool getDisplayNameEx(const VantrelNodeId& node, std::string& name);

    // The product serving the node tree, for the server handle.
    bool getVendor(std::string& vendor);
    bool getProduct(std::string& product);
    bool getVersion(int& major, int& minor);

private:
    template <typename Work>
    bool guarded(Work work);
    // One synchronous call; throws CoException on failure.
    std::string request(const char* method, const std::string& args);

    VantrelClientConnection* connection_;
};
