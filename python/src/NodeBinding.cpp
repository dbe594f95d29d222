// Node: the tree, its changes, metadata and frames.
#include <pybind11/stl.h>

#include <optional>
#include <vector>

#include "Frames.h"
#include "Node.h"
#include "NodePath.h"

namespace vantrel_python {

namespace {

// A handle on the same node without caches, for answers that must be current.
VantrelNodeHandle freshHandle(const Node& node) {
    return VantrelNodeHandle(node.server->handle, node.handle.getNodeId());
}

std::string nodeId(Node& node) {
    std::string id;
    callServer(*node.server, [&] {
        id = node.handle.getNodeId().id();
        return true;
    });
    return id;
}

std::string nodeText(Node& node, bool (VantrelNodeHandle::*get)(VantrelStr&) const) {
    VantrelStr text;
    callServer(*node.server, [&] { return (node.handle.*get)(text); });
    return text.c_str();
}

VantrelClipFormat clipFormat(Node& node) { return clipFormatOf(*node.server, node.handle); }

int numFrames(Node& node) {
    int count = 0;
    callServer(*node.server, [&] { return freshHandle(node).getNumFrames(count); });
    return count;
}

// Node('NAME', TYPE, id='ID'); the id alone when the server cannot tell the rest.
std::string describe(Node& node) {
    const std::string id = nodeId(node);
    try {
        const std::string name = nodeText(node, &VantrelNodeHandle::getDisplayName);
        const std::string type = nodeText(node, &VantrelNodeHandle::getNodeTypeStr);
        return "Node(" + py::repr(py::str(name)).cast<std::string>() + ", " + type + ", id=" +
               py::repr(py::str(id)).cast<std::string>() + ")";
    } catch (const Failure&) {
        return "Node(id=" + py::repr(py::str(id)).cast<std::string>() + ")";
    }
}

std::vector<Node> children(Node& node) {
    std::vector<VantrelNodeHandle> found;
    callServer(*node.server, [&] {
        VantrelNodeHandle fresh = freshHandle(node);
        int count = 0;
        if (!fresh.getNumChildren(count)) return false;
        found.resize(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            if (!fresh.getChild(i, found[static_cast<size_t>(i)])) return false;
        return true;
    });
    std::vector<Node> nodes;
    for (const VantrelNodeHandle& child : found) nodes.emplace_back(node.server, child);
    return nodes;
}

// None for the root, whose parent is the empty id.
std::optional<Node> parent(Node& node) {
    VantrelNodeHandle parent;
    callServer(*node.server, [&] { return node.handle.getParentNode(parent); });
    if (*parent.getNodeId().id() == '\0') return std::nullopt;
    return Node(node.server, parent);
}

// Texts 0 to count - 1 of a fresh handle on `node`: count(handle, n), item(handle, i, text).
template <class Count, class Item>
std::vector<std::string> freshTexts(Node& node, Count count, Item item) {
    std::vector<std::string> texts;
    callServer(*node.server, [&] {
        texts.clear();
        VantrelNodeHandle fresh = freshHandle(node);
        int n = 0;
        if (!count(fresh, n)) return false;
        for (int i = 0; i < n; ++i) {
            VantrelStr text;
            if (!item(fresh, i, text)) return false;
            texts.emplace_back(text.c_str());
        }
        return true;
    });
    return texts;
}

std::vector<std::string> frameIds(Node& node) {
    return freshTexts(
        node, [](VantrelNodeHandle& h, int& n) { return h.getNumFrames(n); },
        [](VantrelNodeHandle& h, int i, VantrelStr& id) { return h.getFrameId(i, id); });
}

Node create(Node& node, const std::string& name, const std::string& type,
            std::optional<VantrelClipFormat> format) {
    refuseNul(name, "name");
    refuseNul(type, "type");
    VantrelNodeHandle child;
    callServer(*node.server, [&] {
        if (format) return node.handle.createClipNode(name.c_str(), *format, type.c_str(), child);
        return node.handle.createNode(name.c_str(), type.c_str(), child);
    });
    return Node(node.server, child);
}

void allocateFrames(Node& node, unsigned int count) {
    callServer(*node.server, [&] { return node.handle.setNumFrames(count); });
}

void rename(Node& node, const std::string& name) {
    refuseNul(name, "name");
    callServer(*node.server, [&] { return node.handle.renameNode(name.c_str()); });
}

void destroy(Node& node) {
    callServer(*node.server, [&] { return node.handle.destroyNode(); });
}

void refresh(Node& node) {
    callServer(*node.server, [&] {
        node.handle = freshHandle(node);
        return true;
    });
}

std::string getMetadata(Node& node, const std::string& stream, std::optional<std::string> filter,
                        int depth) {
    refuseNul(stream, "stream");
    if (filter) refuseNul(*filter, "filter");
    VantrelStr data;
    callServer(*node.server, [&] {
        return node.handle.getMetaData(stream.c_str(), filter ? filter->c_str() : nullptr, depth,
                                       data);
    });
    return data.c_str();
}

void setMetadata(Node& node, const std::string& stream, const std::string& data) {
    refuseNul(stream, "stream");
    refuseNul(data, "metadata");
    callServer(*node.server, [&] { return node.handle.setMetaData(stream.c_str(), data.c_str()); });
}

std::vector<std::string> metadataStreams(Node& node) {
    return freshTexts(
        node, [](VantrelNodeHandle& h, int& n) { return h.getNumAvailableMetaDataStreams(n); },
        [](VantrelNodeHandle& h, int i, VantrelStr& name) {
            return h.getAvailableMetaDataStream(i, name);
        });
}

bool sameNode(Node& a, Node& b) {
    return a.server == b.server && nodeId(a) == nodeId(b);
}

}  // namespace

Node::Node(ServerPtr server, const VantrelNodeHandle& handle) : server(std::move(server)), handle(handle) {}

Node rootNode(const ServerPtr& server) {
    VantrelNodeHandle root;
    callServer(*server, [&] { return server->handle.getRootNode(root); });
    return Node(server, root);
}

// Paths are written as the vantrel tool writes them: a backslash before "/" or "\\" puts that
// character inside a name. A path without those goes to the library's own resolution, as it
// always did.
Node resolvePath(const ServerPtr& server, const std::string& path) {
    refuseNul(path, "path");
    VantrelNodeHandle node;
    if (path.find("\\/") == std::string::npos && path.find("\\\\") == std::string::npos) {
        callServer(*server, [&] { return VantrelResolveDisplayPath(server->handle, path.c_str(), node); });
        return Node(server, node);
    }
    callServer(*server, [&] { return server->handle.getRootNode(node); });
    for (const std::string& name : vantrel_tool::splitDisplayPath(path))
        callServer(*server, [&] { return VantrelFindChild(node, name.c_str(), node); });
    return Node(server, node);
}

void bindNodes(py::module_& module) {
    py::class_<Node>(module, "Node", "One node of a server's tree.")
        .def_property_readonly("id", &nodeId)
        .def_property_readonly("server", [](Node& node) { return node.server; })
        .def_property_readonly("name", [](Node& n) { return nodeText(n, &VantrelNodeHandle::getDisplayName); })
        .def_property_readonly("type", [](Node& n) { return nodeText(n, &VantrelNodeHandle::getNodeTypeStr); })
        .def_property_readonly("clip_format", &clipFormat)
        .def_property_readonly("children", &children)
        .def_property_readonly("parent", &parent)
        .def_property_readonly("frame_ids", &frameIds)
        .def("create", &create, py::arg("name"), py::arg("type") = "FOLDER",
             py::arg("format") = py::none())
        .def("allocate_frames", &allocateFrames, py::arg("count"))
        .def("rename", &rename, py::arg("name"))
        .def("destroy", &destroy)
        .def("refresh", &refresh)
        .def("get_metadata", &getMetadata, py::arg("stream"), py::arg("filter") = py::none(),
             py::arg("depth") = 0)
        .def("set_metadata", &setMetadata, py::arg("stream"), py::arg("data"))
        .def("metadata_streams", &metadataStreams)
        .def("read_frame",
             [](Node& node, int index, py::object out) {
                 if (out.is_none()) return readFrame(*node.server, node.handle, index);
                 return readFrameInto(*node.server, node.handle, index, out);
             },
             py::arg("index"), py::kw_only(), py::arg("out") = py::none())
        .def("write_frame",
             [](Node& node, int index, py::object data) { writeFrame(*node.server, node.handle, index, data); },
             py::arg("index"), py::arg("data"))
        .def("__eq__", &sameNode, py::is_operator())
        .def("__hash__", [](Node& node) { return py::hash(py::str(nodeId(node))); })
        .def_property_readonly("num_frames", &numFrames, "The number of frames of the clip.")
        .def("__repr__", &describe);
}

}  // namespace vantrel_python
