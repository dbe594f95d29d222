// vantreld: the reference Vantrel server. See CommandLine::usage() or `vantreld --help`.
//
// Standard output carries the ready line only (launchers read it); log lines go through a
// LogQueue to standard error or the --log file, so a log nobody reads never stops the server.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <memory>

#include "vantrel/CoMsg.h"
#include "vantrel/VantrelOS.h"
#include "vantrel/server/CommandLine.h"
#include "vantrel/server/LogQueue.h"
#include "vantrel/server/NodeStore.h"
#include "vantrel/server/SampleTree.h"
#include "vantrel/server/VantreldServer.h"

namespace {

// How long the log may take to drain at exit before the process ends without it.
const int LOG_DRAIN_MS = 2000;

vantreld::VantreldServer* running = nullptr;

extern "C" void onStopSignal(int signal) {
    // Only atomic stores: the loop notices them within its pass time.
    if (running != nullptr) running->requestStopBySignal(signal);
}

void installSignalHandlers() {
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a client that goes away must not stop the server
    signal(SIGHUP, SIG_IGN);   // a closed terminal must not stop it either
}

int initSample(const vantreld::VantreldServer::Options& options) {
    vantreld::NodeStore store(options.directory, options.sync, VantrelOS::getHostName().c_str());
    vantreld::makeSampleTree(store);
    std::printf("Sample tree of %zu nodes made in %s\n", store.size(), options.directory.c_str());
    return 0;
}

int serve(const vantreld::VantreldServer::Options& options, const vantreld::LogQueue& log) {
    vantreld::VantreldServer server(options);
    running = &server;
    installSignalHandlers();
    if (server.listensBeyondThisHost())
        log.post("warning: listening on " + server.listenAddress() +
                 ": every host that reaches port " + std::to_string(server.nodePort()) +
                 " may create and destroy nodes (the protocol has no authentication)");
    std::printf("vantreld ready: node_port=%d%s frame_port=%d\n", server.nodePort(),
                server.readyFields().c_str(), server.framePort());
    std::fflush(stdout);
    server.run();
    running = nullptr;
    log.post("vantreld stopped: " + server.stopReason());
    return 0;
}

int usageError(const std::string& reason) {
    std::fprintf(stderr, "vantreld: %s\nsee 'vantreld --help'\n", reason.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const vantreld::CommandLine line =
        vantreld::CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (line.help) {
        std::fputs(vantreld::CommandLine::usage(), stdout);
        return 0;
    }
    if (!line.error.empty()) return usageError(line.error);
    if (line.version) {
        std::printf("%s\n", vantreld::CommandLine::versionText().c_str());
        return 0;
    }
    std::unique_ptr<vantreld::LogQueue> log;
    int status = 1;
    try {
        log.reset(line.logFile.empty() ? new vantreld::LogQueue(STDERR_FILENO)
                                       : vantreld::LogQueue::openFile(line.logFile));
        log->install();
        status = line.initSample ? initSample(line.options) : serve(line.options, *log);
    } catch (const std::exception& error) {
        if (log != nullptr) log->post(std::string("vantreld: ") + error.what());
        if (log == nullptr || !line.logFile.empty())
            std::fprintf(stderr, "vantreld: %s\n", error.what());
    }
    // A log output that never drains must not keep the process from ending.
    if (log != nullptr && !log->finish(LOG_DRAIN_MS)) log.release();
    return status;
}
