// Server discovery: the time from VantrelServerList::getNumNodes in a fresh process to the
// first server found and to all of them, for 1, 10 and 50 vantreld processes on another
// "host" (a network namespace joined by a veth pair). Baseline: the time to the root node of
// one server named by address and port in a fresh process, which needs no discovery.
//
// Run as root inside a private network namespace:
//   scripts/in-netns.sh build/bench/bench/discovery_bench [RUNS]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "NamespaceHost.h"
#include "VantreldProcess.h"
#include "vantrel/CoMsg.h"
#include "vantrel/VantrelClientAPI.h"

namespace {

typedef std::chrono::steady_clock Clock;
using vantreld::testing::NamespaceHost;
using vantreld::testing::VantreldProcess;

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Child: prints "FIRST ALL" in milliseconds once `expected` servers are listed.
int measureDiscovery(int expected) {
    const Clock::time_point start = Clock::now();
    VantrelClient library;
    if (!library.init()) return 1;
    VantrelServerList list;
    int count = 0;
    if (!list.getNumNodes(count)) return 1;
    const double first = count > 0 ? millisSince(start) : -1;
    while (count < expected && millisSince(start) < 10000) {
        usleep(1000);
        list.getNumNodes(count);
    }
    std::printf("%.2f %.2f\n", first, count >= expected ? millisSince(start) : -1.0);
    return 0;
}

// Child: prints the time to the root node of `id` in milliseconds.
int measureDirect(const char* id) {
    const Clock::time_point start = Clock::now();
    VantrelClient library;
    if (!library.init()) return 1;
    VantrelServerHandle server(id);
    VantrelNodeHandle root;
    if (!server.getRootNode(root)) return 1;
    std::printf("%.2f %.2f\n", millisSince(start), millisSince(start));
    return 0;
}

// Runs this program again with `args` and reads its two figures.
bool runChild(const std::vector<std::string>& args, double& first, double& all) {
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return false;
    std::string command = self;
    for (const std::string& arg : args) command += " '" + arg + "'";
    FILE* child = ::popen(command.c_str(), "r");
    if (child == nullptr) return false;
    const int read = std::fscanf(child, "%lf %lf", &first, &all);
    return ::pclose(child) == 0 && read == 2 && first >= 0 && all >= 0;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

void report(const char* what, const std::vector<std::string>& args, int runs) {
    std::vector<double> firsts, alls;
    for (int i = 0; i < runs; ++i) {
        double first = 0, all = 0;
        if (!runChild(args, first, all)) {
            std::printf("%-28s failed\n", what);
            return;
        }
        firsts.push_back(first);
        alls.push_back(all);
    }
    std::printf("%-28s first %8.2f ms   all %8.2f ms   (median of %d fresh processes)\n", what,
                median(firsts), median(alls), runs);
}

int benchmark(int runs) {
    const std::string port = "7555";
    NamespaceHost host('a');
    if (!host.ok()) {
        std::fprintf(stderr, "cannot make a network namespace (run in scripts/in-netns.sh)\n");
        return 1;
    }
    char pattern[] = "/tmp/vantrel-discovery-bench-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    std::vector<std::unique_ptr<VantreldProcess>> servers;
    int directPort = -1;
    for (int total : {1, 10, 50}) {
        while (static_cast<int>(servers.size()) < total) {
            const std::string tree = dir + "/tree" + std::to_string(servers.size());
            servers.emplace_back(new VantreldProcess(
                {"--listen", "0.0.0.0", "--port", "0", "--no-sync", "--udp-port", port, tree},
                host.launcher()));
            const int ready = servers.back()->waitUntilReady();
            if (ready < 0) return 1;
            if (directPort < 0) directPort = ready;
        }
        if (total == 1)
            report("baseline: direct, 1 server",
                   {"--direct", host.address() + ":" + std::to_string(directPort)}, runs);
        const std::string what = "discovery, " + std::to_string(total) + " server(s)";
        report(what.c_str(), {"--discover", std::to_string(total)}, runs);
    }
    servers.clear();
    return std::system(("rm -rf " + dir).c_str()) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--discover")
        return measureDiscovery(std::atoi(argv[2]));
    if (argc == 3 && std::string(argv[1]) == "--direct") return measureDirect(argv[2]);
    return benchmark(argc > 1 ? std::max(1, std::atoi(argv[1])) : 5);
}
