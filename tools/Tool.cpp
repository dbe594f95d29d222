#include "Tool.h"

#include <unistd.h>

#include "vantrel/CoMsg.h"

namespace vantrel_tool {

namespace {

class LibraryMessageRouter : public Vantrel::CoMsg::Router {
public:
    explicit LibraryMessageRouter(bool verbose) : verbose_(verbose) {}
    void post(const Vantrel::CoMsg& msg) const override {
        if (verbose_) Router::post(msg, stderr);
    }

private:
    const bool verbose_;
};

}  // namespace

void routeLibraryMessages(bool verbose) {
    // Never destroyed: threads of the library may still post while the process exits.
    static const LibraryMessageRouter* const router = new LibraryMessageRouter(verbose);
    Vantrel::CoMsg::setRouter(router);
}

void usageError(const std::string& text) { throw ToolFailure(EXIT_USAGE, text); }

std::string counted(long long count, const std::string& one, const std::string& several) {
    return std::to_string(count) + " " + (count == 1 ? one : several);
}

bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

namespace {

// `server` itself when the port it names, if any, is one a server can listen on.
const std::string& checkedPort(const std::string& server) {
    const int port = VantrelServerId(server.c_str()).getPort();
    if (port != 0 && (port < 1 || port > 65535))
        usageError("port " + std::to_string(port) + " of '" + server +
                   "' is out of range (1 to 65535)");
    return server;
}

}  // namespace

NodePath nodePathArgument(const std::string& text) {
    const std::optional<NodePath> path = parseNodePath(text);
    if (!path) usageError("'" + text + "' names no node (write SERVER:/display/path)");
    checkedPort(path->server);
    return *path;
}

std::string serverArgument(const std::string& text) {
    const std::string server = parseServerText(text);
    if (server.empty()) usageError("'" + text + "' names no server (write SERVER or SERVER:)");
    return checkedPort(server);
}

Tool::Tool(const ToolOptions& options, std::ostream& out) : options_(options), out_(out) {}

Tool::~Tool() {
    // Handles go before the library's initialisation does (the member order says so too).
    servers_.clear();
}

void Tool::startLibrary() {
    if (started_) return;
    if (!library_.init())
        throw ToolFailure(EXIT_UNREACHABLE, "the client library could not start its network layer");
    started_ = true;
    if (options_.timeoutSeconds > 0) VantrelClientSetCallTimeout(options_.timeoutSeconds * 1000u);
}

VantrelServerHandle& Tool::handle(const std::string& id) {
    startLibrary();
    std::unique_ptr<VantrelServerHandle>& slot = servers_[id];
    if (!slot) slot = std::make_unique<VantrelServerHandle>(id.c_str());
    return *slot;
}

VantrelServerHandle& Tool::uncheckedServer(const std::string& id) { return handle(id); }

VantrelServerHandle& Tool::server(const std::string& id) {
    VantrelServerHandle& server = handle(id);
    bool& checked = checked_[id];
    if (!checked) {
        // The first call opens the link: a failure here means there is no server to talk to.
        VantrelServerInfo info;
        if (!server.getInfo(info))
            throw ToolFailure(EXIT_UNREACHABLE,
                              "cannot reach server '" + id + "': " + server.lastError());
        checked = true;
    }
    return server;
}

VantrelNodeHandle Tool::resolve(const NodePath& path) {
    VantrelServerHandle& server = this->server(path.server);
    VantrelNodeHandle node(server, "");
    check(server.getRootNode(node), server, "reading the root of " + path.server);
    NodePath reached{path.server, {}};
    for (const std::string& name : path.components) {
        // The first child of that name, as VantrelResolveDisplayPath takes it.
        int count = 0;
        check(node.getNumChildren(count), node, "listing " + reached.text());
        VantrelNodeHandle child(server, "");
        VantrelStr childName;
        int i = 0;
        for (; i < count; ++i) {
            check(node.getChild(i, child) && child.getDisplayName(childName), node,
                  "listing " + reached.text());
            if (name == childName.c_str()) break;
        }
        if (i == count)
            throw ToolFailure(EXIT_SERVER_ERROR, "no node named '" + name + "' in " + reached.text());
        node = child;
        reached.components.push_back(name);
    }
    return node;
}

void Tool::forEachChild(VantrelNodeHandle& node, const NodePath& path,
                        const std::function<void(VantrelNodeHandle&, const NodePath&)>& visit) {
    int count = 0;
    check(node.getNumChildren(count), node, "listing " + path.text());
    for (int i = 0; i < count; ++i) {
        VantrelNodeHandle child(node.getServer(), "");
        VantrelStr name;
        check(node.getChild(i, child) && child.getDisplayName(name), node,
              "listing " + path.text());
        NodePath childPath = path;
        childPath.components.push_back(name.c_str());
        visit(child, childPath);
    }
}

void Tool::check(bool ok, const VantrelServerHandle& server, const std::string& what) const {
    if (!ok) fail(server, what);
}

void Tool::check(bool ok, const VantrelNodeHandle& node, const std::string& what) const {
    if (!ok) fail(node.getServer(), what);
}

namespace {
// How long a failed call's server has to answer before the failure counts as unreachable.
constexpr unsigned REACHABLE_PING_MS = 2000;
}  // namespace

void Tool::fail(const VantrelServerHandle& server, const std::string& what) const {
    // A server that answers with an error keeps the link open; a lost link means the server
    // went away (or the network between us did). A failure on a data connection (a frame read
    // cut by a server that stopped) leaves the shared link looking open until it is used, so
    // the server is asked once more before it is called reachable.
    const std::string error = server.lastError();
    const bool reachable = server.isConnected() && server.ping(REACHABLE_PING_MS);
    throw ToolFailure(reachable ? EXIT_SERVER_ERROR : EXIT_UNREACHABLE, what + ": " + error);
}

std::string Tool::dumpJson(const nlohmann::json& value, int indent) {
    return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

void Tool::print(const nlohmann::json& document,
                 const std::function<void(std::ostream&)>& human) {
    std::lock_guard<std::mutex> guard(outLock_);
    if (options_.json)
        out_ << dumpJson(document, 2) << '\n';
    else
        human(out_);
    out_.flush();
}

void Tool::writeLine(const std::string& line) {
    std::lock_guard<std::mutex> guard(outLock_);
    out_ << line << '\n';
    out_.flush();
}

}  // namespace vantrel_tool
