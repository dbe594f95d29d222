// Round trips per second of a remote call (rcAPI::call against an rcServerContext) beside a
// raw TCP ping-pong of the same bytes on loopback, measured in the same run.
//
// Two sizes: "_ping" (a 14-byte request line) and a method with a 1 KiB argument; both answer
// "ok \n". The raw baseline sends a line of the same length and reads the same 4-byte answer
// from a plain poll/recv/send server. At the end the ratio of the times (rcAPI / raw) is printed
// for each size.
//
//     build/bench/bench/rc_roundtrip_bench
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "vantrel/CoMsg.h"
#include "rcApi/rcAPI.h"
#include "rcApi/rcMessage.h"
#include "rcApi/rcServerContext.h"

using namespace Vantrel;

namespace {

constexpr int PAYLOAD_SIZES[] = {0, 1024};

// ----------------------------------------------------------------------- remote-call server

bool take(void*, const rcMethod&, const rcParam::Array&, rcParam&) { return true; }

class BenchServer {
public:
    BenchServer() : context_(-1), stop_(false) {
        static const rcParam::Info blob[] = {{&rcParamString::TYPE, "blob"}, {nullptr, nullptr}};
        context_.registerMethod(rcMethod(context_, "Take", take, rcParamVoid::TYPE, blob));
        thread_ = std::thread([this] {
            const timeval pass = {0, 100000};
            while (!stop_) context_.callIOHandlers(false, pass);
        });
    }
    ~BenchServer() {
        stop_ = true;
        thread_.join();
    }
    int port() const { return context_.getPort(); }

private:
    rcServerContext context_;
    std::atomic<bool> stop_;
    std::thread thread_;
};

// -------------------------------------------------------------------------------- raw peers

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void noDelay(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool sendAll(int fd, const char* bytes, size_t count) {
    while (count > 0) {
        const ssize_t n = send(fd, bytes, count, MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

// Answers "ok \n" to every line, with poll, recv and send: the least a line server can do.
class RawServer {
public:
    RawServer() : listener_(socket(AF_INET, SOCK_STREAM, 0)), stop_(false) {
        sockaddr_in address = loopback(0);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 5);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~RawServer() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    int port() const { return port_; }

private:
    void serve() {
        int client = -1;
        char bytes[32768];
        while (!stop_) {
            pollfd p{client >= 0 ? client : listener_, POLLIN, 0};
            if (poll(&p, 1, 100) != 1) continue;
            if (client < 0) {
                client = accept(listener_, nullptr, nullptr);
                noDelay(client);
                continue;
            }
            const ssize_t n = recv(client, bytes, sizeof bytes, 0);
            if (n <= 0) {
                close(client);
                client = -1;
                continue;
            }
            for (ssize_t i = 0; i < n; ++i)
                if (bytes[i] == '\n') sendAll(client, "ok \n", 4);
        }
        if (client >= 0) close(client);
    }

    int listener_;
    int port_;
    std::atomic<bool> stop_;
    std::thread thread_;
};

// The request line rcAPI sends for `size` payload bytes: "_ping" without, "Take" with.
std::string requestFor(int size) {
    rcCommand command;
    command.setMode(rcCommand::SYNC);
    command.setObjectId(0);
    command.setMethod(size == 0 ? "_ping" : "Take");
    command.setArgs(std::string(static_cast<size_t>(size), 'p').c_str());
    return command.toString();
}

// ------------------------------------------------------------------------------ benchmarks

void BM_RemoteCall(benchmark::State& state) {
    static BenchServer server;
    const int size = static_cast<int>(state.range(0));
    rcAPI api;
    if (!api.connect("127.0.0.1", server.port(), 5000)) {
        state.SkipWithError(api.lastError().c_str());
        return;
    }
    const std::string payload(static_cast<size_t>(size), 'p');
    const char* method = size == 0 ? "_ping" : "Take";
    std::string result;
    for (auto _ : state) {
        if (!api.call(0, method, payload.c_str(), true, result, 5000)) {
            state.SkipWithError(result.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::to_string(requestFor(size).size()) + "-byte request");
}

void BM_RawPingPong(benchmark::State& state) {
    static RawServer server;
    const std::string line = requestFor(static_cast<int>(state.range(0)));
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(server.port());
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        state.SkipWithError("cannot connect");
        close(fd);
        return;
    }
    noDelay(fd);
    char reply[64];
    for (auto _ : state) {
        sendAll(fd, line.data(), line.size());
        size_t got = 0;
        while (got == 0 || reply[got - 1] != '\n') {
            const ssize_t n = recv(fd, reply + got, sizeof reply - got, 0);
            if (n <= 0) {
                state.SkipWithError("raw peer closed");
                close(fd);
                return;
            }
            got += static_cast<size_t>(n);
        }
    }
    close(fd);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::to_string(line.size()) + "-byte request");
}

// Repeated, and run in random interleaving (see main), so that a change of load on the machine
// during the run touches both sides alike; the ratio is taken between medians.
BENCHMARK(BM_RemoteCall)->Arg(PAYLOAD_SIZES[0])->Arg(PAYLOAD_SIZES[1])->UseRealTime()
    ->Repetitions(5)->MinTime(0.5);
BENCHMARK(BM_RawPingPong)->Arg(PAYLOAD_SIZES[0])->Arg(PAYLOAD_SIZES[1])->UseRealTime()
    ->Repetitions(5)->MinTime(0.5);

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Prints as usual and keeps the real time per round trip of each repetition, by name.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.iterations > 0 && run.run_type == Run::RT_Iteration)
                seconds_[run.run_name.function_name + "/" + run.run_name.args].push_back(
                    run.real_accumulated_time / static_cast<double>(run.iterations));
    }

    void printRatios() const {
        std::printf("\nround trip (median of repetitions), rcAPI / raw TCP (goal: at most 1.30)\n");
        for (int size : PAYLOAD_SIZES) {
            const std::string arg = "/" + std::to_string(size);
            const auto rc = seconds_.find("BM_RemoteCall" + arg);
            const auto raw = seconds_.find("BM_RawPingPong" + arg);
            if (rc == seconds_.end() || raw == seconds_.end()) continue;
            const double rcSeconds = median(rc->second), rawSeconds = median(raw->second);
            std::printf("  %5d payload bytes: rcAPI %8.1f us, raw %8.1f us, ratio %.2f\n", size,
                        rcSeconds * 1e6, rawSeconds * 1e6, rcSeconds / rawSeconds);
        }
    }

private:
    std::map<std::string, std::vector<double>> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
    CoMsg::setFilterLevel(CoMsg::ERROR_LEVEL);
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);  // flags given on the command line come after
    argc = static_cast<int>(args.size());
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
