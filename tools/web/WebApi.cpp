#include "WebApi.h"

#include "../AttributeText.h"
#include "../ClipFrames.h"
#include "../NodeFacts.h"

namespace vantrel_web {

using nlohmann::json;
using vantrel_tool::ToolFailure;

namespace {

// The most of one metadata stream a node's details show.
constexpr size_t MAX_STREAM_TEXT = 64 * 1024;

// ADDRESS:PORT ([ADDRESS]:PORT for IPv6): the id that connects to a found server directly.
std::string directId(const VantrelServerInfo& info) {
    const VantrelServerId id = info.getId();
    return VantrelServerId(id.getPort(), id.getIPAddr()).getId();
}

json serverJson(const std::string& server, const VantrelServerInfo& info, bool named) {
    return {{"server", server},           {"displayName", info.getDisplayName()},
            {"database", info.getDatabase()}, {"hostname", info.getHostname()},
            {"named", named},             {"reachable", true}};
}

}  // namespace

// Runs on the library's event thread: hands each event of one server to the feed and drops the
// thumbnails it may have made stale.
class WebApi::ServerEvents : public VantrelNodeEvent::Handler {
public:
    ServerEvents(std::string server, EventFeed& feed, ThumbnailCache& thumbnails)
        : server_(std::move(server)), feed_(feed), thumbnails_(thumbnails) {}

    void handleEvent(const VantrelNodeEvent& event) override {
        const std::string node = event.getNodeId().id();
        json details = json::object();
        for (const auto& pair : vantrel_tool::readAttributeText(event.getDetails().getStream()))
            details[pair.first] = pair.second;
        thumbnails_.forget(server_, node);
        if (details.contains("Child")) thumbnails_.forget(server_, details["Child"].get<std::string>());
        feed_.publish("node", {{"server", server_},
                               {"node", node},
                               {"type", event.getType().c_str()},
                               {"details", details}});
    }

private:
    const std::string server_;
    EventFeed& feed_;
    ThumbnailCache& thumbnails_;
};

WebApi::WebApi(vantrel_tool::Tool& tool, EventFeed& feed, const WebApiOptions& options)
    : tool_(tool), feed_(feed), options_(options) {}

WebApi::~WebApi() {
    std::lock_guard<std::recursive_mutex> guard(libraryLock_);
    for (const auto& node : watched_) {
        try {
            tool_.uncheckedServer(node.first)
                .unregisterEventHandler(VantrelNodeId(node.second.c_str()),
                                        handlers_.at(node.first).get());
        } catch (const std::exception&) {
            // The process is on its way out; the library drops what is left.
        }
    }
}

template <typename Call>
auto WebApi::guarded(const std::string& what, int serverErrorStatus, Call call) -> decltype(call()) {
    std::lock_guard<std::recursive_mutex> guard(libraryLock_);
    try {
        return call();
    } catch (const ToolFailure& failure) {
        const int status = failure.status() == vantrel_tool::EXIT_UNREACHABLE ? 502
                           : failure.status() == vantrel_tool::EXIT_USAGE     ? 400
                                                                              : serverErrorStatus;
        throw ApiError(status, what + ": " + failure.what());
    }
}

void WebApi::requireChanges() const {
    if (!options_.allowChanges)
        throw ApiError(403, "changes are not allowed (start the web view with --allow-changes)");
}

VantrelServerHandle& WebApi::knownServer(const std::string& server) {
    const auto& named = options_.namedServers;
    if (std::find(named.begin(), named.end(), server) == named.end() && discovered_.count(server) == 0)
        throw ApiError(404, "unknown server '" + server + "'");
    return tool_.server(server);
}

VantrelNodeHandle WebApi::nodeOf(const std::string& server, const std::string& id) {
    VantrelServerHandle& handle = knownServer(server);
    VantrelNodeHandle node(handle, "");
    if (id.empty())
        tool_.check(handle.getRootNode(node), handle, "reading the root of " + server);
    else
        node.setNodeId(VantrelNodeId(id.c_str()));
    return node;
}

json WebApi::servers() {
    std::lock_guard<std::recursive_mutex> guard(libraryLock_);
    json list = json::array();
    for (const std::string& server : options_.namedServers) {
        VantrelServerInfo info;
        bool reachable = false;
        try {
            reachable = tool_.uncheckedServer(server).getInfo(info);
        } catch (const ToolFailure&) {
        }
        json entry = serverJson(server, info, true);
        entry["reachable"] = reachable;
        if (!reachable) entry["displayName"] = server;
        list.push_back(entry);
    }
    for (const auto& found : discoveredInfo_)
        if (std::find(options_.namedServers.begin(), options_.namedServers.end(), found.first) ==
            options_.namedServers.end())
            list.push_back(found.second);
    return {{"servers", list}};
}

void WebApi::refreshDiscovery() {
    if (!options_.discovery) return;
    std::map<std::string, json> found;
    {
        // Searching may wait for answers: not under the lock every request takes.
        std::lock_guard<std::mutex> guard(discoveryLock_);
        tool_.startLibrary();
        if (!discovery_) discovery_ = std::make_unique<VantrelServerList>("");
        int count = 0;
        if (!discovery_->getNumNodes(count)) return;
        for (int i = 0; i < count; ++i) {
            VantrelServerInfo info;
            if (!discovery_->getNode(i, info)) continue;
            const std::string id = directId(info);
            found[id] = serverJson(id, info, false);
        }
        discovery_->refresh();
    }
    std::lock_guard<std::recursive_mutex> guard(libraryLock_);
    if (found == discoveredInfo_) return;
    discoveredInfo_ = found;
    discovered_.clear();
    for (const auto& entry : found) discovered_.insert(entry.first);
    feed_.publish("servers", servers());
}

void WebApi::watch(const std::string& server, const VantrelNodeHandle& node) {
    const std::pair<std::string, std::string> key{server, node.getNodeId().id()};
    if (watched_.count(key) != 0 || watched_.size() >= MAX_WATCHED_NODES) return;
    std::unique_ptr<ServerEvents>& handler = handlers_[server];
    if (!handler) handler = std::make_unique<ServerEvents>(server, feed_, thumbnails_);
    // Events are a convenience: a server that refuses them still browses.
    if (tool_.server(server).registerEventHandler(node.getNodeId(), handler.get()))
        watched_.insert(key);
}

json WebApi::summaryOf(VantrelNodeHandle& node, const std::string& where) {
    return vantrel_tool::toJson(vantrel_tool::readNodeFacts(tool_, node, where));
}

json WebApi::details(const std::string& server, VantrelNodeHandle& node) {
    const std::string where = "node '" + std::string(node.getNodeId().id()) + "'";
    json result = summaryOf(node, where);
    result["server"] = server;
    int children = 0;
    tool_.check(node.getNumChildren(children), node, "listing " + where);
    result["children"] = children;
    json streams = json::array();
    for (const json& name : vantrel_tool::readStreamNames(tool_, node, where)) {
        VantrelStr data;
        const std::string stream = name.get<std::string>();
        tool_.check(node.getMetaData(stream.c_str(), nullptr, 0, data), node,
                    "reading '" + stream + "' of " + where);
        std::string text = data.c_str();
        const bool truncated = text.size() > MAX_STREAM_TEXT;
        if (truncated) text.resize(MAX_STREAM_TEXT);
        streams.push_back({{"name", stream}, {"text", text}, {"truncated", truncated}});
    }
    result["streams"] = streams;
    return result;
}

json WebApi::node(const std::string& server, const std::string& id) {
    return guarded("reading node '" + id + "'", 404, [&] {
        VantrelNodeHandle node = nodeOf(server, id);
        json result = details(server, node);
        watch(server, node);
        return result;
    });
}

json WebApi::children(const std::string& server, const std::string& id, long long offset,
                      long long limit) {
    if (offset < 0) throw ApiError(400, "offset must not be negative");
    if (limit < 1 || limit > MAX_PAGE_SIZE)
        throw ApiError(400, "limit must be 1 to " + std::to_string(MAX_PAGE_SIZE));
    return guarded("listing node '" + id + "'", 404, [&] {
        VantrelNodeHandle node = nodeOf(server, id);
        int total = 0;
        tool_.check(node.getNumChildren(total), node, "listing node '" + id + "'");
        json rows = json::array();
        for (long long i = offset; i < std::min<long long>(total, offset + limit); ++i) {
            VantrelNodeHandle child(node.getServer(), "");
            tool_.check(node.getChild(static_cast<int>(i), child), node, "listing node '" + id + "'");
            rows.push_back(summaryOf(child, "child " + std::to_string(i) + " of '" + id + "'"));
        }
        watch(server, node);
        return json{{"server", server},   {"id", node.getNodeId().id()}, {"total", total},
                    {"offset", offset},   {"children", rows}};
    });
}

std::vector<unsigned char> WebApi::readFrame(const std::string& server, const std::string& id,
                                             long long index, VantrelClipFormat& format) {
    return guarded("reading frame " + std::to_string(index) + " of '" + id + "'", 404, [&] {
        VantrelNodeHandle node = nodeOf(server, id);
        vantrel_tool::ClipReader reader(tool_, node);
        if (index < 0 || static_cast<size_t>(index) >= reader.frameCount())
            throw ApiError(404, "node '" + id + "' has no frame " + std::to_string(index));
        format = reader.format();
        watch(server, node);  // a frame written later must drop the cached thumbnails
        std::vector<unsigned char> frame;
        reader.read(vantrel_tool::FrameSelection::parse(std::to_string(index), reader.frameCount()),
                    [&](size_t, const std::vector<unsigned char>& bytes) { frame = bytes; });
        return frame;
    });
}

std::shared_ptr<const std::string> WebApi::thumbnail(const std::string& server,
                                                     const std::string& id, long long index,
                                                     int width, ThumbnailKind kind) {
    const std::string variant = std::to_string(index) + "/" + std::to_string(width) +
                                (kind == ThumbnailKind::PNG ? "/png" : "/jpeg");
    if (auto cached = thumbnails_.find(server, id, variant)) return cached;
    VantrelClipFormat format;
    const std::vector<unsigned char> frame = readFrame(server, id, index, format);
    std::shared_ptr<const std::string> image;
    try {
        // Converting takes the longest: outside the lock, so other requests go on.
        image = std::make_shared<const std::string>(
            encodeThumbnail(format, frame.data(), frame.size(), width, kind));
    } catch (const vantrel_tool::ImageError& error) {
        throw ApiError(422, error.what());
    }
    thumbnails_.store(server, id, variant, image);
    return image;
}

json WebApi::createFolder(const std::string& server, const std::string& parent,
                          const std::string& name, const std::string& type) {
    requireChanges();
    if (name.empty()) throw ApiError(400, "a new node needs a name");
    return guarded("creating '" + name + "'", 409, [&] {
        VantrelNodeHandle node = nodeOf(server, parent);
        VantrelNodeHandle child(node.getServer(), "");
        tool_.check(node.createNode(name.c_str(), type.empty() ? "FOLDER" : type.c_str(), child),
                    node, "creating '" + name + "'");
        return details(server, child);
    });
}

json WebApi::rename(const std::string& server, const std::string& id, const std::string& name) {
    requireChanges();
    if (name.empty()) throw ApiError(400, "a node needs a name");
    return guarded("renaming node '" + id + "'", 409, [&] {
        VantrelNodeHandle node = nodeOf(server, id);
        tool_.check(node.renameNode(name.c_str()), node, "renaming node '" + id + "'");
        return details(server, node);
    });
}

json WebApi::destroy(const std::string& server, const std::string& id) {
    requireChanges();
    if (id.empty()) throw ApiError(400, "the root of a server cannot be destroyed");
    return guarded("destroying node '" + id + "'", 409, [&] {
        VantrelNodeHandle node = nodeOf(server, id);
        tool_.check(node.destroyNode(), node, "destroying node '" + id + "'");
        return json{{"destroyed", id}};
    });
}

json WebApi::setMetaData(const std::string& server, const std::string& id,
                         const std::string& stream, const std::string& text) {
    requireChanges();
    if (stream.empty()) throw ApiError(400, "a metadata stream needs a name");
    return guarded("writing '" + stream + "' of node '" + id + "'", 409, [&] {
        VantrelNodeHandle node = nodeOf(server, id);
        tool_.check(node.setMetaData(stream.c_str(), text.c_str()), node,
                    "writing '" + stream + "' of node '" + id + "'");
        return details(server, node);
    });
}

}  // namespace vantrel_web
