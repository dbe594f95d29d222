// Tool: what every subcommand of the vantrel tool shares — the library's initialisation, the
// servers it talks to, resolving node paths, turning failures into one line and an exit
// status, and writing results for people or as JSON.
//
// Failures are thrown as ToolFailure (exit status and one line of text); main() prints the
// line on standard error as "vantrel COMMAND: TEXT" and exits with the status. Exit statuses:
//   0  success
//   1  the server answered with an error (a wrong path included)
//   2  wrong usage (arguments, options, a local file that cannot be read)
//   3  the server cannot be reached (or stopped answering)
//
// Threads: one Tool per process, used by the main thread; only writeLine() may also be
// called from other threads (the event handler of `watch`).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "NodePath.h"
#include "vantrel/VantrelClientAPI.h"

namespace vantrel_tool {

enum ExitStatus : int {
    EXIT_OK = 0,
    EXIT_SERVER_ERROR = 1,
    EXIT_USAGE = 2,
    EXIT_UNREACHABLE = 3,
};

class ToolFailure : public std::runtime_error {
public:
    ToolFailure(ExitStatus status, const std::string& text)
        : std::runtime_error(text), status_(status) {}
    ExitStatus status() const { return status_; }

private:
    ExitStatus status_;
};

// Wrong usage found after the arguments were parsed (exit status 2).
[[noreturn]] void usageError(const std::string& text);

// "1 frame", "2 frames": `count` and the word that fits it.
std::string counted(long long count, const std::string& one, const std::string& several);
inline std::string counted(long long count, const std::string& one) {
    return counted(count, one, one + "s");
}

// Whether the process's standard output is a terminal (and not a pipe or a file).
bool standardOutputIsTerminal();

// The node path `text` names (NodePath.h); wrong usage when it names none.
NodePath nodePathArgument(const std::string& text);
// The server `text` names (SERVER, SERVER: or SERVER:/); wrong usage when it names none.
std::string serverArgument(const std::string& text);

// Sends the library's messages to standard error when `verbose`, else nowhere: standard
// output carries the tool's results alone (JSON lines included). Call once, first thing in
// main(); the router stays installed until the process ends.
void routeLibraryMessages(bool verbose);

struct ToolOptions {
    bool json = false;
    bool verbose = false;  // the library's own messages on standard error
    bool quiet = false;    // no progress bar, no notes on standard error
    unsigned int timeoutSeconds = 30;  // ceiling of each remote call; 0: the library's own
};

class Tool {
public:
    // Writes to `out` (standard output in the program).
    Tool(const ToolOptions& options, std::ostream& out);
    ~Tool();
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    const ToolOptions& options() const { return options_; }
    bool json() const { return options_.json; }

    // Initialises the library (once); throws ToolFailure when it cannot start.
    void startLibrary();

    // The handle of server `id`, made and checked on first use: a server that does not answer
    // throws ToolFailure with EXIT_UNREACHABLE. The handle lives as long as the Tool.
    VantrelServerHandle& server(const std::string& id);
    // A handle of `id` made without contacting it (for ping).
    VantrelServerHandle& uncheckedServer(const std::string& id);

    // The node `path` names; a missing component throws EXIT_SERVER_ERROR naming it.
    VantrelNodeHandle resolve(const NodePath& path);
    // Calls `visit` with each child of `node` (at `path`) in the server's order.
    void forEachChild(VantrelNodeHandle& node, const NodePath& path,
                      const std::function<void(VantrelNodeHandle&, const NodePath&)>& visit);

    // Throws ToolFailure "WHAT: the handle's last error" when `ok` is false: EXIT_UNREACHABLE
    // when the server's link was lost on the way or the server no longer answers a ping
    // (up to 2 s), EXIT_SERVER_ERROR otherwise.
    void check(bool ok, const VantrelServerHandle& server, const std::string& what) const;
    void check(bool ok, const VantrelNodeHandle& node, const std::string& what) const;
    [[noreturn]] void fail(const VantrelServerHandle& server, const std::string& what) const;

    // The command's one result: `document` with --json, else what `human` writes.
    void print(const nlohmann::json& document, const std::function<void(std::ostream&)>& human);
    // One line, flushed at once, under a lock (any thread).
    void writeLine(const std::string& line);
    // `value` as JSON text on one line (or indented), invalid UTF-8 replaced.
    static std::string dumpJson(const nlohmann::json& value, int indent = -1);

private:
    VantrelServerHandle& handle(const std::string& id);

    ToolOptions options_;
    std::ostream& out_;
    std::mutex outLock_;
    VantrelClient library_;
    bool started_ = false;
    std::map<std::string, std::unique_ptr<VantrelServerHandle>> servers_;
    std::map<std::string, bool> checked_;
};

}  // namespace vantrel_tool
