#include "vantrel/client/api/VantrelDisplayPath.h"

#include <cstring>

#include "vantrel/VantrelNodeHandle.h"
#include "vantrel/client/api/VantrelNodeImp.h"
#include "vantrel/VantrelServerHandle.h"
#include "vantrel/client/api/VantrelServerImp.h"

std::string VantrelCleanDisplayPath(const char* path) {
    if (path == nullptr) return std::string();
    std::string generic(path);
    for (char& c : generic)
        if (c == '\\') c = '/';
    std::string clean;
    if (!generic.empty() && generic.front() == '/') clean += '/';
    bool first = true;
    for (const std::string& part : VantrelDisplayPathComponents(generic)) {
        if (part == ".") continue;
        if (!first) clean += '/';
        clean += part;
        first = false;
    }
    if (!first && generic.back() == '/') clean += '/';
    return clean;
}

std::vector<std::string> VantrelDisplayPathComponents(const std::string& path) {
    std::vector<std::string> components;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (slash > start) components.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return components;
}

bool VantrelFindChild(const VantrelNodeHandle& parent, const char* name, VantrelNodeHandle& child) {
    VantrelServerImp* server = parent.getServer().imp();
    if (name == nullptr) {
        server->setLastError("No child name given");
        return false;
    }
    // Private copies: `parent` keeps its caches as they are, and `child` (which may be
    // `parent`) changes only when the search succeeds.
    VantrelNodeHandle searched(parent);
    VantrelNodeHandle candidate(parent.getServer(), VantrelNodeId());
    int count = 0;
    if (!searched.getNumChildren(count)) return false;
    for (int i = 0; i < count; ++i) {
        VantrelStr displayName;
        if (!searched.getChild(i, candidate) || !candidate.getDisplayName(displayName))
            return false;
        if (std::strcmp(displayName.c_str(), name) == 0) {
            child = candidate;
            return true;
        }
    }
    server->setLastError("No child named '" + std::string(name) + "'");
    return false;
}

bool VantrelResolveDisplayPath(const VantrelServerHandle& server, const char* path,
                               VantrelNodeHandle& node) {
    const std::string clean = VantrelCleanDisplayPath(path);
    // Resolved on a private handle: `node` changes only when the whole path is found.
    VantrelNodeHandle current(node);
    // Without the root there is nothing to resolve from: that is a failure, with the server
    // handle's reason.
    if (!server.getRootNode(current)) return false;
    for (const std::string& component : VantrelDisplayPathComponents(clean))
        if (!VantrelFindChild(current, component.c_str(), current)) return false;
    node = current;
    return true;
}
