// What being told of a change costs: a metadata write through the client library against an
// in-process vantreld, alone (the baseline) and followed by the wait until the handler
// registered on that node has seen the event, measured in the same run. The ratio of the two
// times is printed at the end.
//
//     build/bench/bench/node_event_bench
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "vantrel/VantrelClientAPI.h"
#include "vantrel/server/ServerTestSupport.h"
#include "vantrel/server/VantreldServer.h"

namespace {

// Counts the events it is given; waitFor() blocks until a number is reached.
class CountingHandler : public VantrelNodeEvent::Handler {
public:
    void handleEvent(const VantrelNodeEvent&) override {
        std::lock_guard<std::mutex> guard(lock_);
        ++count_;
        seen_.notify_all();
    }
    void waitFor(long count) {
        std::unique_lock<std::mutex> guard(lock_);
        seen_.wait(guard, [&] { return count_ >= count; });
    }

private:
    std::mutex lock_;
    std::condition_variable seen_;
    long count_ = 0;
};

// The library, a server on a fresh tree and one volume, made once for every benchmark.
struct Setting {
    vantreld::testing::TempDir dir;
    std::unique_ptr<vantreld::VantreldThread> server;
    std::unique_ptr<VantrelServerHandle> handle;
    VantrelNodeHandle volume;

    Setting() {
        VantrelClientInit();
        vantreld::VantreldServer::Options options;
        options.directory = dir / "tree";
        options.port = 0;
        options.sync = vantreld::ServerFiles::Sync::FAST;
        server.reset(new vantreld::VantreldThread(options));
        const std::string id = "127.0.0.1:" + std::to_string(server->nodePort());
        handle.reset(new VantrelServerHandle(id.c_str()));
        VantrelNodeHandle root;
        if (!handle->getRootNode(root) || !root.createNode("Bench", "VOLUME", volume))
            std::fprintf(stderr, "set-up failed: %s\n", handle->lastError());
    }
    static Setting& get() {
        static Setting setting;
        return setting;
    }
};

double writeSeconds = 0;
double toldSeconds = 0;

void BM_MetaDataWrite(benchmark::State& state) {
    Setting& s = Setting::get();
    for (auto _ : state)
        if (!s.volume.setMetaData("notes", "x")) state.SkipWithError(s.handle->lastError());
}

void BM_MetaDataWriteUntilTold(benchmark::State& state) {
    Setting& s = Setting::get();
    CountingHandler handler;
    if (!s.handle->registerEventHandler(s.volume.getNodeId(), &handler)) {
        state.SkipWithError(s.handle->lastError());
        return;
    }
    long sent = 0;
    for (auto _ : state) {
        if (!s.volume.setMetaData("notes", "x")) state.SkipWithError(s.handle->lastError());
        handler.waitFor(++sent);
    }
    s.handle->unregisterEventHandler(s.volume.getNodeId(), &handler);
}

// Keeps the mean time per iteration of each benchmark for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const double perIteration = run.GetAdjustedRealTime();
            const std::string name = run.benchmark_name();
            if (name.rfind("BM_MetaDataWriteUntilTold", 0) == 0)
                toldSeconds = perIteration;
            else if (name.rfind("BM_MetaDataWrite", 0) == 0)
                writeSeconds = perIteration;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

BENCHMARK(BM_MetaDataWrite)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MetaDataWriteUntilTold)->UseRealTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (writeSeconds > 0)
        std::printf("write and be told / write alone: %.2f\n", toldSeconds / writeSeconds);
    return 0;
}
