// What the web view serves, as JSON documents and images, apart from HTTP (WebServer.h): the
// servers (named on the command line, and those discovery finds), the children of a node a
// page at a time, a node's details, thumbnails of frames, and the changes a page may ask for.
//
// Servers are those listed by servers(): any other server id is refused, so the view never
// connects where its user did not point it. Nodes are named by their server and node id (the
// root by the empty id).
//
// Every folder or clip a page has looked at (children, node) is watched: its node events go to
// the EventFeed as "node" messages, {"server", "node", "type", "details"}, and a change of the
// discovered servers as a "servers" message. At most MAX_WATCHED_NODES nodes are watched.
//
// Failure: ApiError with the HTTP status that fits (400 wrong request, 403 changes not allowed,
// 404 unknown server or node, 409 a change the server refused, 422 a frame that is no image,
// 502 server unreachable) and a one-line text.
// Threads: every member may be called from any thread; library calls are made one at a time.
// Event handlers run on the library's event thread and touch only the feed and the cache.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "../Tool.h"
#include "EventFeed.h"
#include "FrameThumbnail.h"
#include "ThumbnailCache.h"

namespace vantrel_web {

class ApiError : public std::runtime_error {
public:
    ApiError(int status, const std::string& text) : std::runtime_error(text), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

constexpr int DEFAULT_PAGE_SIZE = 100;
constexpr int MAX_PAGE_SIZE = 1000;
constexpr size_t MAX_WATCHED_NODES = 4096;
constexpr size_t THUMBNAIL_CACHE_BYTES = size_t(64) << 20;

struct WebApiOptions {
    std::vector<std::string> namedServers;
    bool discovery = true;
    bool allowChanges = false;
};

class WebApi {
public:
    // `tool` is not owned and must outlive the object; nor is `feed`.
    WebApi(vantrel_tool::Tool& tool, EventFeed& feed, const WebApiOptions& options);
    // Stops watching every node.
    ~WebApi();
    WebApi(const WebApi&) = delete;
    WebApi& operator=(const WebApi&) = delete;

    bool allowsChanges() const { return options_.allowChanges; }

    // {"servers": [{"server", "displayName", "database", "named", "reachable"}...]}
    nlohmann::json servers();
    // Asks discovery again and publishes "servers" when the list changed (a timer calls it).
    void refreshDiscovery();

    // {"server", "id", "name", "type", "clip", "children", ["format", "frames"],
    //  "streams": [{"name", "text"}...]}
    nlohmann::json node(const std::string& server, const std::string& id);
    // {"server", "id", "total", "offset", "children": [{"name", "id", "type", "clip",
    //  ["frames", "format"]}...]}; `limit` 1..MAX_PAGE_SIZE.
    nlohmann::json children(const std::string& server, const std::string& id, long long offset,
                            long long limit);
    // Frame `index` of a clip as an image (from the cache when there).
    std::shared_ptr<const std::string> thumbnail(const std::string& server, const std::string& id,
                                                 long long index, int width, ThumbnailKind kind);

    // Changes (403 unless allowed): each returns the changed (or created) node as node() does,
    // destroy() {"destroyed": id}.
    nlohmann::json createFolder(const std::string& server, const std::string& parent,
                                const std::string& name, const std::string& type);
    nlohmann::json rename(const std::string& server, const std::string& id, const std::string& name);
    nlohmann::json destroy(const std::string& server, const std::string& id);
    nlohmann::json setMetaData(const std::string& server, const std::string& id,
                               const std::string& stream, const std::string& text);

private:
    class ServerEvents;

    void requireChanges() const;
    VantrelServerHandle& knownServer(const std::string& server);
    VantrelNodeHandle nodeOf(const std::string& server, const std::string& id);
    nlohmann::json details(const std::string& server, VantrelNodeHandle& node);
    nlohmann::json summaryOf(VantrelNodeHandle& node, const std::string& where);
    void watch(const std::string& server, const VantrelNodeHandle& node);
    std::set<std::string> discoveredServers();
    std::vector<unsigned char> readFrame(const std::string& server, const std::string& id,
                                         long long index, VantrelClipFormat& format);
    template <typename Call>
    auto guarded(const std::string& what, int serverErrorStatus, Call call) -> decltype(call());

    vantrel_tool::Tool& tool_;
    EventFeed& feed_;
    const WebApiOptions options_;
    ThumbnailCache thumbnails_{THUMBNAIL_CACHE_BYTES};

    std::mutex discoveryLock_;
    std::unique_ptr<VantrelServerList> discovery_;                    // guarded by discoveryLock_
    std::recursive_mutex libraryLock_;
    std::set<std::string> discovered_;                                // guarded by libraryLock_
    std::map<std::string, nlohmann::json> discoveredInfo_;            // guarded by libraryLock_
    std::map<std::string, std::unique_ptr<ServerEvents>> handlers_;   // guarded by libraryLock_
    std::set<std::pair<std::string, std::string>> watched_;           // guarded by libraryLock_
};

}  // namespace vantrel_web
