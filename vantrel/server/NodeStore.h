// The node tree of the server, kept in a directory and in memory.
//
// Layout of the directory:
//   vantreld.attr                 the store's identity: "StorageId", "HostUUID" and
//                                 "SerialLimit" (every serial below it may have been issued)
//   vantreld.lock                 the lock of the server that has the tree open (DirectoryLock)
//   nodes/SERIAL/node.attr        one folder per node: its manifest, an attribute stream with
//                                 "Id", "Parent", "Type", "Displ", "Fmt" (clip format stream),
//                                 "FrameRuns" (the frame numbers, FrameIds::runsText; trees
//                                 written before it have "Frames", a counted list of ids),
//                                 "NextFrame", "Paths" (a counted list), "PathsHost",
//                                 "PathsOSType", "PathsOSVersion"
//   nodes/SERIAL/meta/FILE        one file per metadata stream (file names: see below)
//   nodes/SERIAL/frames/          frame data
//
// A directory is opened only when it is missing, empty or holds a tree (vantreld.attr);
// anything else is refused, so the store never writes among files that are not its own.
//
// Node ids are chosen here and never change, also across restarts: the root is "host", every
// other node the lower-case type text, a space and its serial ("clip 17"). Ids hold no comma.
// Serials are never issued twice, also after a restart.
//
// Every change is atomic on disk:
//   - a new node is written into nodes/SERIAL.tmp/ and committed by renaming the folder;
//   - a manifest or a metadata stream is replaced by writing a temporary file and renaming it
//     over the old one (ServerFiles::writeFileAtomically);
//   - a removal renames the node's folder to SERIAL.dead (the commit), then renames each
//     descendant's folder to SERIAL.dead before deleting it, so no folder is ever deleted
//     in place.
// Opening a directory removes leftovers of an interrupted change (*.tmp, *.dead, node folders
// without a manifest) and the folders of nodes whose parent is gone, so a store killed at any
// moment opens with either the whole of a removed subtree or none of it.
// With Sync::DURABLE each change is flushed to disk before the call returns.
//
// Metadata stream names: 1 to 200 bytes, any bytes. File names: every byte other than a
// letter, digit, '-' or '_' written as %XX (so no file name of a stream holds a '.', and none
// can end like the store's ".tmp" and ".dead" files); when that is longer than
// MAX_PLAIN_STREAM_FILE bytes, '~' and 32 hex digits of a hash of the name, and the file
// starts with the name (its length in decimal, a space, the name) before the data. Files of
// trees written before this rule (a '.' kept as it was) are renamed to it when the store
// opens; such a file ending in ".tmp" or ".dead" cannot be told from a leftover and goes.
//
// Limits (StoreLimits): nodes in the tree, frames per node and per server, metadata bytes
// per node and per server. A change that would pass one fails with "Limit reached: ..."
// naming the limit; a tree over a limit (a lower setting) still opens.
// Memory: a node costs its texts and about 300 bytes; frame ids cost a few bytes per run of
// consecutive ids (FrameIds), frame paths their bytes and four more (TextList); metadata
// stays on disk.
//
// Failure: operations throw ServerError with the text of the error reply ("Unknown node id:
// 'ID'", a name clash, a limit); a failed file operation gives a text naming the node (and
// the stream) and the system's reason, never a path of the server (the path goes to the
// log). A failed change leaves the tree as it was.
// Threads: no lock; one thread at a time (the server's loop).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "vantrel/VantrelClipFormat.h"
#include "vantrel/server/FrameIds.h"
#include "vantrel/server/NodeObserver.h"
#include "vantrel/server/ServerFiles.h"
#include "vantrel/server/TextList.h"

namespace Vantrel {
class rcAttrStream;
}

namespace vantreld {

struct StoreLimits {
    uint64_t maxNodes = 1000000;
    uint64_t maxFramesPerNode = 1000000;
    uint64_t maxFramesPerServer = 20000000;
    uint64_t maxMetadataBytesPerNode = 64ull << 20;
    uint64_t maxMetadataBytesPerServer = 4ull << 30;
};

struct Node {
    std::string id;
    uint64_t serial = 0;
    std::string type;
    std::string name;  // UTF-8
    Node* parent = nullptr;
    std::vector<Node*> children;  // in creation order
    VantrelClipFormat format;
    FrameIds frames;
    uint64_t nextFrame = 0;
    TextList framePaths;
    std::string pathsHost;
    int pathsOsType = 0;
    std::string pathsOsVersion;
    std::vector<std::string> metadataStreams;  // sorted
    uint64_t metadataBytes = 0;                // of every stream's data
};

class NodeStore {
public:
    static constexpr const char* ROOT_ID = "host";
    // Names of the layout above, for readers of the directory (the frame server).
    static constexpr const char* NODES_DIR = "nodes";
    static constexpr const char* MANIFEST = "node.attr";
    static constexpr const char* FRAMES_DIR = "frames";
    static constexpr size_t MAX_STREAM_NAME = 200;
    static constexpr size_t MAX_PLAIN_STREAM_FILE = 200;

    // Opens the store in `directory`, creating the directory, a root HOST node named
    // `rootName` and a fresh identity when there is none. Holds the directory's lock until
    // destroyed. Throws ServerError for a directory that is neither empty nor a tree, or that
    // another store holds.
    NodeStore(const std::string& directory, ServerFiles::Sync sync,
              const std::string& rootName = "localhost", const StoreLimits& limits = StoreLimits());
    NodeStore(const NodeStore&) = delete;
    NodeStore& operator=(const NodeStore&) = delete;
    ~NodeStore();

    // Told of every change once it is made (NodeObserver.h); null (the default) tells no one.
    // Not owned.
    void setObserver(NodeObserver* observer) { observer_ = observer; }

    // The frame ids a manifest lists ("FrameRuns", or "Frames" in trees written before it),
    // for readers of the directory beside the store (any thread). Throws ServerError for a
    // list it cannot read.
    static FrameIds framesInManifest(const Vantrel::rcAttrStream& manifest, uint64_t serial);

    const std::string& directory() const { return directory_; }
    const std::string& storageId() const { return storageId_; }
    const std::string& hostUUID() const { return hostUUID_; }
    size_t size() const { return nodes_.size(); }
    uint64_t frameCount() const { return frameCount_; }
    uint64_t metadataBytes() const { return metadataBytes_; }
    const StoreLimits& limits() const { return limits_; }

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
    // Throws the "Limit reached" error when `node` may not hold `count` frames; callers check
    // a request's count with it before building anything from the request.
    void checkFrameCount(uint64_t count, const Node& node) const;
    // Writes the bytes of frame `frameId` of a node into its frames/ folder.
    void writeFrameData(const std::string& id, const std::string& frameId,
                        const std::string& bytes);

    // Throws "Unknown metadata stream 'NAME' on 'ID'" when the node has no such stream.
    std::string getMetaData(const std::string& id, const std::string& stream) const;
    void setMetaData(const std::string& id, const std::string& stream, const std::string& data);

private:
    void openDirectory(const std::string& rootName);
    void refuseForeignDirectory() const;
    void loadStreams(const std::string& metaDir, Node& node) const;
    std::string streamPath(const Node& node, const std::string& stream) const;
    void checkLimit(uint64_t wanted, uint64_t limit, const char* what) const;
    // Renames a node folder out of the tree, then deletes it; a failure is logged and left
    // for the next opening.
    void removeFolder(uint64_t serial) const;
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
    void announce(const Node& node, const char* type, NodeChange::Details details,
                  std::vector<std::string> descendants = {}) const;

    const std::string directory_;
    const ServerFiles::Sync sync_;
    const StoreLimits limits_;
    std::unique_ptr<DirectoryLock> lock_;
    uint64_t frameCount_;
    uint64_t metadataBytes_;
    std::string storageId_;
    std::string hostUUID_;
    uint64_t nextSerial_;
    uint64_t serialLimit_;
    std::unordered_map<std::string, std::unique_ptr<Node>> nodes_;
    // Per parent serial: the children's names, for the clash check in constant time.
    std::unordered_map<uint64_t, std::unordered_map<std::string, Node*>> childNames_;
    Node* root_;
    NodeObserver* observer_ = nullptr;
};

// Metadata stream names in file names (see NodeStore): the file name of a stream, and the
// stream name of a file name that is not a hashed one (also in the earlier rule).
std::string encodeStreamName(const std::string& name);
std::string decodeStreamName(const std::string& fileName);
bool isHashedStreamFile(const std::string& fileName);

}  // namespace vantreld
