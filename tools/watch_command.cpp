// vantrel watch SERVER:/path [-r]: prints the events of a node (with -r, of the node and
// every node under it) as they come, until interrupted (Ctrl-C, SIGTERM), --count events or
// the node's own destruction; with --json one object per line.
//
// With -r each node of the subtree is registered on its own. A "ChildCreated" of a watched
// node brings the new node in (with whatever is under it by the time it is registered); a
// node's "Destroyed" takes it out (the server drops its registrations itself) and "Renamed"
// renames the paths printed for it and under it. The other "Child..." events repeat what the
// child's own registration reports and are left out. Lines then start with the node's path.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "AttributeText.h"
#include "ToolCommands.h"

namespace vantrel_tool {

namespace {

struct WatchOptions {
    std::string path;
    int count = 0;
    bool recursive = false;
};

// Wakes the waiting main thread: written by the signal handler and by the event handler.
int wakeWriteFd = -1;

// What a byte on the wake pipe asks of the main thread.
constexpr char STOP = 's';
constexpr char NEW_NODES = 'n';

void wake(char what) {
    if (::write(wakeWriteFd, &what, 1) < 0) {
        // A full pipe wakes the reader anyway.
    }
}

void wakeOnSignal(int) { wake(STOP); }

// The event a node receives when it is destroyed itself (its parent gets "ChildDestroyed").
const char* const DESTROYED = "Destroyed";
const char* const RENAMED = "Renamed";
const char* const CHILD_CREATED = "ChildCreated";

using Details = std::vector<std::pair<std::string, std::string>>;

std::string detail(const Details& details, const std::string& name) {
    for (const auto& pair : details)
        if (pair.first == name) return pair.second;
    return "";
}

// The nodes a recursive watch follows, by id, with their paths; shared by the event thread
// (which learns of new, renamed and destroyed nodes) and the main thread (which registers
// the new ones).
class WatchedTree {
public:
    void add(const std::string& id, const NodePath& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        paths_[id] = path;
    }
    std::optional<NodePath> pathOf(const std::string& id) const {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = paths_.find(id);
        if (found == paths_.end()) return std::nullopt;
        return found->second;
    }
    // The node `id` is now called `name`: its path and the paths under it change.
    void rename(const std::string& id, const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = paths_.find(id);
        if (found == paths_.end() || found->second.isRoot()) return;
        const std::vector<std::string> old = found->second.components;
        for (auto& entry : paths_) {
            std::vector<std::string>& components = entry.second.components;
            if (components.size() >= old.size() &&
                std::equal(old.begin(), old.end(), components.begin()))
                components[old.size() - 1] = name;
        }
    }
    void remove(const std::string& id) {
        std::lock_guard<std::mutex> lock(mutex_);
        paths_.erase(id);
    }
    std::vector<std::string> ids() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> all;
        for (const auto& entry : paths_) all.push_back(entry.first);
        return all;
    }
    // A node created under a watched one, for the main thread to register.
    void queueNew(const std::string& id, const NodePath& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        created_.emplace_back(id, path);
    }
    std::vector<std::pair<std::string, NodePath>> takeNew() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(created_);
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, NodePath> paths_;
    std::vector<std::pair<std::string, NodePath>> created_;
};

// Runs on the library's event thread: one line per event, flushed at once.
class EventPrinter : public VantrelNodeEvent::Handler {
public:
    // `tree` (not owned) is the recursive watch's nodes, or null to watch `path` alone.
    EventPrinter(Tool& tool, const NodePath& path, const std::string& rootId, int count,
                 WatchedTree* tree)
        : tool_(tool), path_(path), rootId_(rootId), count_(count), tree_(tree) {}

    void handleEvent(const VantrelNodeEvent& event) override {
        const std::string id = event.getNodeId().id();
        const std::string type = event.getType().c_str();
        const std::optional<NodePath> where = tree_ ? tree_->pathOf(id) : path_;
        if (!where) return;  // a node no longer followed
        const Details details = readAttributeText(event.getDetails().getStream());
        if (tree_ && type.rfind("Child", 0) == 0) {
            if (type != CHILD_CREATED) return;  // the child's own registration reports it
            NodePath child = *where;
            child.components.push_back(detail(details, "Name"));
            tree_->queueNew(detail(details, "Child"), child);
            wake(NEW_NODES);
        }
        const int number = ++seen_;
        if (count_ > 0 && number > count_) return;  // the main thread is on its way out
        print(*where, id, type, details);
        if (tree_ && type == RENAMED) tree_->rename(id, detail(details, "Name"));
        if (tree_ && type == DESTROYED) tree_->remove(id);
        // Nothing more can happen to a node that is gone.
        if (number == count_ || (type == DESTROYED && id == rootId_)) wake(STOP);
    }

private:
    void print(const NodePath& where, const std::string& id, const std::string& type,
               const Details& details) {
        if (tool_.json()) {
            nlohmann::json detailsJson = nlohmann::json::object();
            for (const auto& pair : details) detailsJson[pair.first] = pair.second;
            tool_.writeLine(Tool::dumpJson(
                {{"path", where.text()}, {"node", id}, {"type", type}, {"details", detailsJson}}));
            return;
        }
        std::string line = tree_ ? where.text() + ": " + type : type;
        for (const auto& pair : details) line += " " + pair.first + "=" + pair.second;
        tool_.writeLine(line);
    }

    Tool& tool_;
    const NodePath path_;
    const std::string rootId_;
    const int count_;
    WatchedTree* const tree_;
    std::atomic<int> seen_{0};
};

// The self-pipe the main thread sleeps on, with SIGINT and SIGTERM pointed at it.
class WakePipe {
public:
    WakePipe() {
        if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0)
            throw ToolFailure(EXIT_USAGE, "cannot make a pipe to wait on");
        wakeWriteFd = fds_[1];
        struct sigaction action {};
        action.sa_handler = &wakeOnSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &oldInt_);
        ::sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~WakePipe() {
        ::sigaction(SIGINT, &oldInt_, nullptr);
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
        wakeWriteFd = -1;
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    // What the wake-ups within `ms` milliseconds asked: STOP when any asked it, NEW_NODES,
    // or 0 when none came.
    char wait(int ms) {
        pollfd p{fds_[0], POLLIN, 0};
        if (::poll(&p, 1, ms) != 1) return 0;
        char asked = 0, bytes[64];
        for (ssize_t got; (got = ::read(fds_[0], bytes, sizeof bytes)) > 0;)
            for (ssize_t i = 0; i < got; ++i)
                if (asked != STOP) asked = bytes[i];
        return asked == 0 ? STOP : asked;
    }

private:
    int fds_[2];
    struct sigaction oldInt_, oldTerm_;
};

// How often the server is asked whether it is still there while no event comes.
constexpr int PING_EVERY_MS = 2000;

// Follows `node` at `path` and, with a tree, every node under it (depth first, folders
// waiting on a stack). `required`: a failed registration fails the command; otherwise (a node
// that came and may have gone again) it is only reported.
void follow(Tool& tool, VantrelServerHandle& server, EventPrinter& printer, WatchedTree* tree,
            VantrelNodeHandle node, const NodePath& path, bool required) {
    std::vector<std::pair<VantrelNodeHandle, NodePath>> stack{{node, path}};
    while (!stack.empty()) {
        auto [current, where] = std::move(stack.back());
        stack.pop_back();
        const std::string id = current.getNodeId().id();
        if (tree) tree->add(id, where);
        if (!server.registerEventHandler(current.getNodeId(), &printer)) {
            if (tree) tree->remove(id);
            if (required) tool.check(false, server, "watching " + where.text());
            std::cerr << "vantrel: cannot watch " << where.text() << ": " << server.lastError()
                      << std::endl;
            continue;
        }
        if (!required && !tool.options().quiet)
            std::cerr << "Watching " << where.text() << std::endl;
        if (!tree) return;
        try {
            tool.forEachChild(current, where, [&](VantrelNodeHandle& child, const NodePath& at) {
                stack.emplace_back(child, at);
            });
        } catch (const ToolFailure&) {
            if (required) throw;  // a new node may be gone already: its events said so
        }
    }
}

void runWatch(Tool& tool, const WatchOptions& options) {
    const NodePath where = nodePathArgument(options.path);
    VantrelNodeHandle node = tool.resolve(where);
    VantrelServerHandle& server = tool.server(where.server);
    WakePipe wakePipe;
    WatchedTree tree;
    WatchedTree* followed = options.recursive ? &tree : nullptr;
    EventPrinter printer(tool, where, node.getNodeId().id(), options.count, followed);
    follow(tool, server, printer, followed, node, where, true);
    if (!tool.options().quiet)
        std::cerr << "Watching " << where.text() << (options.recursive ? " and below" : "")
                  << (options.count > 0 ? "" : " (Ctrl-C stops)") << std::endl;
    bool answering = true;
    for (char asked; (asked = wakePipe.wait(PING_EVERY_MS)) != STOP;) {
        if (asked == NEW_NODES) {
            for (const auto& [id, path] : tree.takeNew())
                follow(tool, server, printer, followed, VantrelNodeHandle(server, id.c_str()),
                       path, false);
        } else if (!server.ping(PING_EVERY_MS)) {
            answering = false;
            break;
        }
    }
    if (followed)
        for (const std::string& id : tree.ids())
            server.unregisterEventHandler(VantrelNodeId(id.c_str()), &printer);
    else
        server.unregisterEventHandler(node.getNodeId(), &printer);
    if (!answering)
        throw ToolFailure(EXIT_UNREACHABLE,
                          "server '" + where.server + "' stopped answering: " + server.lastError());
}

}  // namespace

void add_watch_command(CommandRegistry& registry) {
    auto o = std::make_shared<WatchOptions>();
    CLI::App* command = registry.add(
        "watch", "Prints the events of a node (with -r, of everything under it too) as they "
        "happen, until interrupted or the node is destroyed.",
        "vantrel watch -r --json '127.0.0.1:7549:/Volume 1/Commercial/Shared Vault/Library A'");
    command->add_option("path", o->path, "The node, SERVER:/display/path")->required();
    command->add_option("--count", o->count, "Stop after this many events (0: never)")
        ->check(CLI::Range(0, 1 << 30));
    command->add_flag("-r,--recursive", o->recursive,
                      "Watch every node under it too, following nodes as they are created, "
                      "renamed and destroyed (lines start with the node's path)");
    registry.setAction(command, [o](Tool& tool) { runWatch(tool, *o); });
}

}  // namespace vantrel_tool
