// Frame transfer throughput, printed from one run:
//   - frames of 1, 12 and 50 MiB read through VantrelServerHandle::readFrame from vantreld
//     over loopback (frames in the page cache), beside a raw TCP sender (sendfile of the same
//     file) and receiver into one buffer, and, when nginx and libcurl are there, nginx serving
//     the same file to libcurl writing into one buffer. Beside each throughput, the processor
//     time (user + system) that sender and receiver together spent per GiB moved: wall-clock
//     figures swing on a busy machine, processor time per byte much less. The server and the
//     raw sender run in this process (getrusage); nginx's share is read from /proc;
//   - writeFrame throughput (12 MiB frames; the server does not flush to disk);
//   - frames per second of a 24-frame clip of 1 MiB frames read in order through
//     VantrelNodeHandle::readFrame with hint 1 against hint 0, from a server that adds a fixed
//     delay to every frame read from disk.
// Run it inside a private network namespace: scripts/in-netns.sh build/bench/bench/frame_read_bench
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/sendfile.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if VANTREL_BENCH_CURL
#include <curl/curl.h>
#endif

#include "vantrel/CoMsg.h"
#include "vantrel/VantrelClientAPI.h"
#include "vantrel/server/NodeStore.h"
#include "vantrel/server/ServerTestSupport.h"
#include "vantrel/server/VantreldServer.h"

extern char** environ;

using namespace vantreld;

namespace {

const size_t MIB = 1u << 20;
const int READ_DELAY_MS = 20;
const int CLIP_FRAMES = 24;

double seconds(const std::function<void()>& action) {
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time (user + system) of this process and, when `other` > 0, of that child.
double processorSeconds(pid_t other) {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    double total = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                   usage.ru_stime.tv_usec / 1e6;
    if (other > 0) {
        // Fields 14 and 15 of /proc/PID/stat, after the command name in parentheses.
        std::ifstream stat("/proc/" + std::to_string(other) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        unsigned long long user = 0, system = 0;
        for (int i = 3; i <= 13 && fields >> field; ++i) {
        }
        fields >> user >> system;
        total += static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    return total;
}

struct Measure {
    double mibPerSecond = 0;
    double processorSecondsPerGiB = 0;  // of every timed run
};

// Best of three timings of `reps` runs of `action`, in MiB/s for `bytes` per run, and the
// processor time of all three rounds per GiB (this process and `other`).
Measure throughput(size_t bytes, int reps, const std::function<bool()>& action, pid_t other = 0) {
    action();  // warm up: page cache, connections
    double best = 1e30;
    const double processorBefore = processorSeconds(other);
    const int rounds = 3;
    for (int round = 0; round < rounds; ++round) {
        bool ok = true;
        const double s = seconds([&] {
            for (int i = 0; i < reps && ok; ++i) ok = action();
        });
        if (!ok) return Measure();
        best = std::min(best, s);
    }
    const double gib = static_cast<double>(bytes) * reps * rounds / (1024.0 * MIB);
    Measure measure;
    measure.mibPerSecond = static_cast<double>(bytes) * reps / MIB / best;
    measure.processorSecondsPerGiB = (processorSeconds(other) - processorBefore) / gib;
    return measure;
}

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// Sends the file `path` (sendfile) for every byte it receives on one connection.
class RawSender {
public:
    explicit RawSender(const std::string& path) : path_(path) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(0);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~RawSender() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    int port() const { return port_; }

private:
    void serve() {
        const int peer = ::accept(listener_, nullptr, nullptr);
        if (peer < 0) return;
        const int file = ::open(path_.c_str(), O_RDONLY);
        struct stat facts;
        ::fstat(file, &facts);
        char request;
        while (::recv(peer, &request, 1, 0) == 1) {
            off_t offset = 0;
            while (offset < facts.st_size)
                if (::sendfile(peer, file, &offset, static_cast<size_t>(facts.st_size - offset)) <=
                    0)
                    break;
        }
        ::close(file);
        ::close(peer);
    }

    std::string path_;
    int listener_;
    int port_ = 0;
    std::thread thread_;
};

class RawReceiver {
public:
    explicit RawReceiver(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address = loopback(port);
        ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ~RawReceiver() { ::close(fd_); }
    bool read(char* buffer, size_t size) {
        if (::send(fd_, "r", 1, 0) != 1) return false;
        for (size_t have = 0; have < size;) {
            const ssize_t n = ::recv(fd_, buffer + have, size - have, 0);
            if (n <= 0) return false;
            have += static_cast<size_t>(n);
        }
        return true;
    }

private:
    int fd_;
};

// nginx serving `root` on a loopback port, as a child process of this program.
class Nginx {
public:
    explicit Nginx(const std::string& root, const std::string& work) {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(0);
        ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        ::close(probe);
        std::ofstream(work + "/nginx.conf")
            << "daemon off; master_process off; worker_processes 1; pid " << work << "/nginx.pid;\n"
            << "error_log " << work << "/error.log;\n"
            << "events { worker_connections 64; }\n"
            << "http { access_log off; sendfile on; tcp_nopush on; keepalive_requests 100000;\n"
            << "  client_body_temp_path " << work << "; proxy_temp_path " << work << ";\n"
            << "  server { listen 127.0.0.1:" << port_ << "; root " << root << "; } }\n";
        std::string program = "/usr/sbin/nginx", c = "-c", conf = work + "/nginx.conf", p = "-p",
                    prefix = work;
        char* argv[] = {&program[0], &c[0], &conf[0], &p[0], &prefix[0], nullptr};
        if (::access(program.c_str(), X_OK) != 0 ||
            posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
            pid_ = -1;
            return;
        }
        for (int i = 0; i < 100 && !accepts(); ++i) ::usleep(20000);
    }
    ~Nginx() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    bool running() const { return pid_ > 0; }
    int port() const { return port_; }
    pid_t pid() const { return pid_; }

private:
    bool accepts() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(port_);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }
    pid_t pid_ = -1;
    int port_ = 0;
};

#if VANTREL_BENCH_CURL
// libcurl fetching a URL into one buffer.
class CurlReader {
public:
    CurlReader() : curl_(curl_easy_init()) {
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &CurlReader::write);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
    }
    ~CurlReader() { curl_easy_cleanup(curl_); }
    bool read(const std::string& url, char* buffer, size_t size) {
        buffer_ = buffer;
        size_ = size;
        have_ = 0;
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        return curl_easy_perform(curl_) == CURLE_OK && have_ == size;
    }

private:
    static size_t write(char* data, size_t, size_t n, void* self) {
        CurlReader& reader = *static_cast<CurlReader*>(self);
        const size_t take = std::min(n, reader.size_ - reader.have_);
        std::memcpy(reader.buffer_ + reader.have_, data, take);
        reader.have_ += take;
        return n;
    }
    CURL* curl_;
    char* buffer_ = nullptr;
    size_t size_ = 0, have_ = 0;
};
#endif

struct Clip {
    std::string id;
    std::vector<std::string> frames;
};

Clip makeClip(NodeStore& store, const std::string& name, int frames, size_t frameSize) {
    Clip clip;
    clip.id = store.createNode(NodeStore::ROOT_ID, name, "CLIP", VantrelClipFormat()).id;
    clip.frames = store.allocateFrames(clip.id, frames, nullptr).frames.list();
    std::string bytes(frameSize, '\0');
    for (size_t i = 0; i < frameSize; ++i) bytes[i] = static_cast<char>(i * 31);
    for (const std::string& frame : clip.frames) store.writeFrameData(clip.id, frame, bytes);
    return clip;
}

std::string framePath(const std::string& tree, const std::string& frameId) {
    const std::string serial = frameId.substr(0, frameId.find('.'));
    return tree + "/nodes/" + serial + "/frames/" + frameId;
}

VantreldServer::Options serverOptions(const std::string& tree, int readDelayMs,
                                      const std::string& configFile = "") {
    VantreldServer::Options options;
    options.configFile = configFile;
    options.directory = tree;
    options.port = 0;
    options.framePort = 0;
    options.sync = ServerFiles::Sync::FAST;
    options.benchReadDelayMs = readDelayMs;
    return options;
}

double clipFramesPerSecond(VantrelNodeHandle& clip, const VantrelServerHandle& server, int hint) {
    std::vector<char> buffer(MIB);
    double best = 1e30;
    for (int round = 0; round < 3; ++round) {
        server.invalidateCache();
        bool ok = true;
        const double s = seconds([&] {
            for (int i = 0; i < CLIP_FRAMES && ok; ++i)
                ok = clip.readFrame(i, nullptr, 0, buffer.data(), MIB,
                                    VantrelNodeHandle::ReadAheadHint(hint));
        });
        if (!ok) return 0;
        best = std::min(best, s);
    }
    return CLIP_FRAMES / best;
}

// Frame reads beside raw TCP and nginx + libcurl, then writes, on one server (which holds the
// tree's lock while it runs).
void measureTransfers(const std::string& tree, const std::string& work,
                      const std::vector<Clip>& clips, const size_t* sizes, const int* reps) {
    VantreldThread server(serverOptions(tree, 0));
    VantrelServerHandle handle(("127.0.0.1:" + std::to_string(server.nodePort())).c_str());

    std::printf("%-8s %21s %21s %21s %8s %8s\n", "frame", "readFrame", "raw TCP", "nginx+curl",
                "vs raw", "vs nginx");
    std::printf("%-8s %21s %21s %21s %8s %8s\n", "", "MiB/s   cpu s/GiB", "MiB/s   cpu s/GiB",
                "MiB/s   cpu s/GiB", "", "");
    for (size_t k = 0; k < 3; ++k) {
        std::vector<char> buffer(sizes[k]);
        const std::string& frameId = clips[k].frames[0];
        const Measure frames = throughput(sizes[k], reps[k], [&] {
            return handle.readFrame(frameId.c_str(), buffer.data(),
                                    static_cast<unsigned>(sizes[k]));
        });
        RawSender sender(framePath(tree, frameId));
        RawReceiver receiver(sender.port());
        const Measure raw =
            throughput(sizes[k], reps[k], [&] { return receiver.read(buffer.data(), sizes[k]); });
        Measure web;
#if VANTREL_BENCH_CURL
        Nginx nginx(tree, work);
        if (nginx.running()) {
            CurlReader curl;
            const std::string url =
                "http://127.0.0.1:" + std::to_string(nginx.port()) + framePath("", frameId);
            web = throughput(
                sizes[k], reps[k], [&] { return curl.read(url, buffer.data(), sizes[k]); },
                nginx.pid());
        }
#endif
        const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0; };
        std::printf("%3zu MiB %10.0f %10.3f %10.0f %10.3f %10.0f %10.3f %8.2f %8.2f\n",
                    sizes[k] / MIB, frames.mibPerSecond, frames.processorSecondsPerGiB,
                    raw.mibPerSecond, raw.processorSecondsPerGiB, web.mibPerSecond,
                    web.processorSecondsPerGiB, ratio(frames.mibPerSecond, raw.mibPerSecond),
                    ratio(frames.mibPerSecond, web.mibPerSecond));
        std::printf("%8s processor time per GiB vs raw TCP %.2f, vs nginx+curl %.2f\n", "",
                    ratio(frames.processorSecondsPerGiB, raw.processorSecondsPerGiB),
                    ratio(frames.processorSecondsPerGiB, web.processorSecondsPerGiB));
    }

    {
        std::vector<char> data(12 * MIB, 'w');
        const std::string frameId = clips[1].frames[0];
        const Measure writes = throughput(data.size(), 10, [&] {
            return handle.writeFrame(frameId.c_str(), data.data(),
                                     static_cast<unsigned>(data.size()));
        });
        std::printf("writeFrame, 12 MiB frames: %.0f MiB/s, %.3f processor s/GiB\n",
                    writes.mibPerSecond, writes.processorSecondsPerGiB);
    }

}

}  // namespace

int main() {
    Vantrel::CoMsg::setDefaultFilterLevel(Vantrel::CoMsg::ERROR_LEVEL);
    testing::TempDir dir(ServerFiles::isDirectory("/dev/shm") ? "/dev/shm" : "/tmp");
    const std::string tree = dir / "tree";
    const size_t sizes[] = {1 * MIB, 12 * MIB, 50 * MIB};
    const int reps[] = {200, 20, 5};
    std::vector<Clip> clips;
    Clip slow;
    {
        NodeStore store(tree, ServerFiles::Sync::FAST);
        for (size_t size : sizes)
            clips.push_back(makeClip(store, std::to_string(size / MIB) + " MiB", 1, size));
        slow = makeClip(store, "slow", CLIP_FRAMES, MIB);
    }
    VantrelClient library;
    if (!library.init()) return 1;
    measureTransfers(tree, dir.path(), clips, sizes, reps);

    // The server advises its number of read-aheads; hint 1 reads that many frames ahead.
    for (int readAheads : {2, 4}) {
        const std::string config = dir / ("readaheads-" + std::to_string(readAheads) + ".cfg");
        std::ofstream(config) << "[Server]\nReadAheads = " << readAheads << "\n";
        VantreldThread slowServer(serverOptions(tree, READ_DELAY_MS, config));
        VantrelServerHandle slowHandle(
            ("127.0.0.1:" + std::to_string(slowServer.nodePort())).c_str());
        VantrelNodeHandle clip(slowHandle, slow.id.c_str());
        const double plain = clipFramesPerSecond(clip, slowHandle, 0);
        const double ahead = clipFramesPerSecond(clip, slowHandle, 1);
        // The share of the storage delay that read-ahead takes off the time per frame.
        const double hidden = (1.0 / plain - 1.0 / ahead) / (READ_DELAY_MS / 1000.0);
        std::printf(
            "24-frame clip, 1 MiB frames, storage delay %d ms per frame, %d read-aheads: hint 0 "
            "%.1f frames/s, hint 1 %.1f frames/s (%.2fx); delay hidden: %.0f%%\n",
            READ_DELAY_MS, readAheads, plain, ahead, ahead / plain, 100.0 * hidden);
    }
    return 0;
}
