#include "vantrel/client/nodes/VantrelNodeClientAPI.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "vantrel/CoException.h"
#include "osal/CoAssert.h"
#include "rcApi/rcAttrStream.h"
#include "rcApi/rcParam.h"
#include "vantrel/client/connection/VantrelClientConnection.h"
#include "vantrel/client/nodes/VantrelCountedList.h"
#include "vantrel/client/nodes/VantrelNodeWire.h"
#include "vantrel/VantrelOS.h"
#include "vantrel/client/connection/VantrelTextConversion.h"

using VantrelNodeWire::commaFormNodeIdText;
using VantrelNodeWire::nodeIdText;

namespace {

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

std::string escaped(const char* text) {
    return Vantrel::rcParamStringToEscapedString(orEmpty(text)).getEscapedString();
}

[[noreturn]] void malformedReply(const std::string& message) {
    Vantrel::CoException(__LINE__, __FILE__).fire(message.c_str(), nullptr);
}

// A stream argument holding one node id under `key`.
std::string nodeStream(const char* key, const VantrelNodeId& node) {
    Vantrel::rcAttrStream stream;
    stream.addStringValue(key, node.id());
    return stream.getStreamStr();
}

// This machine as the frame-path requests name it.
void addLocalHost(Vantrel::rcAttrStream& stream) {
    stream.addStringValue("HostName", VantrelOS::getHostName());
    stream.addIntValue("OSType", static_cast<int>(VantrelOS::getOSType()));
    stream.addStringValue("OSVersion", VantrelOS::getOSVersion());
}

std::vector<VantrelFrameId> decodeFrameIds(const std::string& reply) {
    std::vector<VantrelFrameId> ids;
    if (!VantrelNodeWire::parseFrameIdList(reply, ids)) malformedReply("Invalid frame list");
    return ids;
}

std::vector<std::string> decodeCounted(const std::string& reply, const char* invalid) {
    std::vector<std::string> items;
    if (!VantrelCountedList::decode(reply, items)) malformedReply(invalid);
    return items;
}

}  // namespace

VantrelNodeClientAPI::VantrelNodeClientAPI(VantrelClientConnection* connection)
    : connection_(connection) {
    CO_ASSERT(connection != nullptr);
}

VantrelNodeClientAPI::~VantrelNodeClientAPI() = default;

// Runs one operation, turning whatever it throws into the last error and false.
template <typename Work>
bool VantrelNodeClientAPI::guarded(Work work) {
    try {
        work();
        return true;
    } catch (const Vantrel::CoException& error) {
        setLastError(error.what());
    } catch (const std::exception& error) {
        setLastError(error.what());
    }
    return false;
}

std::string VantrelNodeClientAPI::request(const char* method, const std::string& args) {
    std::string reply;
    connection_->call(method, args, true, reply, REQUEST_TIMEOUT_MS);
    return reply;
}

bool VantrelNodeClientAPI::getRootNode(VantrelNodeId& root) {
    return guarded([&] { root.setId(request("GetRootNode", "").c_str()); });
}

bool VantrelNodeClientAPI::getParentNode(const VantrelNodeId& node, VantrelNodeId& parent) {
    return guarded([&] { parent.setId(request("GetParentNode", nodeStream("Node", node)).c_str()); });
}

bool VantrelNodeClientAPI::createNode(const VantrelNodeId& parent, const char* name,
                                      const char* type, int typeNumber,
                                      const VantrelClipFormat& format, VantrelNodeId& newId) {
    return guarded([&] {
        const std::string args = commaFormNodeIdText(parent) + " " +
                                 escaped(VantrelLocaleToUTF8(name).c_str()) + " " +
                                 std::to_string(typeNumber) + " " + orEmpty(type) + " " +
                                 VantrelNodeWire::clipFormatText(format);
        newId.setId(request("CreateNode", args).c_str());
    });
}

bool VantrelNodeClientAPI::createNodeEx(const VantrelNodeId& parent, const char* name,
                                        const char* type, int typeNumber,
                                        const VantrelClipFormat& format, VantrelNodeId& newId) {
    return guarded([&] {
        Vantrel::rcAttrStream args;
        args.addStringValue("Parent", parent.id());
        args.addStringValue("Displ", VantrelLocaleToUTF8(name).c_str());
        args.addIntValue("Type", typeNumber);
        if (type != nullptr && type[0] != '\0') args.addStringValue("ExType", type);
        args.addStringValue("Fmt", VantrelNodeWire::clipFormatStream(format).c_str());
        newId.setId(request("CreateNodeEx", args.getStreamStr()).c_str());
    });
}

bool VantrelNodeClientAPI::canCreateNode(const VantrelNodeId& node, const char* type,
                                         bool& can) {
    return guarded([&] {
        Vantrel::rcAttrStream args;
        args.addStringValue("Node", node.id());
        args.addStringValue("ExtendedType", orEmpty(type));
        can = request("CanCreateNode", args.getStreamStr()) == "TRUE";
    });
}

bool VantrelNodeClientAPI::renameNode(VantrelNodeId& node, const char* name) {
    return guarded([&] {
        Vantrel::rcAttrStream args;
        args.addStringValue("Node", node.id());
        args.addStringValue("Displ", VantrelLocaleToUTF8(name).c_str());
        node.setId(request("RenameNode", args.getStreamStr()).c_str());
    });
}

bool VantrelNodeClientAPI::destroyNode(const VantrelNodeId& node) {
    return guarded([&] { request("DestroyNode", nodeIdText(node)); });
}

bool VantrelNodeClientAPI::getChildren(const VantrelNodeId& node, std::vector<Child>& children) {
    return guarded([&] {
        std::vector<Child> read =
            VantrelNodeWire::parseChildrenText(request("GetChildren", commaFormNodeIdText(node)));
        for (Child& child : read) VantrelUTF8ToLocale(child.displayName);
        children.swap(read);
    });
}

bool VantrelNodeClientAPI::getChildrenEx(const VantrelNodeId& node,
                                         std::vector<Child>& children) {
    return guarded([&] {
        std::vector<Child> read;
        if (!VantrelNodeWire::parseChildrenStream(request("GetChildrenEx", nodeIdText(node)), read))
            malformedReply("Invalid children list");
        for (Child& child : read) VantrelUTF8ToLocale(child.displayName);
        children.swap(read);
    });
}

bool VantrelNodeClientAPI::getNodeType(const VantrelNodeId& node, int& clipFlag, int& nodeType) {
    return guarded([&] {
        const std::string reply = request("GetNodeType", nodeIdText(node));
        if (!VantrelNodeWire::parseIntPair(reply, clipFlag, nodeType))
            malformedReply("Invalid node type reply '" + reply + "'");
    });
}

bool VantrelNodeClientAPI::getNodeTypeStr(const VantrelNodeId& node, std::string& type) {
    return guarded([&] { type = request("GetNodeTypeStr", nodeIdText(node)); });
}

bool VantrelNodeClientAPI::getDisplayName(const VantrelNodeId& node, std::string& name) {
    return guarded([&] {
        std::string reply = request("GetDisplayName", commaFormNodeIdText(node));
        VantrelUTF8ToLocale(reply);
        name.swap(reply);
    });
}

bool VantrelNodeClientAPI::getDisplayNameEx(const VantrelNodeId& node, std::string& name) {
    return guarded([&] {
        std::string reply = request("GetDisplayNameEx", nodeIdText(node));
        VantrelUTF8ToLocale(reply);
        name.swap(reply);
    });
}

bool VantrelNodeClientAPI::allocateFrames(const VantrelNodeId& node, int numFrames,
                                          const VantrelClipFormat&,
                                          std::vector<VantrelFrameId>& frames) {
    return guarded([&] {
        const std::string args = commaFormNodeIdText(node) + " " + std::to_string(numFrames) + " ";
        frames = VantrelNodeWire::parseFrameIdCommaList(request("AllocateFrames", args));
    });
}

bool VantrelNodeClientAPI::allocateFramesEx(const VantrelNodeId& node, int numFrames,
                                            const VantrelClipFormat& format,
                                            std::vector<VantrelFrameId>& frames) {
    return guarded([&] {
        Vantrel::rcAttrStream args;
        args.addStringValue("Node", node.id());
        args.addIntValue("NumFrames", numFrames);
        args.addStringValue("Fmt", VantrelNodeWire::clipFormatStream(format).c_str());
        frames = decodeFrameIds(request("AllocateFramesEx", args.getStreamStr()));
    });
}

bool VantrelNodeClientAPI::getFrames(const VantrelNodeId& node,
                                     std::vector<VantrelFrameId>& frames) {
    return guarded([&] {
        frames =
            VantrelNodeWire::parseFrameIdCommaList(request("GetFrames", commaFormNodeIdText(node)));
    });
}

bool VantrelNodeClientAPI::getFramesEx(const VantrelNodeId& node,
                                       std::vector<VantrelFrameId>& frames) {
    return guarded([&] {
        frames = decodeFrameIds(request("GetFramesEx", nodeStream("Node", node)));
    });
}

bool VantrelNodeClientAPI::getFramePaths(const VantrelNodeId& node,
                                         std::vector<std::string>& paths) {
    return guarded([&] {
        const std::string args = commaFormNodeIdText(node) + " " +
                                 VantrelOS::getHostName().c_str() + " " +
                                 std::to_string(static_cast<int>(VantrelOS::getOSType())) +
                                 " \"" + VantrelOS::getOSVersion().c_str() + "\"";
        paths = VantrelNodeWire::splitCommaList(request("GetFramePaths", args));
        VantrelUTF8ToLocale(paths);
    });
}

bool VantrelNodeClientAPI::getFramePathsEx(const VantrelNodeId& node,
                                           std::vector<std::string>& paths) {
    return guarded([&] {
        Vantrel::rcAttrStream args;
        args.addStringValue("Parent", node.id());
        addLocalHost(args);
        paths = decodeCounted(request("GetFramePathsEx", args.getStreamStr()), "Invalid file list");
        VantrelUTF8ToLocale(paths);
    });
}

bool VantrelNodeClientAPI::setFramePaths(const VantrelNodeId& node,
                                         const std::vector<std::string>& paths,
                                         const VantrelClipFormat&) {
    return guarded([&] {
        const std::string args = commaFormNodeIdText(node) + " " +
                                 VantrelOS::getHostName().c_str() + " " +
                                 std::to_string(static_cast<int>(VantrelOS::getOSType())) + " " +
                                 VantrelOS::getOSVersion().c_str() + " " +
                                 VantrelNodeWire::joinCommaList(VantrelLocaleToUTF8(paths));
        request("SetFramePaths", args);
    });
}

bool VantrelNodeClientAPI::setFramePathsEx(const VantrelNodeId& node,
                                           const std::vector<std::string>& paths,
                                           const VantrelClipFormat& format) {
    return guarded([&] {
        Vantrel::rcAttrStream args;
        args.addStringValue("Parent", node.id());
        args.addStringValue("Paths",
                            VantrelCountedList::encode(VantrelLocaleToUTF8(paths)).c_str());
        addLocalHost(args);
        args.addStringValue("Fmt", VantrelNodeWire::clipFormatStream(format).c_str());
        request("SetFramePathsEx", args.getStreamStr());
    });
}

bool VantrelNodeClientAPI::getClipFormat(const VantrelNodeId& node, VantrelClipFormat& format) {
    return guarded([&] {
        const std::string reply = request("GetClipFormat", nodeIdText(node));
        if (!VantrelNodeWire::parseClipFormatText(reply, format))
            malformedReply("Invalid clip format '" + reply + "'");
    });
}

bool VantrelNodeClientAPI::getNbReadAheads(const VantrelNodeId& node, int& count) {
    return guarded([&] { count = std::atoi(request("GetNbReadAheads", nodeIdText(node)).c_str()); });
}

bool VantrelNodeClientAPI::getMetaData(const VantrelNodeId& node, const char* stream,
                                       const char* filter, int depth, std::string& data) {
    return guarded([&] {
        std::string filterText;
        if (filter != nullptr)
            filterText = std::strchr(filter, ' ') != nullptr ? escaped(filter) : filter;
        const std::string args = nodeIdText(node) + " " + VantrelLocaleToUTF8(stream) + " " +
                                 filterText + " " + std::to_string(depth);
        data = request("GetMetaData", args);
    });
}

bool VantrelNodeClientAPI::setMetaData(const VantrelNodeId& node, const char* stream,
                                       const char* data) {
    return guarded([&] {
        request("SetMetaData",
                nodeIdText(node) + " " + VantrelLocaleToUTF8(stream) + " " + escaped(data));
    });
}

bool VantrelNodeClientAPI::queryMetaDataSupport(const VantrelNodeId& node,
                                                std::vector<std::string>& streams) {
    return guarded([&] {
        streams = VantrelNodeWire::splitCommaList(request("QueryMetaDataSupport", nodeIdText(node)));
        VantrelUTF8ToLocale(streams);
    });
}

bool VantrelNodeClientAPI::getStreamId(const VantrelNodeId& node, std::string& streamId) {
    return guarded([&] { streamId = request("GetStreamId", nodeIdText(node)); });
}

bool VantrelNodeClientAPI::getStorageId(std::string& storageId) {
    return guarded([&] { storageId = request("GetStorageId", ""); });
}

bool VantrelNodeClientAPI::getVendor(std::string& vendor) {
    return guarded([&] { vendor = request("QueryNodePlugInVendor", ""); });
}

bool VantrelNodeClientAPI::getProduct(std::string& product) {
    return guarded([&] { product = request("QueryNodePlugInProduct", ""); });
}

bool VantrelNodeClientAPI::getVersion(int& major, int& minor) {
    return guarded([&] {
        const std::string reply = request("QueryNodePlugInVersion", "");
        if (!VantrelNodeWire::parseIntPair(reply, major, minor))
            malformedReply("Invalid version reply '" + reply + "'");
    });
}
