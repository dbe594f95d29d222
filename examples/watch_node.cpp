// Waits for events on one node of a Vantrel server and prints each as it arrives.
//
//   watch_node SERVER NODE_PATH [COUNT]
//
// SERVER as for print_tree (for example 127.0.0.1:7549); NODE_PATH is a display-name path from
// the root ("/Volume 1/Feature Film/Vault/Main/Reel 1/Opening"). Prints "watching" once the
// handler is registered, then one line per event ("event TYPE on NODE_ID"), and exits with 0
// after COUNT events (1 by default). Exits with 1 and the library's error text on failure.
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "vantrel/VantrelClientAPI.h"

namespace {

// Prints events and counts them for the main thread; runs on the library's event thread.
class EventPrinter : public VantrelNodeEvent::Handler {
public:
    void handleEvent(const VantrelNodeEvent& event) override {
        std::printf("event %s on %s\n", event.getType().c_str(), event.getNodeId().id());
        std::fflush(stdout);
        std::lock_guard<std::mutex> guard(lock_);
        ++received_;
        arrived_.notify_all();
    }

    void waitFor(int count) {
        std::unique_lock<std::mutex> guard(lock_);
        arrived_.wait(guard, [&] { return received_ >= count; });
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    int received_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: watch_node SERVER NODE_PATH [COUNT]\n");
        return 2;
    }
    const int count = argc > 3 ? std::atoi(argv[3]) : 1;
    VantrelClient library;
    if (!library.init()) return 1;
    VantrelServerHandle server(argv[1]);
    VantrelNodeHandle node;
    if (!VantrelResolveDisplayPath(server, argv[2], node)) {
        std::fprintf(stderr, "error: %s\n", server.lastError());
        return 1;
    }
    EventPrinter printer;
    if (!server.registerEventHandler(node.getNodeId(), &printer)) {
        std::fprintf(stderr, "error: %s\n", server.lastError());
        return 1;
    }
    std::printf("watching %s\n", argv[2]);
    std::fflush(stdout);
    printer.waitFor(count);
    server.unregisterEventHandler(node.getNodeId(), &printer);
    return 0;
}
