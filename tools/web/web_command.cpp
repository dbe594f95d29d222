// vantrel web [--listen 127.0.0.1:8080] [--allow-changes] [SERVER...]: a web page that lists
// the servers (named and found by discovery), browses their trees and shows clips, live.
// Runs until interrupted (Ctrl-C, SIGTERM).
#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <thread>

#include "../ToolCommands.h"
#include "WebServer.h"

namespace vantrel_tool {

namespace {

struct WebOptions {
    std::string listen = "127.0.0.1:8080";
    bool allowChanges = false;
    bool noDiscovery = false;
    std::string page;
    std::vector<std::string> servers;
};

// How often discovery is asked again for the servers that came or went.
constexpr std::chrono::seconds DISCOVERY_EVERY{2};

struct ListenAddress {
    std::string host;
    int port = 0;
};

// "HOST:PORT", "[IPv6]:PORT" or ":PORT" (all addresses).
ListenAddress listenAddress(const std::string& text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) usageError("--listen '" + text + "' needs HOST:PORT");
    ListenAddress address;
    address.host = text.substr(0, colon);
    if (address.host.size() > 1 && address.host.front() == '[' && address.host.back() == ']')
        address.host = address.host.substr(1, address.host.size() - 2);
    if (address.host.empty()) address.host = "0.0.0.0";
    const std::string port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) > 65535)
        usageError("--listen '" + text + "': the port must be 0 to 65535");
    address.port = std::stoi(port);
    return address;
}

// The page's files: --page, else where the package installs them, else the source tree's.
std::string pageDirectory(const std::string& chosen) {
    if (!chosen.empty()) return chosen;
    for (const char* candidate : {VANTREL_WEB_PAGE_INSTALLED, VANTREL_WEB_PAGE_SOURCE})
        if (::access((std::string(candidate) + "/index.html").c_str(), R_OK) == 0) return candidate;
    usageError("the web page's files are not installed (name them with --page DIR)");
}

// SIGINT and SIGTERM wait for sigtimedwait() instead of ending the process; called before any
// thread starts, so that every thread inherits the mask.
sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return set;
}

void serve(Tool& tool, const WebOptions& o) {
    const ListenAddress address = listenAddress(o.listen);
    std::vector<std::string> named;
    for (const std::string& server : o.servers) named.push_back(serverArgument(server));
    const std::string page = pageDirectory(o.page);
    const sigset_t signals = stopSignals();
    tool.startLibrary();
    vantrel_web::EventFeed feed;
    vantrel_web::WebApi api(tool, feed, {named, !o.noDiscovery, o.allowChanges});
    vantrel_web::WebServer server(api, feed, page);
    const int port = server.bind(address.host, address.port);
    if (port < 0)
        throw ToolFailure(EXIT_USAGE, "cannot listen on " + o.listen + " (in use, or no such address)");
    const bool v6 = address.host.find(':') != std::string::npos;
    tool.writeLine("Serving http://" + (v6 ? "[" + address.host + "]" : address.host) + ":" +
                   std::to_string(port) + "/" + (o.allowChanges ? " (changes allowed)" : ""));
    std::thread listener([&server] { server.listen(); });
    const timespec tick{DISCOVERY_EVERY.count(), 0};
    for (;;) {
        api.refreshDiscovery();
        if (sigtimedwait(&signals, nullptr, &tick) > 0) break;
    }
    feed.close();
    server.stop();
    listener.join();
}

}  // namespace

void add_web_command(CommandRegistry& registry) {
    auto o = std::make_shared<WebOptions>();
    CLI::App* command = registry.add(
        "web", "Serves a web page that browses servers, trees and clips, updated live.",
        "vantrel web --listen 127.0.0.1:8080 127.0.0.1:7549");
    command->add_option("servers", o->servers, "Servers to list besides those discovery finds");
    command->add_option("--listen", o->listen, "Address and port of the page (port 0: any)")
        ->capture_default_str();
    command->add_flag("--allow-changes", o->allowChanges,
                      "Let the page create folders, rename, destroy and edit metadata");
    command->add_flag("--no-discovery", o->noDiscovery, "List only the servers named");
    command->add_option("--page", o->page, "Folder of the page's files (default: installed)");
    registry.setAction(command, [o](Tool& tool) { serve(tool, *o); });
}

}  // namespace vantrel_tool
