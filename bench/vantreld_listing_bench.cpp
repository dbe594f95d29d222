// Large listings: the children of a node in both forms ("GetChildrenEx", "GetChildren") and
// the frame lists of a clip ("GetFramesEx", "AllocateFramesEx", "GetFramePathsEx"), for 1,000
// to 1,000,000 items and the 86,400 frames of an hour at 24 fps.
//
// Each list is measured twice:
//   in process  the server's handler builds the reply and the client's decoder reads it back,
//               in this process, without a connection;
//   wire        a fresh VantrelNodeHandle fetches it from a vantreld process over loopback and
//               decodes it into its cache (the old children form from a vantreld playing an
//               older protocol version).
// Per item costs leave out what a call costs anyway: they are (time(N) - time(0)) / N, time(0)
// being the same call on an empty node. Each time is the best of several runs. For every wire
// call the extra peak memory of vantreld (VmHWM after the call minus VmRSS before it, with the
// peak reset through clear_refs) is shown per byte of the reply.
//
// Goals printed at the end: wire cost per item flat within 20 % from 1,000 to 1,000,000
// items; a 100,000-child "GetChildrenEx" over the wire at most 1.5 times building plus
// decoding it in process; every 1,000,000-item listing completes; vantreld's extra peak at
// most 3 times the reply.
//
//   scripts/in-netns.sh build/release/bench/vantreld_listing_bench [--max N]
// --max N leaves out the counts above N (quick runs; the tree of a million children takes a
// few minutes to make). Texts are decoded in the C.UTF-8 locale.
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "VantreldProcess.h"
#include "vantrel/CoMsg.h"
#include "rcApi/rcAttrStream.h"
#include "vantrel/VantrelClientAPI.h"
#include "vantrel/client/nodes/VantrelCountedList.h"
#include "vantrel/client/nodes/VantrelNodeWire.h"
#include "vantrel/VantrelOS.h"
#include "vantrel/client/connection/VantrelTextConversion.h"
#include "vantrel/server/MethodDispatcher.h"
#include "vantrel/server/NodeMethods.h"
#include "vantrel/server/NodeStore.h"
#include "vantrel/server/ServerSettings.h"
#include "vantrel/server/ServerTestSupport.h"

using namespace vantreld;

namespace {

typedef std::chrono::steady_clock Clock;

const char OLD_PROTOCOL[] = "2.6.1.0";  // children by "GetChildren", frames by the old forms

enum Kind { CHILDREN_EX, CHILDREN_TEXT, FRAMES_EX, ALLOCATE_EX, PATHS_EX, KINDS };
const char* const KIND_NAMES[KINDS] = {"GetChildrenEx", "GetChildren", "GetFramesEx",
                                       "AllocateFramesEx", "GetFramePathsEx"};

std::vector<int> countsOf(Kind kind, int max) {
    const std::vector<int> all = kind == CHILDREN_EX || kind == CHILDREN_TEXT
                                     ? std::vector<int>{0, 1000, 10000, 100000, 1000000}
                                     : std::vector<int>{0, 1000, 10000, 86400, 1000000};
    std::vector<int> kept;
    for (int count : all)
        if (count <= max) kept.push_back(count);
    return kept;
}

// Milliseconds of one measure: elapsed, and processor time of this process and of the
// server's (when there is one).
struct Timing {
    double wallMs = -1;
    double cpuMs = -1;
};

struct Figures {
    Timing inProcess;
    Timing wire;
    size_t replyBytes = 0;
    long long serverExtraBytes = -1;
};

double processCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Processor time of every thread of process `pid` (0: none), from /proc's scheduler figures.
double serverCpuMs(pid_t pid) {
    if (pid == 0) return 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double ms = 0;
    for (const std::string& task : ServerFiles::list(tasks)) {
        std::ifstream stat(tasks + "/" + task + "/schedstat");
        double ns = 0;
        if (stat >> ns) ms += ns / 1e6;
    }
    return ms;
}

// The best times of runs of `work` (at least 3, until half a second has passed, at most 30):
// elapsed and processor time (this process and `server`'s), each the best of the runs; -1
// when a run fails. Processor time is what the work costs whatever else runs on the machine.
Timing best(const std::function<bool()>& work, pid_t server = 0) {
    Timing result;
    double spent = 0;
    for (int run = 0; run < 30 && (run < 3 || spent < 500); ++run) {
        const double cpuBefore = processCpuMs() + serverCpuMs(server);
        const Clock::time_point start = Clock::now();
        if (!work()) return Timing();
        const double wall =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        const double cpu = processCpuMs() + serverCpuMs(server) - cpuBefore;
        spent += wall;
        result.wallMs = result.wallMs < 0 ? wall : std::min(result.wallMs, wall);
        result.cpuMs = result.cpuMs < 0 ? cpu : std::min(result.cpuMs, cpu);
    }
    return result;
}

std::string hostName() { return VantrelOS::getHostName().c_str(); }
std::string osVersion() { return VantrelOS::getOSVersion().c_str(); }

std::string pathOf(int clip, int frame) {
    char text[64];
    std::snprintf(text, sizeof text, "/media/bench/clip%d/frame.%07d.dpx", clip, frame);
    return text;
}

// Memory-backed storage when it has room for the files of `nodes` nodes (making a million node
// folders on a disk is slow), else /tmp.
std::string treeBase(uint64_t nodes) {
    struct statvfs fs {};
    const uint64_t filesPerNode = 2;  // a folder and its manifest
    if (statvfs("/dev/shm", &fs) == 0 && fs.f_favail / filesPerNode > nodes) return "/dev/shm";
    return "/tmp";
}

// The tree: one folder of N clips per children count, one clip of N frames and one of N
// linked paths per frame count.
struct Tree {
    explicit Tree(int max) : dir(treeBase(uint64_t(max) * 112 / 100 + 1000)) {}

    testing::TempDir dir;
    std::map<std::pair<int, int>, std::string> ids;  // (kind, count) -> node id
    std::string config = dir / "vantreld.conf";
    std::unique_ptr<NodeStore> store;  // open until the wire measures, which need the lock

    std::string tree() const { return dir / "tree"; }

    void make(int max) {
        StoreLimits limits;
        limits.maxNodes = 3000000;
        limits.maxFramesPerServer = 100000000;
        store.reset(new NodeStore(tree(), ServerFiles::Sync::FAST, "localhost", limits));
        std::ofstream(config) << "[Limits]\nMaxNodes = 3000000\nMaxFramesPerServer = 100000000\n";
        const std::string volume =
            store->createNode("host", "Volume", "VOLUME", VantrelClipFormat()).id;
        for (int count : countsOf(CHILDREN_EX, max)) {
            const std::string folder =
                store->createNode(volume, "Folder " + std::to_string(count), "FOLDER",
                                  VantrelClipFormat())
                    .id;
            for (int k = 0; k < count; ++k)
                store->createNode(folder, "Shot " + std::to_string(k) + " \xc3\xa9t\xc3\xa9",
                                  "CLIP", VantrelClipFormat());
            ids[{CHILDREN_EX, count}] = ids[{CHILDREN_TEXT, count}] = folder;
        }
        for (int count : countsOf(FRAMES_EX, max)) {
            const std::string frames = clip(*store, volume, "Frames " + std::to_string(count));
            store->allocateFrames(frames, count, nullptr);
            ids[{FRAMES_EX, count}] = ids[{ALLOCATE_EX, count}] = frames;
            const std::string linked = clip(*store, volume, "Paths " + std::to_string(count));
            std::vector<std::string> paths;
            for (int k = 0; k < count; ++k) paths.push_back(pathOf(count, k));
            store->setFramePaths(linked, paths, hostName(),
                                 static_cast<int>(VantrelOS::getOSType()), osVersion(), nullptr);
            ids[{PATHS_EX, count}] = linked;
        }
    }
    static std::string clip(NodeStore& store, const std::string& parent, const std::string& name) {
        VantrelClipFormat format;
        format.setWidth(1920);
        format.setHeight(1080);
        return store.createNode(parent, name, "CLIP", format).id;
    }
};

std::string quoted(const std::string& id) { return "\"" + id + "\""; }

std::vector<VantrelFrameId> frameIds(const std::string& text) {
    std::vector<std::string> items;
    std::vector<VantrelFrameId> ids;
    if (!VantrelCountedList::decode(text, items)) return ids;
    ids.reserve(items.size());
    for (const std::string& item : items) ids.emplace_back(item.c_str());
    return ids;
}

// Builds the reply of `kind` for `node` with the server's handler and decodes it as the
// client does; false when either fails. `bytes` gets the reply's size.
bool buildAndDecode(const MethodDispatcher& dispatcher, Kind kind, const std::string& node,
                    int count, size_t& bytes) {
    Request request;
    request.method = KIND_NAMES[kind];
    switch (kind) {
    case CHILDREN_EX: request.args = quoted(node); break;
    case CHILDREN_TEXT: request.args = quoted(node); break;
    case FRAMES_EX: request.args = testing::stream({{"Node", node}}); break;
    case ALLOCATE_EX:
        request.args = testing::stream({{"Node", node},
                                        {"NumFrames", std::to_string(count)},
                                        {"Fmt", VantrelNodeWire::clipFormatStream(
                                                    VantrelClipFormat())}});
        break;
    case PATHS_EX:
        request.args = testing::stream(
            {{"Parent", node},
             {"HostName", hostName()},
             {"OSType", std::to_string(static_cast<int>(VantrelOS::getOSType()))},
             {"OSVersion", osVersion()}});
        break;
    default: return false;
    }
    const Reply reply = dispatcher.dispatch(request);
    if (!reply.ok) return false;
    bytes = reply.text.size();
    std::vector<VantrelNodeInterface::Child> children;
    std::vector<std::string> paths;
    switch (kind) {
    case CHILDREN_EX:
        if (!VantrelNodeWire::parseChildrenStream(reply.text, children)) return false;
        for (auto& child : children) VantrelUTF8ToLocale(child.displayName);
        return children.size() == static_cast<size_t>(count);
    case CHILDREN_TEXT:
        children = VantrelNodeWire::parseChildrenText(reply.text);
        for (auto& child : children) VantrelUTF8ToLocale(child.displayName);
        return children.size() == static_cast<size_t>(count);
    case PATHS_EX:
        if (!VantrelCountedList::decode(reply.text, paths)) return false;
        VantrelUTF8ToLocale(paths);
        return paths.size() == static_cast<size_t>(count);
    default: return frameIds(reply.text).size() == static_cast<size_t>(count);
    }
}

// Fetches the list of `kind` through a fresh node handle on `server`.
bool fetch(const VantrelServerHandle& server, Kind kind, const std::string& node, int count) {
    VantrelNodeHandle handle(server, node.c_str());
    int got = -1;
    VantrelStr path;
    switch (kind) {
    case CHILDREN_EX:
    case CHILDREN_TEXT: return handle.getNumChildren(got) && got == count;
    case FRAMES_EX: return handle.getNumFrames(got) && got == count;
    case ALLOCATE_EX:
        return handle.setNumFrames(static_cast<unsigned>(count)) && handle.getNumFrames(got) &&
               got == count;
    case PATHS_EX:
        return handle.getFrameIdPath(0, path) &&
               (count == 0 || std::strcmp(path.c_str(), pathOf(count, 0).c_str()) == 0);
    default: return false;
    }
}

long long statusField(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string word;
    while (status >> word)
        if (word == field) {
            long long kb = -1;
            status >> kb;
            return kb * 1024;
        }
    return -1;
}

// vantreld's peak resident memory during `work` above its resident memory before it.
long long extraPeakDuring(pid_t pid, const std::function<bool()>& work) {
    std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5";
    const long long before = statusField(pid, "VmRSS:");
    if (!work()) return -1;
    const long long peak = statusField(pid, "VmHWM:");
    return before < 0 || peak < 0 ? -1 : peak - before;
}

typedef std::map<std::pair<int, int>, Figures> Results;

void measureInProcess(Tree& tree, int max, Results& results) {
    ServerSettings settings;
    NodeMethods methods(*tree.store, settings);
    MethodDispatcher dispatcher(vantreld::ProtocolVersion(), nullptr);
    methods.registerWith(dispatcher);
    for (int kind = 0; kind < KINDS; ++kind)
        for (int count : countsOf(Kind(kind), max)) {
            Figures& figures = results[{kind, count}];
            const std::string& node = tree.ids[{kind, count}];
            figures.inProcess = best([&] {
                return buildAndDecode(dispatcher, Kind(kind), node, count, figures.replyBytes);
            });
        }
}

// Measures the kinds in `kinds` against a vantreld playing `protocol` (empty: the newest).
bool measureWire(Tree& tree, int max, const std::string& protocol, const std::vector<Kind>& kinds,
                 Results& results) {
    std::vector<std::string> args = {"--no-sync", "--port", "0", "--no-discovery",
                                     "--config", tree.config, "--log", tree.dir / "vantreld.log"};
    if (!protocol.empty()) args.insert(args.end(), {"--protocol-version", protocol});
    args.push_back(tree.tree());
    testing::VantreldProcess server(args);
    const int port = server.waitUntilReady(600000);
    if (port <= 0) {
        std::fprintf(stderr, "vantreld did not start\n");
        return false;
    }
    VantrelServerHandle handle(("127.0.0.1:" + std::to_string(port)).c_str());
    for (Kind kind : kinds)
        for (int count : countsOf(kind, max)) {
            Figures& figures = results[{kind, count}];
            const std::string& node = tree.ids[{kind, count}];
            const auto once = [&] { return fetch(handle, kind, node, count); };
            figures.serverExtraBytes = extraPeakDuring(server.pid(), once);
            if (figures.serverExtraBytes < 0) {
                std::fprintf(stderr, "%s of %d items failed: %s\n", KIND_NAMES[kind], count,
                             handle.lastError());
                continue;
            }
            figures.wire = best(once, server.pid());
        }
    return true;
}

double perItemNs(double ms, double zeroMs, int count) {
    if (ms < 0 || zeroMs < 0 || count == 0) return -1;
    return (ms - zeroMs) * 1e6 / count;
}

double ratio(double a, double b) { return a >= 0 && b > 0 ? a / b : -1; }

// A figure, or "-" where there is none.
std::string shown(double value, const char* format) {
    if (value < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

struct Goals {
    double worstFlat = 0;       // per item cost at most 20 % off the 1,000-item one
    double childrenRatio = -1;  // 100,000 children over the wire / in process, at most 1.5
    bool complete = true;       // every 1,000,000-item listing done
    double worstPeak = 0;       // vantreld's extra peak / reply bytes, at most 3
};

void printRow(Kind kind, int count, const Figures& f, const Figures& zero, double baseNs,
              Goals& goals) {
    const double procNs = perItemNs(f.inProcess.cpuMs, zero.inProcess.cpuMs, count);
    const double wireNs = perItemNs(f.wire.cpuMs, zero.wire.cpuMs, count);
    const double vsBase = ratio(wireNs, baseNs);
    const double wireToProc = ratio(f.wire.cpuMs, f.inProcess.cpuMs);
    const double peak =
        f.serverExtraBytes >= 0 ? ratio(double(f.serverExtraBytes), double(f.replyBytes)) : -1;
    std::printf("%-17s %8d %8.2f | %9s %8s | %9s %9s %8s %7s | %9s %8s\n", KIND_NAMES[kind],
                count, f.replyBytes / 1e6, shown(f.inProcess.cpuMs, "%.3f").c_str(),
                shown(procNs, "%.1f").c_str(), shown(f.wire.wallMs, "%.3f").c_str(),
                shown(f.wire.cpuMs, "%.3f").c_str(), shown(wireNs, "%.1f").c_str(),
                shown(vsBase, "%.2f").c_str(), shown(wireToProc, "%.2f").c_str(),
                shown(peak, "%.2f").c_str());
    if (count >= 1000 && vsBase > 0) goals.worstFlat = std::max({goals.worstFlat, vsBase, 1 / vsBase});
    if (count == 1000000 && f.wire.cpuMs < 0) goals.complete = false;
    if (count == 100000 && kind == CHILDREN_EX) goals.childrenRatio = wireToProc;
    if (count >= 86400) goals.worstPeak = std::max(goals.worstPeak, peak);
}

// Prints the table and the goals; true when every goal is met.
bool report(const Results& results, int max) {
    std::printf("\nProcessor time (this process and vantreld's), best of several runs; wall: "
                "elapsed time of the best run.\n");
    std::printf("%-17s %8s %8s | %9s %8s | %9s %9s %8s %7s | %9s %8s\n", "list", "items",
                "reply MB", "proc cpu", "ns/item", "wire wall", "wire cpu", "ns/item",
                "vs 1000", "wire/proc", "peak/rep");
    Goals goals;
    for (int kind = 0; kind < KINDS; ++kind) {
        const Figures& zero = results.at({kind, 0});
        const double baseNs =
            max >= 1000 ? perItemNs(results.at({kind, 1000}).wire.cpuMs, zero.wire.cpuMs, 1000)
                        : -1;
        for (int count : countsOf(Kind(kind), max))
            printRow(Kind(kind), count, results.at({kind, count}), zero, baseNs, goals);
    }
    const bool flat = goals.worstFlat <= 1.2;
    const bool roundTrip = goals.childrenRatio > 0 && goals.childrenRatio <= 1.5;
    const bool memory = goals.worstPeak <= 3;
    std::printf("\nGoals (on processor time):\n");
    std::printf("  wire cost per item within 20%% of the 1,000-item one: worst %.2fx  %s\n",
                goals.worstFlat, flat ? "met" : "NOT MET");
    std::printf("  GetChildrenEx of 100,000, wire / in process (<= 1.5): %s  %s\n",
                shown(goals.childrenRatio, "%.2f").c_str(), roundTrip ? "met" : "NOT MET");
    if (max >= 1000000)
        std::printf("  every 1,000,000-item listing completed end to end: %s\n",
                    goals.complete ? "yes" : "NO");
    std::printf("  vantreld extra peak / reply bytes (<= 3, from 86,400 items): worst %.2f  %s\n",
                goals.worstPeak, memory ? "met" : "NOT MET");
    return flat && roundTrip && goals.complete && memory;
}

}  // namespace

int main(int argc, char** argv) {
    int max = 1000000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max") == 0 && i + 1 < argc) {
            max = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--max N]\n", argv[0]);
            return 2;
        }
    }
    std::setlocale(LC_ALL, "C.UTF-8");
    Vantrel::CoMsg::setDefaultFilterLevel(Vantrel::CoMsg::ERROR_LEVEL);
    VantrelClient library;
    if (!library.init()) return 1;

    Tree tree(max);
    Clock::time_point start = Clock::now();
    tree.make(max);
    std::printf("tree made in %.1f s\n",
                std::chrono::duration<double>(Clock::now() - start).count());
    Results results;
    measureInProcess(tree, max, results);
    tree.store.reset();
    if (!measureWire(tree, max, "", {CHILDREN_EX, FRAMES_EX, ALLOCATE_EX, PATHS_EX}, results) ||
        !measureWire(tree, max, OLD_PROTOCOL, {CHILDREN_TEXT}, results))
        return 1;
    return report(results, max) ? 0 : 3;
}
