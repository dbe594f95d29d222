// vantreld: the reference Vantrel server. See CommandLine::usage() or `vantreld --help`.
#include <signal.h>

#include <cstdio>
#include <exception>

#include "vantrel/client/VantrelOS.h"
#include "vantrel/server/CommandLine.h"
#include "vantrel/server/NodeStore.h"
#include "vantrel/server/SampleTree.h"
#include "vantrel/server/VantreldServer.h"

namespace {

vantreld::VantreldServer* running = nullptr;

extern "C" void onStopSignal(int) {
    // Only an atomic store: the loop notices it within its pass time.
    if (running != nullptr) running->requestStop();
}

void installSignalHandlers() {
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a client that goes away must not stop the server
}

int initSample(const vantreld::VantreldServer::Options& options) {
    vantreld::NodeStore store(options.directory, options.sync, VantrelOS::getHostName().c_str());
    vantreld::makeSampleTree(store);
    std::printf("Sample tree of %zu nodes made in %s\n", store.size(), options.directory.c_str());
    return 0;
}

int serve(const vantreld::VantreldServer::Options& options) {
    vantreld::VantreldServer server(options);
    running = &server;
    installSignalHandlers();
    std::printf("vantreld ready: node_port=%d frame_port=%d\n", server.nodePort(),
                server.framePort());
    std::fflush(stdout);
    server.run();
    running = nullptr;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const vantreld::CommandLine line =
        vantreld::CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (line.help) {
        std::fputs(vantreld::CommandLine::usage(), stdout);
        return 0;
    }
    if (!line.error.empty()) {
        std::fprintf(stderr, "vantreld: %s\n\n%s", line.error.c_str(),
                     vantreld::CommandLine::usage());
        return 2;
    }
    try {
        return line.initSample ? initSample(line.options) : serve(line.options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vantreld: %s\n", error.what());
        return 1;
    }
}
