// The node methods of the server, in their old and their attribute-stream forms, on a
// NodeStore. Each decodes exactly the argument text clients send and answers in the form they
// read:
//
//   GetRootNode          ""                                   root id
//   GetParentNode        stream Node                          parent id ("" for the root)
//   CreateNode           PARENT "NAME" INT TYPE + clip format text form (11 words)  new id
//   CreateNodeEx         stream Parent Displ Type [ExType] [Fmt]                   new id
//   CanCreateNode        stream Node ExtendedType             "TRUE" or "FALSE"
//   RenameNode           stream Node Displ                    the id (ids never change)
//   DestroyNode          ID                                   ""
//   GetNodeType          ID                                   "CLIPFLAG NUMBER"
//   GetNodeTypeStr       ID                                   type text
//   GetDisplayName(Ex)   ID                                   display name (UTF-8)
//   GetClipFormat        ID                                   clip format text form
//   GetNbReadAheads      ID                                   number
//   GetChildren          ID                                   "ID,NAME,ID,NAME..."
//   GetChildrenEx        ID                                   stream "0", "1"...: each a stream
//                                                             with Id and Displ
//   AllocateFrames       ID COUNT                             comma list of frame ids
//   AllocateFramesEx     stream Node NumFrames [Fmt]          counted list of frame ids
//   GetFrames(Ex)        ID / stream Node                     comma / counted list
//   SetFramePaths        ID HOST OSTYPE OSVERSION PATH,PATH   ""
//   SetFramePathsEx      stream Parent Paths HostName OSType OSVersion [Fmt]   ""
//   GetFramePaths        ID HOST OSTYPE "OSVERSION"           comma list of paths
//   GetFramePathsEx      stream Parent HostName OSType OSVersion               counted list
//   GetMetaData          ID STREAM FILTER DEPTH               the stream's text
//   SetMetaData          ID STREAM "DATA"                     ""
//   QueryMetaDataSupport ID                                   comma list of stream names
//   GetStreamId          ID                                   "stream-SERIAL"
//   GetStorageId, QueryNodePlugInVendor, QueryNodePlugInProduct, QueryNodePlugInVersion
//
// An ID is a node id as it stands, or quoted (ids with spaces). Frame paths are kept as the
// linking host sent them and translated for the asking host (ServerSettings). Filter and
// depth of "GetMetaData" do not narrow the answer: a stream is returned whole.
// Client requests create only what the parent/child table of NodeTypes allows.
//
// Errors (thrown as ServerError, answered as error replies): an unknown node id, a malformed
// argument, an unknown type, a type the parent cannot hold, a name clash, frames on a node
// that is not a clip. The store is left unchanged by a failed request.
//
// Replies for long lists are built in one reserved text, in time linear in their size.
// Threads: as the store (one thread).
#pragma once

#include <string>
#include <vector>

#include "vantrel/VantrelClipFormat.h"
#include "vantrel/server/MethodDispatcher.h"

namespace vantreld {

class NodeStore;
struct ServerSettings;
struct Node;

class NodeMethods {
public:
    static constexpr const char* VENDOR = "Vantrel";
    static constexpr const char* PRODUCT = "vantreld";
    static constexpr int PRODUCT_MAJOR = 1;
    static constexpr int PRODUCT_MINOR = 0;

    // Neither is owned; both must outlive this object and the dispatcher it registers with.
    NodeMethods(NodeStore& store, const ServerSettings& settings);
    void registerWith(MethodDispatcher& dispatcher);

    // The two children replies, also used by the listing benchmark.
    static std::string childrenText(const Node& node);
    static std::string childrenStream(const Node& node);

private:
    std::string createNode(const std::string& parentId, const std::string& name,
                           const std::string& typeText, const VantrelClipFormat& format);
    const Node& clipNode(const std::string& id) const;
    std::string getMetaData(const std::string& args) const;
    std::string setMetaData(const std::string& args);
    std::string setFramePaths(const std::string& args);
    std::string getFramePaths(const std::string& args) const;
    // The node's frame paths as seen from `host` running `osType` (translated by the
    // settings); the second gives them as the counted list that answers "GetFramePathsEx",
    // written path by path without a list of strings in between.
    std::vector<std::string> framePathsFor(const Node& node, const std::string& host,
                                           int osType) const;
    std::string countedFramePathsFor(const Node& node, const std::string& host,
                                     int osType) const;
    std::string translatedPath(const Node& node, const std::string& path, const std::string& host,
                               int osType) const;
    void registerOldForms(MethodDispatcher& dispatcher);
    void registerStreamForms(MethodDispatcher& dispatcher);
    void registerNodeQueries(MethodDispatcher& dispatcher);

    NodeStore& store_;
    const ServerSettings& settings_;
};

}  // namespace vantreld
