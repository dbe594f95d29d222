// Listing a node with many children: the "GetChildren" and "GetChildrenEx" replies of
// vantreld, built by the method handlers, and the same over the wire through a loopback
// connection. Each is measured for 1,000 children (the baseline), 10,000 and 100,000; the
// "per_child" counter shows whether the cost per child stays flat (linear replies) or grows
// with the count (a quadratic build would make it 100 times the baseline at 100,000).
//
//   vantreld_listing_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <memory>

#include "loggerBase/CoMsg.h"
#include "rcApi/rcAPI.h"
#include "vantrel/server/MethodDispatcher.h"
#include "vantrel/server/NodeMethods.h"
#include "vantrel/server/NodeStore.h"
#include "vantrel/server/RequestLog.h"
#include "vantrel/server/ServerSettings.h"
#include "vantrel/server/ServerTestSupport.h"
#include "vantrel/server/VantreldServer.h"

using namespace vantreld;

namespace {

const int COUNTS[] = {1000, 10000, 100000};
const int NUM_COUNTS = 3;

// A tree with one FOLDER per count in COUNTS, holding that many CLIP children; made once, in
// memory-backed storage when there is some (making 111,000 node folders on a disk is slow),
// and kept open. The server for the wire measures is started once, on the same directory.
struct Tree {
    testing::TempDir dir{ServerFiles::isDirectory("/dev/shm") ? "/dev/shm" : "/tmp"};
    std::unique_ptr<NodeStore> store;
    std::string folders[NUM_COUNTS];
    ServerSettings settings;
    std::unique_ptr<NodeMethods> methods;
    std::unique_ptr<MethodDispatcher> dispatcher;
    std::unique_ptr<VantreldThread> server;

    Tree() {
        Vantrel::CoMsg::setDefaultFilterLevel(Vantrel::CoMsg::ERROR_LEVEL);
        store.reset(new NodeStore(dir / "tree", ServerFiles::Sync::FAST));
        const std::string volume =
            store->createNode("host", "Volume", "VOLUME", VantrelClipFormat()).id;
        for (int i = 0; i < NUM_COUNTS; ++i) {
            folders[i] = store
                             ->createNode(volume, "Folder " + std::to_string(COUNTS[i]), "FOLDER",
                                          VantrelClipFormat())
                             .id;
            for (int k = 0; k < COUNTS[i]; ++k)
                store->createNode(folders[i], "Shot " + std::to_string(k) + " \xc3\xa9t\xc3\xa9",
                                  "CLIP", VantrelClipFormat());
        }
        methods.reset(new NodeMethods(*store, settings));
        dispatcher.reset(new MethodDispatcher(ProtocolVersion(), nullptr));
        methods->registerWith(*dispatcher);
    }
    static Tree& get() {
        static Tree tree;
        return tree;
    }
    int serverPort() {
        if (!server) {
            VantreldServer::Options options;
            options.directory = dir / "tree";
            options.port = 0;
            options.sync = ServerFiles::Sync::FAST;
            server.reset(new VantreldThread(options));
        }
        return server->nodePort();
    }
};

std::string quotedId(const std::string& id) { return "\"" + id + "\""; }

void setCounters(benchmark::State& state, int which) {
    state.counters["children"] = COUNTS[which];
    state.counters["per_child"] = benchmark::Counter(
        static_cast<double>(COUNTS[which]),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void listInProcess(benchmark::State& state, const char* method) {
    Tree& tree = Tree::get();
    const int which = static_cast<int>(state.range(0));
    Request request;
    request.method = method;
    request.args = quotedId(tree.folders[which]);
    size_t bytes = 0;
    for (auto _ : state) {
        const Reply reply = tree.dispatcher->dispatch(request);
        if (!reply.ok) state.SkipWithError(reply.text.c_str());
        bytes = reply.text.size();
        benchmark::DoNotOptimize(reply.text.data());
    }
    setCounters(state, which);
    state.counters["reply_bytes"] = static_cast<double>(bytes);
}

void listOverTheWire(benchmark::State& state, const char* method) {
    Tree& tree = Tree::get();
    const int which = static_cast<int>(state.range(0));
    Vantrel::rcAPI client;
    if (!client.connect("127.0.0.1", tree.serverPort(), 5000)) {
        state.SkipWithError(client.lastError().c_str());
        return;
    }
    const std::string args = quotedId(tree.folders[which]);
    std::string reply;
    for (auto _ : state) {
        if (!client.call(0, method, args.c_str(), true, reply, 60000))
            state.SkipWithError(reply.c_str());
    }
    setCounters(state, which);
}

void BM_GetChildren(benchmark::State& state) { listInProcess(state, "GetChildren"); }
void BM_GetChildrenEx(benchmark::State& state) { listInProcess(state, "GetChildrenEx"); }
void BM_GetChildrenWire(benchmark::State& state) { listOverTheWire(state, "GetChildren"); }
void BM_GetChildrenExWire(benchmark::State& state) { listOverTheWire(state, "GetChildrenEx"); }

}  // namespace

// Wall-clock time throughout: over the wire most of the work is the server thread's.
BENCHMARK(BM_GetChildren)
    ->DenseRange(0, NUM_COUNTS - 1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetChildrenEx)
    ->DenseRange(0, NUM_COUNTS - 1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetChildrenWire)
    ->DenseRange(0, NUM_COUNTS - 1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetChildrenExWire)
    ->DenseRange(0, NUM_COUNTS - 1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
