// The node tree of the server, kept in a directory and in memory.
//
// Layout of the directory:
//   vantreld.attr                 the store's identity: "StorageId", "HostUUID" and
//                                 "SerialLimit" (every serial below it may have been issued)
//   nodes/SERIAL/node.attr        one folder per node: its manifest, an attribute stream with
//                                 "Id", "Parent", "Type", "Displ", "Fmt" (clip format stream),
//                                 "Frames" and "Paths" (counted lists), "NextFrame",
//                                 "PathsHost", "PathsOSType", "PathsOSVersion"
//   nodes/SERIAL/meta/NAME        one file per metadata stream (NAME escaped, see below)
//   nodes/SERIAL/frames/          frame data
//
// Node ids are chosen here and never change, also across restarts: the root is "host", every
// other node the lower-case type text, a space and its serial ("clip 17"). Ids hold no comma.
// Serials are never issued twice, also after a restart.
//
// Every change is atomic on disk:
//   - a new node is written into nodes/SERIAL.tmp/ and committed by renaming the folder;
//   - a manifest or a metadata stream is replaced by writing a temporary file and renaming it
//     over the old one (ServerFiles::writeFileAtomically);
//   - a removal renames the node's folder to SERIAL.dead (the commit), then deletes it and
//     the folders of its descendants.
// Opening a directory removes leftovers of an interrupted change (*.tmp, *.dead) and the
// folders of nodes whose parent is gone, so a store killed at any moment opens consistent.
// With Sync::DURABLE each change is flushed to disk before the call returns.
//
// Metadata stream names: 1 to 200 bytes; in file names, bytes other than letters, digits, '-',
// '_' and a '.' that is not the first byte are written as %XX.
//
// Failure: operations throw ServerError with the text of the error reply ("Unknown node id:
// 'ID'", a name clash, a file error); a failed change leaves the tree as it was.
// Threads: no lock; one thread at a time (the server's loop).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "vantrel/client/VantrelClipFormat.h"
#include "vantrel/server/ServerFiles.h"

namespace vantreld {

struct Node {
    std::string id;
    uint64_t serial = 0;
    std::string type;
    std::string name;  // UTF-8
    Node* parent = nullptr;
    std::vector<Node*> children;  // in creation order
    VantrelClipFormat format;
    std::vector<std::string> frames;
    uint64_t nextFrame = 0;
    std::vector<std::string> framePaths;
    std::string pathsHost;
    int pathsOsType = 0;
    std::string pathsOsVersion;
    std::vector<std::string> metadataStreams;  // sorted
};

class NodeStore {
public:
    static constexpr const char* ROOT_ID = "host";
    // Names of the layout above, for readers of the directory (the frame server).
    static constexpr const char* NODES_DIR = "nodes";
    static constexpr const char* MANIFEST = "node.attr";
    static constexpr const char* FRAMES_DIR = "frames";
    static constexpr size_t MAX_STREAM_NAME = 200;

    // Opens the store in `directory`, creating the directory, a root HOST node named
    // `rootName` and a fresh identity when there is none.
    NodeStore(const std::string& directory, ServerFiles::Sync sync,
              const std::string& rootName = "localhost");
    NodeStore(const NodeStore&) = delete;
    NodeStore& operator=(const NodeStore&) = delete;
    ~NodeStore();

    const std::string& directory() const { return directory_; }
    const std::string& storageId() const { return storageId_; }
    const std::string& hostUUID() const { return hostUUID_; }
    size_t size() const { return nodes_.size(); }

    const Node& root() const { return *root_; }
    // The node, or null.
    const Node* find(const std::string& id) const;
    // The node; throws "Unknown node id: 'ID'".
    const Node& get(const std::string& id) const;

    // A new child of `parentId`. Throws for an unknown parent, an empty name, a type that is
    // not a node type ("Unknown node type 'TYPE'") and a sibling of the same name ("A node
    // named 'NAME' already exists under 'PARENT'"). Which types a parent may hold is the
    // caller's rule.
    const Node& createNode(const std::string& parentId, const std::string& name,
                           const std::string& type, const VantrelClipFormat& format);
    // Same clash rule as createNode; renaming to the current name is fine.
    const Node& renameNode(const std::string& id, const std::string& name);
    // Removes the node and everything below it; the root cannot be removed.
    void destroyNode(const std::string& id);

    // Makes the frame list `count` long: existing frame ids are kept, new ones added, extra
    // ones dropped; frame paths are cleared. `format`, when given, becomes the clip format.
    const Node& allocateFrames(const std::string& id, int count, const VantrelClipFormat* format);
    // Links the node's frames to media files: one new frame per path.
    const Node& setFramePaths(const std::string& id, const std::vector<std::string>& paths,
                              const std::string& host, int osType, const std::string& osVersion,
                              const VantrelClipFormat* format);
    // Writes the bytes of frame `frameId` of a node into its frames/ folder.
    void writeFrameData(const std::string& id, const std::string& frameId,
                        const std::string& bytes);

    // Throws "Unknown metadata stream 'NAME' on 'ID'" when the node has no such stream.
    std::string getMetaData(const std::string& id, const std::string& stream) const;
    void setMetaData(const std::string& id, const std::string& stream, const std::string& data);

private:
    void openDirectory(const std::string& rootName);
    void loadIdentity();
    void saveIdentity(uint64_t serialLimit);
    void loadNodes();
    struct LoadedNode {
        std::unique_ptr<Node> node;
        std::string parentId;
    };
    LoadedNode loadNode(const std::string& folder) const;
    void linkNodes(std::vector<LoadedNode>& loaded);
    void adopt(std::unique_ptr<Node> node, Node* parent);
    void createRoot(const std::string& rootName);
    uint64_t takeSerial();

    Node& mutableNode(const std::string& id);
    void checkNameFree(const Node& parent, const std::string& name, const Node* self) const;
    void commitNewNode(const Node& node);
    void saveManifest(const Node& node);
    // Saves the changed `node`; when that fails, puts `before` back in memory and rethrows, so
    // the tree in memory stays what is on disk.
    void saveOrRestore(Node& node, const Node& before);
    std::string manifestText(const Node& node) const;
    std::string nodeFolder(const Node& node) const;
    std::string nodeFolder(uint64_t serial) const;
    void forget(Node& node);
    std::string newFrameId(Node& node);

    const std::string directory_;
    const ServerFiles::Sync sync_;
    std::string storageId_;
    std::string hostUUID_;
    uint64_t nextSerial_;
    uint64_t serialLimit_;
    std::unordered_map<std::string, std::unique_ptr<Node>> nodes_;
    // Per parent serial: the children's names, for the clash check in constant time.
    std::unordered_map<uint64_t, std::unordered_map<std::string, Node*>> childNames_;
    Node* root_;
};

// Metadata stream names in file names (see NodeStore).
std::string encodeStreamName(const std::string& name);
std::string decodeStreamName(const std::string& fileName);

}  // namespace vantreld
