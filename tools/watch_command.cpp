// vantrel watch SERVER:/path: prints the events of a node as they come, until interrupted
// (Ctrl-C, SIGTERM), --count events or the node's own destruction; with --json one object
// per line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>

#include "AttributeText.h"
#include "ToolCommands.h"

namespace vantrel_tool {

namespace {

struct WatchOptions {
    std::string path;
    int count = 0;
};

// Wakes the waiting main thread: written by the signal handler and by the event handler.
int wakeWriteFd = -1;

void wakeOnSignal(int) {
    const char byte = 's';
    if (::write(wakeWriteFd, &byte, 1) < 0) {
        // A full pipe wakes the reader anyway.
    }
}

// The event a node receives when it is destroyed itself (its parent gets "ChildDestroyed").
const char* const DESTROYED = "Destroyed";

// Runs on the library's event thread: one line per event, flushed at once.
class EventPrinter : public VantrelNodeEvent::Handler {
public:
    EventPrinter(Tool& tool, const NodePath& path, int count)
        : tool_(tool), path_(path), count_(count) {}

    void handleEvent(const VantrelNodeEvent& event) override {
        const int number = ++seen_;
        if (count_ > 0 && number > count_) return;  // the main thread is on its way out
        const auto details = readAttributeText(event.getDetails().getStream());
        if (tool_.json()) {
            nlohmann::json detailsJson = nlohmann::json::object();
            for (const auto& pair : details) detailsJson[pair.first] = pair.second;
            tool_.writeLine(Tool::dumpJson({{"path", path_.text()},
                                            {"node", event.getNodeId().id()},
                                            {"type", event.getType().c_str()},
                                            {"details", detailsJson}}));
        } else {
            std::string line = event.getType().c_str();
            for (const auto& pair : details) line += " " + pair.first + "=" + pair.second;
            tool_.writeLine(line);
        }
        // Nothing more can happen to a node that is gone.
        if (number == count_ || event.getType() == DESTROYED) wakeOnSignal(0);
    }

private:
    Tool& tool_;
    const NodePath path_;
    const int count_;
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

    // True when woken within `ms` milliseconds.
    bool wait(int ms) {
        pollfd p{fds_[0], POLLIN, 0};
        return ::poll(&p, 1, ms) == 1;
    }

private:
    int fds_[2];
    struct sigaction oldInt_, oldTerm_;
};

// How often the server is asked whether it is still there while no event comes.
constexpr int PING_EVERY_MS = 2000;

}  // namespace

void add_watch_command(CommandRegistry& registry) {
    auto o = std::make_shared<WatchOptions>();
    CLI::App* command = registry.add(
        "watch", "Prints the events of a node as they happen, until interrupted or the node is "
        "destroyed.",
        "vantrel watch --json '127.0.0.1:7549:/Volume 1/Commercial/Shared Vault/Library A'");
    command->add_option("path", o->path, "The node, SERVER:/display/path")->required();
    command->add_option("--count", o->count, "Stop after this many events (0: never)")
        ->check(CLI::Range(0, 1 << 30));
    registry.setAction(command, [o](Tool& tool) {
        const NodePath where = nodePathArgument(o->path);
        VantrelNodeHandle node = tool.resolve(where);
        VantrelServerHandle& server = tool.server(where.server);
        WakePipe wake;
        EventPrinter printer(tool, where, o->count);
        tool.check(server.registerEventHandler(node.getNodeId(), &printer), server,
                   "watching " + where.text());
        if (!tool.options().quiet)
            std::cerr << "Watching " << where.text() << (o->count > 0 ? "" : " (Ctrl-C stops)")
                      << std::endl;
        bool answering = true;
        while (!wake.wait(PING_EVERY_MS))
            if (!server.ping(PING_EVERY_MS)) {
                answering = false;
                break;
            }
        server.unregisterEventHandler(node.getNodeId(), &printer);
        if (!answering)
            throw ToolFailure(EXIT_UNREACHABLE,
                              "server '" + where.server + "' stopped answering: " +
                                  server.lastError());
    });
}

}  // namespace vantrel_tool
