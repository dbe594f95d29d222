// Soak: mixed work (listings, metadata, frame writes and reads, event registrations) from
// several threads against two vantreld on sample trees, one of which is killed and restarted
// on the same ports every interval. Once an interval it prints the calls made, the calls that
// failed while the server they called was up (goal: none; a frame or metadata read that comes
// back with other bytes than were written counts as failed), those that met a restart, and the
// process's resident memory and open descriptors (goal: flat after the first interval).
//
// Run inside a private network namespace (loopback only):
//   scripts/in-netns.sh build/release/bench/soak_bench [SECONDS [INTERVAL_SECONDS [THREADS]]]
// Defaults: 600 seconds, a restart and a report every 60, 6 threads. VANTREL_SOAK_SECONDS sets
// the duration when no argument does.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ServerHandleTestSupport.h"
#include "vantrel/VantrelClientAPI.h"

namespace {

using client_testing::TestServer;
typedef std::chrono::steady_clock Clock;

const char* const REEL = "/Volume 1/Feature Film/Vault/Main/Reel 1";
constexpr unsigned FRAME_BYTES = 256 * 1024;
constexpr int FRAMES = 4;

// A server the workers call. `changes` is even while it is up: its kill makes it odd and its
// ready line even again, so a call that saw the same even value before and after ran while the
// server was up.
struct Target {
    std::string id;
    std::atomic<unsigned long> changes{0};
};

struct Tally {
    std::atomic<unsigned long> calls{0};
    std::atomic<unsigned long> failedWhileUp{0};
    std::atomic<unsigned long> failedAtRestart{0};
    std::mutex lock;
    std::string lastFailure;  // the text of the last failure while both were up
};
Tally tally;

// A server handle with the target it calls.
struct Link {
    VantrelServerHandle handle;
    const Target& target;
    VantrelNodeId clip;       // the worker's own clip there
    bool registered = false;  // for the clip's events
    explicit Link(const Target& t) : handle(t.id.c_str()), target(t) {}
};

// Runs one call on `link` and counts it; `describe` names it in the failure text.
template <class Call>
bool counted(const char* describe, const Link& link, Call call) {
    const unsigned long before = link.target.changes;
    const bool ok = call();
    ++tally.calls;
    if (ok) return true;
    const VantrelServerHandle& server = link.handle;
    if (before % 2 == 0 && link.target.changes == before) {
        ++tally.failedWhileUp;
        std::lock_guard<std::mutex> guard(tally.lock);
        tally.lastFailure =
            std::string(describe) + " on " + server.getIdStr() + ": " + server.lastError();
    } else {
        ++tally.failedAtRestart;
    }
    return false;
}

class CountingHandler : public VantrelNodeEvent::Handler {
public:
    void handleEvent(const VantrelNodeEvent&) override { ++events; }
    std::atomic<unsigned long> events{0};
};

std::vector<char> framePattern(int thread, unsigned long round) {
    std::vector<char> bytes(FRAME_BYTES);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 13 + static_cast<size_t>(thread) * 7 + round) & 0xff);
    return bytes;
}

// The worker's clip on `link`'s server, found under the sample reel or made there; false when
// the server cannot be had.
bool findOrMakeClip(Link& link, int thread) {
    const std::string name = "Soak " + std::to_string(thread);
    VantrelNodeHandle reel, clip;
    if (!VantrelResolveDisplayPath(link.handle, REEL, reel)) return false;
    if (!VantrelFindChild(reel, name.c_str(), clip)) {
        const VantrelClipFormat format(256, 256, 32, 4, FRAME_BYTES, 24.0f, 1.0f,
                                       VantrelClipFormat::progressive, "rgba", "", "");
        if (!reel.createClipNode(name.c_str(), format, "CLIP", clip)) return false;
    }
    link.clip = clip.getNodeId();
    return clip.setNumFrames(FRAMES);
}

void listReel(const Link& link) {
    VantrelNodeHandle reel;
    int children = 0;
    if (!counted("listing", link,
                 [&] { return VantrelResolveDisplayPath(link.handle, REEL, reel); }) ||
        !counted("children", link, [&] { return reel.getNumChildren(children); }))
        return;
    for (int i = 0; i < children; ++i) {
        VantrelNodeHandle child;
        VantrelStr name;
        counted("child", link,
                [&] { return reel.getChild(i, child) && child.getDisplayName(name); });
    }
}

void writeAndReadMetadata(const Link& link, unsigned long round) {
    const VantrelNodeHandle clip(link.handle, link.clip);
    const std::string note = "round " + std::to_string(round);
    VantrelStr read;
    counted("metadata write", link, [&] { return clip.setMetaData("notes", note.c_str()); });
    counted("metadata read", link,
            [&] { return clip.getMetaData("notes", nullptr, 0, read) && note == read.c_str(); });
}

void writeAndReadFrame(const Link& link, int thread, unsigned long round) {
    VantrelNodeHandle clip(link.handle, link.clip);
    const int index = static_cast<int>(round % FRAMES);
    const std::vector<char> written = framePattern(thread, round);
    std::vector<char> back(FRAME_BYTES);
    if (counted("frame write", link, [&] {
            return clip.writeFrame(index, written.data(), static_cast<int>(FRAME_BYTES));
        }))
        counted("frame read", link, [&] {
            return clip.readFrame(index, back.data(), static_cast<int>(FRAME_BYTES), true) &&
                   back == written;
        });
}

// Registers for the clip's events in the first half of every 8 rounds, so that the metadata
// and frame writes of the next rounds are told, and unregisters in the second.
void registerOrUnregister(Link& link, CountingHandler& handler, unsigned long round) {
    if (round % 8 == 0 && !link.registered)
        link.registered = counted("register", link, [&] {
            return link.handle.registerEventHandler(link.clip, &handler);
        });
    else if (round % 8 == 4 && link.registered)
        link.registered = !counted("unregister", link, [&] {
            return link.handle.unregisterEventHandler(link.clip, &handler);
        });
}

void worker(std::vector<Target>& targets, int thread, const std::atomic<bool>& done,
            std::atomic<unsigned long>& events) {
    std::vector<std::unique_ptr<Link>> links;
    for (const Target& target : targets) {
        links.emplace_back(new Link(target));
        while (!findOrMakeClip(*links.back(), thread) && !done)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a restart under way
    }
    CountingHandler handler;
    for (unsigned long round = 0; !done; ++round) {
        for (auto& link : links) {
            listReel(*link);
            writeAndReadMetadata(*link, round);
            writeAndReadFrame(*link, thread, round);
            registerOrUnregister(*link, handler, round);
        }
    }
    events += handler.events;
}

long residentKiB() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

void report(int minute, unsigned long& lastCalls, int restarts) {
    const unsigned long calls = tally.calls;
    std::string last;
    {
        std::lock_guard<std::mutex> guard(tally.lock);
        last.swap(tally.lastFailure);
    }
    std::printf(
        "interval %2d: calls %8lu (+%7lu)  failed while up %lu  failed at a restart %lu"
        "  restarts %d  rss %ld KiB  descriptors %d%s%s\n",
        minute, calls, calls - lastCalls, tally.failedWhileUp.load(), tally.failedAtRestart.load(),
        restarts, residentKiB(), client_testing::openDescriptors(),
        last.empty() ? "" : "  last failure: ", last.c_str());
    std::fflush(stdout);
    lastCalls = calls;
}

int argument(int argc, char** argv, int index, const char* variable, int fallback) {
    if (argc > index) return std::atoi(argv[index]);
    const char* value = variable != nullptr ? std::getenv(variable) : nullptr;
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argument(argc, argv, 1, "VANTREL_SOAK_SECONDS", 600);
    const int interval = std::max(1, argument(argc, argv, 2, nullptr, 60));
    const int threads = std::max(1, argument(argc, argv, 3, nullptr, 6));
    VantrelClient library;
    if (!library.init()) return 1;
    VantrelClientSetCallTimeout(10000);  // no call may hang the soak
    TestServer steady({}, "", TestServer::Tree::SAMPLE),
        restarted({}, "", TestServer::Tree::SAMPLE);
    if (!steady.running() || !restarted.running()) {
        std::fprintf(stderr, "the servers did not start\n");
        return 1;
    }
    std::printf("soak: %d s, %d threads, %s steady, %s restarted every %d s\n", seconds, threads,
                steady.id().c_str(), restarted.id().c_str(), interval);
    std::vector<Target> targets(2);
    targets[0].id = steady.id();
    targets[1].id = restarted.id();
    std::atomic<bool> done{false};
    std::atomic<unsigned long> events{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back(worker, std::ref(targets), t, std::cref(done), std::ref(events));

    const Clock::time_point start = Clock::now();
    unsigned long lastCalls = 0;
    int restarts = 0, failedRestarts = 0;
    for (int n = 1; n * interval <= seconds; ++n) {
        std::this_thread::sleep_until(start + std::chrono::seconds(n * interval));
        report(n, lastCalls, restarts);
        if ((n + 1) * interval > seconds) break;
        ++targets[1].changes;
        failedRestarts += restarted.restart() ? 0 : 1;
        ++targets[1].changes;
        ++restarts;
    }
    done = true;
    for (std::thread& t : workers) t.join();
    std::printf(
        "done: %lu calls, %lu failed while both up, %lu at a restart, %d restarts "
        "(%d failed), %lu events\n",
        tally.calls.load(), tally.failedWhileUp.load(), tally.failedAtRestart.load(), restarts,
        failedRestarts, events.load());
    return tally.failedWhileUp == 0 ? 0 : 2;
}
