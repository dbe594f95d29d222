#include "vantrel/server/NodeMethods.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "rcApi/rcAttrStream.h"
#include "vantrel/client/nodes/VantrelCountedList.h"
#include "vantrel/server/ClipFormatText.h"
#include "vantrel/server/NodeStore.h"
#include "vantrel/server/NodeTypes.h"
#include "vantrel/server/ServerError.h"
#include "vantrel/server/ServerSettings.h"
#include "vantrel/server/WireText.h"

namespace vantreld {

namespace {

// Reads the attribute-stream argument of a request.
class StreamArgs {
public:
    explicit StreamArgs(const std::string& text) : stream_(text) {}

    std::string required(const char* key) const {
        std::string value;
        if (!stream_.getStringValue(key, value))
            throw ServerError(std::string("Malformed argument: missing '") + key + "'");
        return value;
    }
    std::string optional(const char* key, const std::string& fallback = std::string()) const {
        std::string value;
        return stream_.getStringValue(key, value) ? value : fallback;
    }
    int requiredInt(const char* key) const { return parseInt(required(key)); }
    bool has(const char* key) const {
        std::string ignored;
        return stream_.getStringValue(key, ignored);
    }

private:
    Vantrel::rcAttrStream stream_;
};

std::string toDecimal(long long value) { return std::to_string(value); }

}  // namespace

NodeMethods::NodeMethods(NodeStore& store, const ServerSettings& settings)
    : store_(store), settings_(settings) {}

void NodeMethods::registerWith(MethodDispatcher& dispatcher) {
    registerOldForms(dispatcher);
    registerStreamForms(dispatcher);
    registerNodeQueries(dispatcher);
}

// --------------------------------------------------------------------------- shared rules

std::string NodeMethods::createNode(const std::string& parentId, const std::string& name,
                                    const std::string& typeText, const VantrelClipFormat& format) {
    const Node& parent = store_.get(parentId);
    const NodeType* type = NodeTypes::byText(typeText);
    if (type == nullptr) throw ServerError("Unknown node type '" + typeText + "'");
    if (!NodeTypes::canCreate(parent.type, type->name))
        throw ServerError("Cannot create a " + std::string(type->name) + " node under " +
                          parent.type + " node '" + parent.id + "'");
    return store_.createNode(parentId, name, type->name, format).id;
}

const Node& NodeMethods::clipNode(const std::string& id) const {
    const Node& node = store_.get(id);
    if (!NodeTypes::byName(node.type)->clip)
        throw ServerError("Node '" + id + "' is a " + node.type + " node, not a clip");
    return node;
}

std::string NodeMethods::childrenText(const Node& node) {
    size_t bytes = 0;
    for (const Node* child : node.children) bytes += child->id.size() + child->name.size() + 2;
    std::string out;
    out.reserve(bytes);
    for (const Node* child : node.children) {
        if (!out.empty()) out += ',';
        out += child->id;
        out += ',';
        out += child->name;
    }
    return out;
}

std::string NodeMethods::childrenStream(const Node& node) {
    auto itemSize = [](const Node* child) {
        return attributeSize(2, child->id.size()) + attributeSize(5, child->name.size());
    };
    size_t bytes = 0;
    for (size_t i = 0; i < node.children.size(); ++i)
        bytes +=
            attributeSize(toDecimal(static_cast<long long>(i)).size(), itemSize(node.children[i]));
    std::string out;
    out.reserve(bytes);
    for (size_t i = 0; i < node.children.size(); ++i) {
        const Node* child = node.children[i];
        // The item stream is written straight into the list: its length is known beforehand.
        out += toDecimal(static_cast<long long>(i));
        out += ' ';
        out += toDecimal(static_cast<long long>(itemSize(child)));
        out += ' ';
        out += "Id ";
        out += toDecimal(static_cast<long long>(child->id.size()));
        out += ' ';
        out += child->id;
        out += "Displ ";
        out += toDecimal(static_cast<long long>(child->name.size()));
        out += ' ';
        out += child->name;
    }
    return out;
}

std::vector<std::string> NodeMethods::framePathsFor(const Node& node, const std::string& host,
                                                    int osType) const {
    std::vector<std::string> paths;
    paths.reserve(node.framePaths.size());
    for (const std::string& path : node.framePaths)
        paths.push_back(translatedPath(node, path, host, osType));
    return paths;
}

std::string NodeMethods::countedFramePathsFor(const Node& node, const std::string& host,
                                              int osType) const {
    std::string text;
    text.reserve(node.framePaths.countedSize());  // exactly, unless translations change sizes
    VantrelCountedList::appendHead(text, node.framePaths.size());
    for (const std::string& path : node.framePaths) {
        const std::string translated = translatedPath(node, path, host, osType);
        VantrelCountedList::appendItem(text, translated.data(), translated.size());
    }
    return text;
}

std::string NodeMethods::translatedPath(const Node& node, const std::string& path,
                                        const std::string& host, int osType) const {
    return settings_.translatePath(path, node.pathsHost, node.pathsOsType, host, osType);
}

// --------------------------------------------------------------------------- old forms

void NodeMethods::registerOldForms(MethodDispatcher& d) {
    d.add("CreateNode", [this](const Request& r) {
        const ArgumentWords words(r.args);
        words.requireAtLeast(4 + ClipFormatText::TEXT_WORDS);
        parseInt(words[2]);
        return createNode(words[0], words[1], words[3], ClipFormatText::fromWords(words, 4));
    });
    d.add("GetChildren", [this](const Request& r) {
        return childrenText(store_.get(decodeNodeIdArgument(r.args)));
    });
    d.add("GetDisplayName",
          [this](const Request& r) { return store_.get(decodeNodeIdArgument(r.args)).name; });
    d.add("AllocateFrames", [this](const Request& r) {
        const ArgumentWords words(r.args);
        words.requireAtLeast(2);
        clipNode(words[0]);
        return store_.allocateFrames(words[0], parseInt(words[1]), nullptr).frames.commaText();
    });
    d.add("GetFrames", [this](const Request& r) {
        return store_.get(decodeNodeIdArgument(r.args)).frames.commaText();
    });
    d.add("SetFramePaths", [this](const Request& r) { return setFramePaths(r.args); });
    d.add("GetFramePaths", [this](const Request& r) { return getFramePaths(r.args); });
}

std::string NodeMethods::setFramePaths(const std::string& args) {
    const ArgumentWords words(args, 4);
    words.requireAtLeast(4);
    const Node& node = clipNode(words[0]);
    const std::string& list = words.rest();
    // Counted before the list is split: one comma costs a byte here, a string once split.
    if (!list.empty())
        store_.checkFrameCount(std::count(list.begin(), list.end(), ',') + uint64_t(1), node);
    store_.setFramePaths(words[0], splitComma(list), words[1], parseInt(words[2]), words[3],
                         nullptr);
    return std::string();
}

std::string NodeMethods::getFramePaths(const std::string& args) const {
    const ArgumentWords words(args);
    words.requireAtLeast(3);
    return joinComma(framePathsFor(store_.get(words[0]), words[1], parseInt(words[2])));
}

// --------------------------------------------------------------------------- stream forms

void NodeMethods::registerStreamForms(MethodDispatcher& d) {
    d.add("CreateNodeEx", [this](const Request& r) {
        const StreamArgs args(r.args);
        const std::string extended = args.optional("ExType");
        const std::string type = extended.empty() ? toDecimal(args.requiredInt("Type")) : extended;
        const VantrelClipFormat format = args.has("Fmt")
                                             ? ClipFormatText::fromStream(args.required("Fmt"))
                                             : VantrelClipFormat();
        return createNode(args.required("Parent"), args.required("Displ"), type, format);
    });
    d.add("CanCreateNode", [this](const Request& r) {
        const StreamArgs args(r.args);
        const Node& node = store_.get(args.required("Node"));
        const NodeType* type = NodeTypes::byText(args.required("ExtendedType"));
        return std::string(
            type != nullptr && NodeTypes::canCreate(node.type, type->name) ? "TRUE" : "FALSE");
    });
    d.add("RenameNode", [this](const Request& r) {
        const StreamArgs args(r.args);
        return store_.renameNode(args.required("Node"), args.required("Displ")).id;
    });
    d.add("GetParentNode", [this](const Request& r) {
        const Node& node = store_.get(StreamArgs(r.args).required("Node"));
        return node.parent != nullptr ? node.parent->id : std::string();
    });
    d.add("GetChildrenEx", [this](const Request& r) {
        return childrenStream(store_.get(decodeNodeIdArgument(r.args)));
    });
    d.add("GetDisplayNameEx",
          [this](const Request& r) { return store_.get(decodeNodeIdArgument(r.args)).name; });
    d.add("AllocateFramesEx", [this](const Request& r) {
        const StreamArgs args(r.args);
        const std::string id = args.required("Node");
        clipNode(id);
        const int count = args.requiredInt("NumFrames");
        if (!args.has("Fmt"))
            return store_.allocateFrames(id, count, nullptr).frames.countedText();
        const VantrelClipFormat format = ClipFormatText::fromStream(args.required("Fmt"));
        return store_.allocateFrames(id, count, &format).frames.countedText();
    });
    d.add("GetFramesEx", [this](const Request& r) {
        return store_.get(StreamArgs(r.args).required("Node")).frames.countedText();
    });
    d.add("SetFramePathsEx", [this](const Request& r) {
        const StreamArgs args(r.args);
        const std::string id = args.required("Parent");
        const Node& node = clipNode(id);
        const std::string list = args.required("Paths");
        // The announced count is checked before a single item is built.
        store_.checkFrameCount(std::strtoull(list.c_str(), nullptr, 10), node);
        const std::vector<std::string> paths = decodeCountedList(list);
        const VantrelClipFormat format = ClipFormatText::fromStream(args.optional("Fmt"));
        store_.setFramePaths(id, paths, args.required("HostName"), args.requiredInt("OSType"),
                             args.optional("OSVersion"), args.has("Fmt") ? &format : nullptr);
        return std::string();
    });
    d.add("GetFramePathsEx", [this](const Request& r) {
        const StreamArgs args(r.args);
        const Node& node = store_.get(args.required("Parent"));
        return countedFramePathsFor(node, args.required("HostName"), args.requiredInt("OSType"));
    });
}

// --------------------------------------------------------------------------- node queries

void NodeMethods::registerNodeQueries(MethodDispatcher& d) {
    d.add("GetRootNode", [this](const Request&) { return store_.root().id; });
    d.add("DestroyNode", [this](const Request& r) {
        store_.destroyNode(decodeNodeIdArgument(r.args));
        return std::string();
    });
    d.add("GetNodeType", [this](const Request& r) {
        const NodeType* type = NodeTypes::byName(store_.get(decodeNodeIdArgument(r.args)).type);
        return std::string(type->clip ? "1 " : "0 ") + toDecimal(type->number);
    });
    d.add("GetNodeTypeStr",
          [this](const Request& r) { return store_.get(decodeNodeIdArgument(r.args)).type; });
    d.add("GetClipFormat", [this](const Request& r) {
        return ClipFormatText::toReplyText(store_.get(decodeNodeIdArgument(r.args)).format);
    });
    d.add("GetNbReadAheads", [this](const Request& r) {
        store_.get(decodeNodeIdArgument(r.args));
        return toDecimal(settings_.readAheads);
    });
    d.add("GetMetaData", [this](const Request& r) { return getMetaData(r.args); });
    d.add("SetMetaData", [this](const Request& r) { return setMetaData(r.args); });
    d.add("QueryMetaDataSupport", [this](const Request& r) {
        return joinComma(store_.get(decodeNodeIdArgument(r.args)).metadataStreams);
    });
    d.add("GetStreamId", [this](const Request& r) {
        return "stream-" + std::to_string(store_.get(decodeNodeIdArgument(r.args)).serial);
    });
    d.add("GetStorageId", [this](const Request&) { return store_.storageId(); });
    d.add("QueryNodePlugInVendor", [](const Request&) { return std::string(VENDOR); });
    d.add("QueryNodePlugInProduct", [](const Request&) { return std::string(PRODUCT); });
    d.add("QueryNodePlugInVersion",
          [](const Request&) { return toDecimal(PRODUCT_MAJOR) + " " + toDecimal(PRODUCT_MINOR); });
}

std::string NodeMethods::getMetaData(const std::string& args) const {
    const ArgumentWords words(args);
    words.requireAtLeast(2);
    return store_.getMetaData(words[0], words[1]);
}

std::string NodeMethods::setMetaData(const std::string& args) {
    const ArgumentWords words(args);
    words.requireAtLeast(3);
    if (words.size() > 3)
        throw ServerError("Malformed argument: the metadata must be one quoted word");
    store_.setMetaData(words[0], words[1], words[2]);
    return std::string();
}

}  // namespace vantreld
