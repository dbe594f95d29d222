// What the node store tells about each change it made: the node, its parent, what happened
// and a few named details. The event service turns these into the "NodeEvent" calls of the
// clients that registered for the node or its parent (see EventService.h for the words used).
//
// Threads: the store calls its observer on the thread that made the change, after the change
// is on disk; an observer must not block and must not call back into the store.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vantreld {

struct NodeChange {
    typedef std::vector<std::pair<std::string, std::string>> Details;

    std::string nodeId;
    std::string parentId;  // empty for the root
    std::string type;      // "Created", "Renamed", "Destroyed", ... (EventService.h)
    Details details;
    // For "Destroyed": the nodes that went with it (descendants), nearest first.
    std::vector<std::string> descendants;
};

class NodeObserver {
public:
    virtual ~NodeObserver() = default;
    virtual void nodeChanged(const NodeChange& change) = 0;
};

}  // namespace vantreld
