// The Python Node: a node handle on a server's handle, with the server kept alive.
//
// The handle caches what it learns (name, type, clip format, frame ids); list-valued
// properties (children, frame ids, metadata stream names) are read through a fresh handle each
// time, so they show what the server holds now. refresh() drops the caches.
// Threads: every use of the handle runs under the server's call mutex (callServer).
#pragma once

#include "Binding.h"

namespace vantrel_python {

struct Node {
    Node(ServerPtr server, const VantrelNodeHandle& handle);

    ServerPtr server;
    VantrelNodeHandle handle;
};

Node rootNode(const ServerPtr& server);
Node resolvePath(const ServerPtr& server, const std::string& path);

}  // namespace vantrel_python
