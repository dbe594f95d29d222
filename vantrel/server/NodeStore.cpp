#include "vantrel/server/NodeStore.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "vantrel/CoMsg.h"
#include "osal/CoUUID.h"
#include "rcApi/rcAttrStream.h"
#include "vantrel/server/ClipFormatText.h"
#include "vantrel/server/NodeTypes.h"
#include "vantrel/server/WireText.h"

namespace vantreld {

namespace {

const char IDENTITY_FILE[] = "vantreld.attr";
const char META_DIR[] = "meta";
const char DEAD_SUFFIX[] = ".dead";
// Serials reserved on disk at a time, so that a new node costs one write, not two.
const uint64_t SERIAL_BLOCK = 256;
// The other names a directory may hold before it is a tree (an interrupted first opening).
const char* const FRESH_TREE_NAMES[] = {DirectoryLock::LOCK_FILE, NodeStore::NODES_DIR,
                                        "vantreld.attr.tmp"};

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool allDigits(const std::string& text) {
    if (text.empty() || text.size() > 19) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

uint64_t toUnsigned(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 10); }

std::string lowerCase(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string readString(const Vantrel::rcAttrStream& stream, const char* key) {
    std::string value;
    stream.getStringValue(key, value);
    return value;
}

bool isLeftover(const std::string& name) {
    return endsWith(name, ServerFiles::TEMP_SUFFIX) || endsWith(name, DEAD_SUFFIX);
}

// Removes what an interrupted change left inside `directory`; the other names, sorted.
std::vector<std::string> listWithoutLeftovers(const std::string& directory) {
    std::vector<std::string> names;
    for (const std::string& name : ServerFiles::list(directory)) {
        if (isLeftover(name))
            ServerFiles::removeTree(directory + "/" + name);
        else
            names.push_back(name);
    }
    return names;
}

bool isPlainStreamByte(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
}

const char HASHED_MARK = '~';

// 128 bits of two FNV-1a hashes with different bases, in hex.
std::string nameHash(const std::string& name) {
    uint64_t a = 14695981039346656037ull, b = 0x84222325cbf29ce4ull;
    for (unsigned char c : name) {
        a = (a ^ c) * 1099511628211ull;
        b = (b ^ c ^ 0x5a) * 1099511628211ull;
    }
    char hex[33];
    std::snprintf(hex, sizeof hex, "%016llx%016llx", static_cast<unsigned long long>(a),
                  static_cast<unsigned long long>(b));
    return hex;
}

// The head of a hashed stream file: the name's length, a space, the name.
std::string hashedHead(const std::string& name) { return std::to_string(name.size()) + " " + name; }

// The stream name a hashed file starts with; empty when the head is unreadable.
std::string hashedName(const std::string& head) {
    const size_t space = head.find(' ');
    if (space == std::string::npos || space == 0 || space > 3) return std::string();
    const size_t length = std::strtoul(head.substr(0, space).c_str(), nullptr, 10);
    if (length == 0 || length > NodeStore::MAX_STREAM_NAME || head.size() < space + 1 + length)
        return std::string();
    return head.substr(space + 1, length);
}

// Wraps file work of an operation: a file error becomes `what` and the system's reason in
// the reply, the full text (with the path) goes to the log.
template <class Work>
auto fileWork(const std::string& what, Work work) -> decltype(work()) {
    try {
        return work();
    } catch (const FileError& error) {
        CO_MSG_ERROR("%s", error.what());
        throw ServerError(what + ": " + error.reason());
    }
}

}  // namespace

std::string encodeStreamName(const std::string& name) {
    std::string encoded;
    for (char c : name) {
        if (isPlainStreamByte(c)) {
            encoded += c;
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(c));
            encoded += escape;
        }
    }
    if (encoded.size() <= NodeStore::MAX_PLAIN_STREAM_FILE) return encoded;
    return HASHED_MARK + nameHash(name);
}

bool isHashedStreamFile(const std::string& fileName) {
    return !fileName.empty() && fileName[0] == HASHED_MARK;
}

std::string decodeStreamName(const std::string& fileName) {
    std::string name;
    for (size_t i = 0; i < fileName.size(); ++i) {
        if (fileName[i] == '%' && i + 2 < fileName.size() &&
            std::isxdigit(static_cast<unsigned char>(fileName[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(fileName[i + 2]))) {
            name += static_cast<char>(std::strtol(fileName.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            name += fileName[i];
        }
    }
    return name;
}

FrameIds NodeStore::framesInManifest(const Vantrel::rcAttrStream& manifest, uint64_t serial) {
    FrameIds frames(serial);
    std::string runs;
    const bool read = manifest.getStringValue("FrameRuns", runs)
                          ? frames.parseRuns(runs)
                          : frames.parseIds(decodeCountedList(readString(manifest, "Frames")));
    if (!read) throw ServerError("invalid frame list");
    return frames;
}

// ------------------------------------------------------------------------- opening

NodeStore::NodeStore(const std::string& directory, ServerFiles::Sync sync,
                     const std::string& rootName, const StoreLimits& limits)
    : directory_(directory),
      sync_(sync),
      limits_(limits),
      frameCount_(0),
      metadataBytes_(0),
      nextSerial_(1),
      serialLimit_(1),
      root_(nullptr) {
    openDirectory(rootName);
}

NodeStore::~NodeStore() = default;

void NodeStore::openDirectory(const std::string& rootName) {
    ServerFiles::makeDirectory(directory_);
    const bool isTree = ServerFiles::exists(directory_ + "/" + IDENTITY_FILE);
    if (!isTree) refuseForeignDirectory();
    lock_.reset(new DirectoryLock(directory_));
    ServerFiles::makeDirectory(directory_ + "/" + NODES_DIR);
    listWithoutLeftovers(directory_);
    if (isTree) {
        loadIdentity();
    } else {
        storageId_ = Vantrel::CoUUID::create();
        hostUUID_ = Vantrel::CoUUID::create();
        saveIdentity(serialLimit_);
    }
    loadNodes();
    if (root_ == nullptr) createRoot(rootName);
}

void NodeStore::refuseForeignDirectory() const {
    for (const std::string& name : ServerFiles::list(directory_)) {
        bool known = false;
        for (const char* fresh : FRESH_TREE_NAMES) known = known || name == fresh;
        if (name == NODES_DIR && !ServerFiles::list(directory_ + "/" + name).empty())
            known = false;
        if (!known)
            throw ServerError("'" + directory_ +
                              "' is neither empty nor a vantreld tree (it holds '" + name +
                              "' and no " + IDENTITY_FILE + "): give a new or empty directory");
    }
}

void NodeStore::loadIdentity() {
    const Vantrel::rcAttrStream stream(ServerFiles::readFile(directory_ + "/" + IDENTITY_FILE));
    storageId_ = readString(stream, "StorageId");
    hostUUID_ = readString(stream, "HostUUID");
    serialLimit_ = std::max<uint64_t>(1, toUnsigned(readString(stream, "SerialLimit")));
    if (storageId_.empty() || hostUUID_.empty())
        throw ServerError("Invalid store identity in '" + directory_ + "'");
}

void NodeStore::saveIdentity(uint64_t serialLimit) {
    AttrStreamWriter out;
    out.add("StorageId", storageId_);
    out.add("HostUUID", hostUUID_);
    out.add("SerialLimit", std::to_string(serialLimit));
    ServerFiles::writeFileAtomically(directory_ + "/" + IDENTITY_FILE, out.text(), sync_);
}

void NodeStore::loadNodes() {
    const std::string nodesDir = directory_ + "/" + NODES_DIR;
    std::vector<LoadedNode> loaded;
    for (const std::string& name : listWithoutLeftovers(nodesDir)) {
        if (!allDigits(name)) continue;
        if (!ServerFiles::exists(nodesDir + "/" + name + "/" + MANIFEST)) {
            // Committed folders always hold a manifest: this one is what an interrupted
            // removal of an earlier version left.
            CO_MSG_WARNING("Removing node folder '%s' that has no manifest", name.c_str());
            removeFolder(toUnsigned(name));
            continue;
        }
        try {
            loaded.push_back(loadNode(name));
        } catch (const ServerError& error) {
            CO_MSG_WARNING("Skipping node folder '%s': %s", name.c_str(), error.what());
        }
    }
    linkNodes(loaded);
}

NodeStore::LoadedNode NodeStore::loadNode(const std::string& folder) const {
    const std::string path = directory_ + "/" + NODES_DIR + "/" + folder;
    listWithoutLeftovers(path);
    const Vantrel::rcAttrStream stream(ServerFiles::readFile(path + "/" + MANIFEST));
    LoadedNode loaded{std::unique_ptr<Node>(new Node), readString(stream, "Parent")};
    Node& node = *loaded.node;
    node.serial = toUnsigned(folder);
    node.id = readString(stream, "Id");
    node.type = readString(stream, "Type");
    if (node.id.empty() || NodeTypes::byName(node.type) == nullptr)
        throw ServerError("invalid manifest");
    node.name = readString(stream, "Displ");
    node.format = ClipFormatText::fromStream(readString(stream, "Fmt"));
    node.frames = framesInManifest(stream, node.serial);
    node.nextFrame = toUnsigned(readString(stream, "NextFrame"));
    if (!node.framePaths.parseCounted(readString(stream, "Paths")))
        throw ServerError("invalid frame paths");
    node.pathsHost = readString(stream, "PathsHost");
    node.pathsOsType = std::atoi(readString(stream, "PathsOSType").c_str());
    node.pathsOsVersion = readString(stream, "PathsOSVersion");
    if (ServerFiles::isDirectory(path + "/" + FRAMES_DIR))
        listWithoutLeftovers(path + "/" + FRAMES_DIR);
    if (ServerFiles::isDirectory(path + "/" + META_DIR)) loadStreams(path + "/" + META_DIR, node);
    std::sort(node.metadataStreams.begin(), node.metadataStreams.end());
    return loaded;
}

// Lists the streams of a node and adds up their sizes; files named by the earlier rule are
// renamed to the current one.
void NodeStore::loadStreams(const std::string& metaDir, Node& node) const {
    for (const std::string& file : listWithoutLeftovers(metaDir)) {
        const std::string path = metaDir + "/" + file;
        if (isHashedStreamFile(file)) {
            const std::string name = hashedName(ServerFiles::readFile(path, 4 + MAX_STREAM_NAME));
            if (name.empty() || encodeStreamName(name) != file) {
                CO_MSG_WARNING("Ignoring unreadable metadata file '%s'", path.c_str());
                continue;
            }
            node.metadataStreams.push_back(name);
            node.metadataBytes += ServerFiles::fileSize(path) - hashedHead(name).size();
            continue;
        }
        const std::string name = decodeStreamName(file);
        const std::string current = encodeStreamName(name);
        if (current != file) {
            const std::string data = ServerFiles::readFile(path);
            ServerFiles::writeFileAtomically(
                metaDir + "/" + current,
                isHashedStreamFile(current) ? hashedHead(name) + data : data, sync_);
            ServerFiles::removeTree(path);
        }
        node.metadataStreams.push_back(name);
        node.metadataBytes += ServerFiles::fileSize(metaDir + "/" + current) -
                              (isHashedStreamFile(current) ? hashedHead(name).size() : 0);
    }
}

// Links the loaded nodes from the root down; a node that cannot be reached from the root (its
// parent is gone: an interrupted removal) has its folder removed.
void NodeStore::linkNodes(std::vector<LoadedNode>& loaded) {
    uint64_t maxSerial = 0;
    std::unordered_map<std::string, std::vector<LoadedNode*>> byParent;
    LoadedNode* root = nullptr;
    for (LoadedNode& entry : loaded) {
        maxSerial = std::max(maxSerial, entry.node->serial);
        if (entry.node->id == ROOT_ID && entry.parentId.empty())
            root = &entry;
        else
            byParent[entry.parentId].push_back(&entry);
    }
    nextSerial_ = std::max(serialLimit_, maxSerial + 1);
    if (root == nullptr) {
        if (!loaded.empty()) CO_MSG_WARNING("No root node in '%s'", directory_.c_str());
    } else {
        // Breadth first, children in serial order (their folders were listed sorted by name,
        // which is not numeric order).
        std::vector<LoadedNode*> pending{root};
        for (size_t i = 0; i < pending.size(); ++i) {
            LoadedNode* entry = pending[i];
            const std::string id = entry->node->id;
            if (find(id) != nullptr) continue;  // a second folder claiming the same id
            Node* parent = entry == root ? nullptr : &mutableNode(entry->parentId);
            adopt(std::move(entry->node), parent);
            auto children = byParent.find(id);
            if (children == byParent.end()) continue;
            std::sort(children->second.begin(), children->second.end(),
                      [](const LoadedNode* a, const LoadedNode* b) {
                          return a->node->serial < b->node->serial;
                      });
            pending.insert(pending.end(), children->second.begin(), children->second.end());
            byParent.erase(children);
        }
    }
    for (LoadedNode& entry : loaded) {
        if (entry.node == nullptr) continue;  // adopted
        CO_MSG_WARNING("Removing node '%s' whose parent '%s' is gone", entry.node->id.c_str(),
                       entry.parentId.c_str());
        removeFolder(entry.node->serial);
    }
}

void NodeStore::removeFolder(uint64_t serial) const {
    const std::string dead = nodeFolder(serial) + DEAD_SUFFIX;
    try {
        ServerFiles::rename(nodeFolder(serial), dead, sync_);
        ServerFiles::removeTree(dead);
    } catch (const ServerError& error) {
        CO_MSG_WARNING("%s", error.what());
    }
}

void NodeStore::adopt(std::unique_ptr<Node> node, Node* parent) {
    Node* raw = node.get();
    raw->parent = parent;
    if (parent == nullptr) {
        root_ = raw;
    } else {
        parent->children.push_back(raw);
        childNames_[parent->serial][raw->name] = raw;
    }
    frameCount_ += raw->frames.size();
    metadataBytes_ += raw->metadataBytes;
    nodes_[raw->id] = std::move(node);
}

void NodeStore::createRoot(const std::string& rootName) {
    std::unique_ptr<Node> root(new Node);
    root->serial = takeSerial();
    root->id = ROOT_ID;
    root->type = "HOST";
    root->name = rootName;
    root->frames = FrameIds(root->serial);
    commitNewNode(*root);
    adopt(std::move(root), nullptr);
}

uint64_t NodeStore::takeSerial() {
    if (nextSerial_ >= serialLimit_) {
        fileWork("Cannot save the tree's identity",
                 [&] { saveIdentity(nextSerial_ + SERIAL_BLOCK); });
        serialLimit_ = nextSerial_ + SERIAL_BLOCK;
    }
    return nextSerial_++;
}

// ------------------------------------------------------------------------- lookups

const Node* NodeStore::find(const std::string& id) const {
    const auto it = nodes_.find(id);
    return it == nodes_.end() ? nullptr : it->second.get();
}

const Node& NodeStore::get(const std::string& id) const {
    const Node* node = find(id);
    if (node == nullptr) throw ServerError("Unknown node id: '" + id + "'");
    return *node;
}

Node& NodeStore::mutableNode(const std::string& id) { return const_cast<Node&>(get(id)); }

std::string NodeStore::nodeFolder(uint64_t serial) const {
    return directory_ + "/" + NODES_DIR + "/" + std::to_string(serial);
}

std::string NodeStore::nodeFolder(const Node& node) const { return nodeFolder(node.serial); }

// ------------------------------------------------------------------------- changes

void NodeStore::checkNameFree(const Node& parent, const std::string& name, const Node* self) const {
    if (name.empty()) throw ServerError("A node name must not be empty");
    const auto names = childNames_.find(parent.serial);
    if (names == childNames_.end()) return;
    const auto clash = names->second.find(name);
    if (clash != names->second.end() && clash->second != self)
        throw ServerError("A node named '" + name + "' already exists under '" + parent.id + "'");
}

const Node& NodeStore::createNode(const std::string& parentId, const std::string& name,
                                  const std::string& type, const VantrelClipFormat& format) {
    Node& parent = mutableNode(parentId);
    if (NodeTypes::byName(type) == nullptr) throw ServerError("Unknown node type '" + type + "'");
    checkNameFree(parent, name, nullptr);
    checkLimit(nodes_.size() + 1, limits_.maxNodes, "nodes in the tree (MaxNodes)");
    std::unique_ptr<Node> node(new Node);
    node->serial = takeSerial();
    node->id = lowerCase(type) + " " + std::to_string(node->serial);
    node->type = type;
    node->name = name;
    node->parent = &parent;
    node->format = format;
    node->frames = FrameIds(node->serial);
    fileWork("Cannot create node '" + name + "' under '" + parentId + "'",
             [&] { commitNewNode(*node); });
    const Node& created = *node;
    adopt(std::move(node), &parent);
    announce(created, "Created", {{"Name", name}, {"Type", type}});
    return created;
}

void NodeStore::commitNewNode(const Node& node) {
    const std::string folder = nodeFolder(node);
    const std::string temp = folder + ServerFiles::TEMP_SUFFIX;
    ServerFiles::removeTree(temp);
    ServerFiles::makeDirectory(temp);
    try {
        ServerFiles::writeFileAtomically(temp + "/" + MANIFEST, manifestText(node), sync_);
        ServerFiles::rename(temp, folder, sync_);
    } catch (const FileError&) {
        // Not committed: the half-made folder goes now rather than at the next load.
        try {
            ServerFiles::removeTree(temp);
        } catch (const FileError&) {  // what stays is removed at the next load
        }
        throw;
    }
}

std::string NodeStore::manifestText(const Node& node) const {
    AttrStreamWriter out;
    out.add("Id", node.id);
    out.add("Parent", node.parent != nullptr ? node.parent->id : std::string());
    out.add("Type", node.type);
    out.add("Displ", node.name);
    out.add("Fmt", ClipFormatText::toStream(node.format));
    out.add("FrameRuns", node.frames.runsText());
    out.add("NextFrame", std::to_string(node.nextFrame));
    out.add("Paths", node.framePaths.countedText());
    out.add("PathsHost", node.pathsHost);
    out.addInt("PathsOSType", node.pathsOsType);
    out.add("PathsOSVersion", node.pathsOsVersion);
    return out.take();
}

void NodeStore::saveManifest(const Node& node) {
    fileWork("Cannot save node '" + node.id + "'", [&] {
        ServerFiles::writeFileAtomically(nodeFolder(node) + "/" + MANIFEST, manifestText(node),
                                         sync_);
    });
}

void NodeStore::checkLimit(uint64_t wanted, uint64_t limit, const char* what) const {
    if (wanted > limit)
        throw ServerError("Limit reached: the server holds at most " + std::to_string(limit) +
                          " " + what);
}

void NodeStore::saveOrRestore(Node& node, const Node& before) {
    try {
        saveManifest(node);
    } catch (...) {
        node = before;
        throw;
    }
}

const Node& NodeStore::renameNode(const std::string& id, const std::string& name) {
    Node& node = mutableNode(id);
    if (node.parent != nullptr) checkNameFree(*node.parent, name, &node);
    if (name.empty()) throw ServerError("A node name must not be empty");
    const std::string old = node.name;
    node.name = name;
    try {
        saveManifest(node);
    } catch (...) {
        node.name = old;
        throw;
    }
    if (node.parent != nullptr) {
        auto& names = childNames_[node.parent->serial];
        names.erase(old);
        names[name] = &node;
    }
    announce(node, "Renamed", {{"Name", name}});
    return node;
}

void NodeStore::destroyNode(const std::string& id) {
    Node& node = mutableNode(id);
    if (node.parent == nullptr) throw ServerError("The root node cannot be destroyed");
    const std::string dead = nodeFolder(node) + DEAD_SUFFIX;
    fileWork("Cannot destroy node '" + id + "'",
             [&] { ServerFiles::rename(nodeFolder(node), dead, sync_); });  // the commit
    std::vector<Node*> below;
    for (Node* child : node.children) below.push_back(child);
    for (size_t i = 0; i < below.size(); ++i)
        below.insert(below.end(), below[i]->children.begin(), below[i]->children.end());
    // Committed: whatever a failure or a kill leaves from here on goes at the next opening.
    for (const Node* descendant : below) removeFolder(descendant->serial);
    try {
        ServerFiles::removeTree(dead);
    } catch (const ServerError& error) {
        CO_MSG_WARNING("%s", error.what());
    }
    Node& parent = *node.parent;
    parent.children.erase(std::find(parent.children.begin(), parent.children.end(), &node));
    childNames_[parent.serial].erase(node.name);
    std::vector<std::string> descendants;
    for (const Node* descendant : below) descendants.push_back(descendant->id);
    announce(node, "Destroyed", {}, std::move(descendants));
    below.push_back(&node);
    for (Node* gone : below) forget(*gone);
}

void NodeStore::announce(const Node& node, const char* type, NodeChange::Details details,
                         std::vector<std::string> descendants) const {
    if (observer_ == nullptr) return;
    observer_->nodeChanged(NodeChange{node.id,
                                      node.parent != nullptr ? node.parent->id : std::string(),
                                      type, std::move(details), std::move(descendants)});
}

void NodeStore::forget(Node& node) {
    frameCount_ -= node.frames.size();
    metadataBytes_ -= node.metadataBytes;
    childNames_.erase(node.serial);
    nodes_.erase(node.id);  // deletes the node
}

const Node& NodeStore::allocateFrames(const std::string& id, int count,
                                      const VantrelClipFormat* format) {
    Node& node = mutableNode(id);
    if (count < 0) throw ServerError("Invalid number of frames: " + std::to_string(count));
    const uint64_t wanted = static_cast<uint64_t>(count);
    checkLimit(wanted, limits_.maxFramesPerNode, "frames per node (MaxFramesPerNode)");
    checkLimit(frameCount_ - node.frames.size() + wanted, limits_.maxFramesPerServer,
               "frames (MaxFramesPerServer)");
    const Node before = node;
    node.frames.truncate(static_cast<size_t>(wanted));
    const uint64_t added = wanted - node.frames.size();
    node.frames.append(node.nextFrame, added);
    node.nextFrame += added;
    node.framePaths.clear();
    if (format != nullptr) node.format = *format;
    saveOrRestore(node, before);
    frameCount_ = frameCount_ - before.frames.size() + node.frames.size();
    announce(node, "FramesAllocated", {{"NumFrames", std::to_string(node.frames.size())}});
    return node;
}

const Node& NodeStore::setFramePaths(const std::string& id, const std::vector<std::string>& paths,
                                     const std::string& host, int osType,
                                     const std::string& osVersion,
                                     const VantrelClipFormat* format) {
    Node& node = mutableNode(id);
    checkFrameCount(paths.size(), node);
    const Node before = node;
    node.frames.clear();
    node.frames.append(node.nextFrame, paths.size());
    node.nextFrame += paths.size();
    node.framePaths = paths;
    node.pathsHost = host;
    node.pathsOsType = osType;
    node.pathsOsVersion = osVersion;
    if (format != nullptr) node.format = *format;
    saveOrRestore(node, before);
    frameCount_ = frameCount_ - before.frames.size() + node.frames.size();
    announce(node, "FramesLinked", {{"NumFrames", std::to_string(node.frames.size())}});
    return node;
}

void NodeStore::checkFrameCount(uint64_t count, const Node& node) const {
    checkLimit(count, limits_.maxFramesPerNode, "frames per node (MaxFramesPerNode)");
    checkLimit(frameCount_ - node.frames.size() + count, limits_.maxFramesPerServer,
               "frames (MaxFramesPerServer)");
}

void NodeStore::writeFrameData(const std::string& id, const std::string& frameId,
                               const std::string& bytes) {
    const Node& node = get(id);
    if (!node.frames.contains(frameId)) throw ServerError("Unknown frame id: '" + frameId + "'");
    const std::string frames = nodeFolder(node) + "/" + FRAMES_DIR;
    fileWork("Cannot write frame '" + frameId + "' of node '" + id + "'", [&] {
        ServerFiles::makeDirectory(frames);
        ServerFiles::writeFileAtomically(frames + "/" + frameId, bytes, sync_);
    });
    announce(node, "FrameWritten", {{"Frame", frameId}});
}

// ------------------------------------------------------------------------- metadata

std::string NodeStore::streamPath(const Node& node, const std::string& stream) const {
    return nodeFolder(node) + "/" + META_DIR + "/" + encodeStreamName(stream);
}

std::string NodeStore::getMetaData(const std::string& id, const std::string& stream) const {
    const Node& node = get(id);
    if (!std::binary_search(node.metadataStreams.begin(), node.metadataStreams.end(), stream))
        throw ServerError("Unknown metadata stream '" + stream + "' on '" + id + "'");
    std::string data = fileWork("Cannot read metadata stream '" + stream + "' of node '" + id + "'",
                                [&] { return ServerFiles::readFile(streamPath(node, stream)); });
    if (isHashedStreamFile(encodeStreamName(stream))) data.erase(0, hashedHead(stream).size());
    return data;
}

void NodeStore::setMetaData(const std::string& id, const std::string& stream,
                            const std::string& data) {
    Node& node = mutableNode(id);
    if (stream.empty() || stream.size() > MAX_STREAM_NAME)
        throw ServerError("Invalid metadata stream name '" + stream + "'");
    const std::string path = streamPath(node, stream);
    const bool hashed = isHashedStreamFile(encodeStreamName(stream));
    const std::string what = "Cannot write metadata stream '" + stream + "' of node '" + id + "'";
    auto& names = node.metadataStreams;
    const auto at = std::lower_bound(names.begin(), names.end(), stream);
    const bool known = at != names.end() && *at == stream;
    const uint64_t head = hashed ? hashedHead(stream).size() : 0;
    const uint64_t old = known ? fileWork(what, [&] { return ServerFiles::fileSize(path); }) - head : 0;
    if (hashed && !known && ServerFiles::exists(path))
        throw ServerError(what + ": its name clashes with another stream's; choose another");
    checkLimit(node.metadataBytes - old + data.size(), limits_.maxMetadataBytesPerNode,
               "metadata bytes per node (MaxMetadataBytesPerNode)");
    checkLimit(metadataBytes_ - old + data.size(), limits_.maxMetadataBytesPerServer,
               "metadata bytes (MaxMetadataBytesPerServer)");
    fileWork(what, [&] {
        ServerFiles::makeDirectory(nodeFolder(node) + "/" + META_DIR);
        ServerFiles::writeFileAtomically(path, hashed ? hashedHead(stream) + data : data, sync_);
    });
    node.metadataBytes = node.metadataBytes - old + data.size();
    metadataBytes_ = metadataBytes_ - old + data.size();
    if (!known) names.insert(at, stream);
    announce(node, "MetaDataChanged", {{"Stream", stream}});
}

}  // namespace vantreld
