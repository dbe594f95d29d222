// vantreld's memory under requests that used to make it grow: the peak resident memory of the
// server process (VmHWM) stays under a bound. Skipped in sanitizer builds, whose allocators
// keep freed memory on purpose.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "VantreldProcess.h"
#include "rcApi/rcAPI.h"
#include "vantrel/server/ServerTestSupport.h"

using vantreld::testing::stream;
using vantreld::testing::TempDir;
using vantreld::testing::VantreldProcess;
using namespace std::string_literals;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const bool SANITIZED = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
const bool SANITIZED = true;
#else
const bool SANITIZED = false;
#endif
#else
const bool SANITIZED = false;
#endif

const long long MB = 1024 * 1024;

// Peak resident memory of a process in bytes, from /proc; -1 when unreadable.
long long peakResident(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string word;
    while (status >> word)
        if (word == "VmHWM:") {
            long long kb = -1;
            status >> kb;
            return kb * 1024;
        }
    return -1;
}

class VantreldMemory : public ::testing::Test {
protected:
    void SetUp() override {
        if (SANITIZED) GTEST_SKIP() << "sanitizer allocators hold freed memory";
    }
    void start(std::vector<std::string> extra = {}) {
        client_.reset();
        server_.reset();
        extra.insert(extra.end(), {"--no-sync", "--port", "0", dir_ / "tree"});
        server_.reset(new VantreldProcess(extra));
        const int port = server_->waitUntilReady();
        ASSERT_GT(port, 0);
        client_.reset(new Vantrel::rcAPI);
        ASSERT_TRUE(client_->connect("127.0.0.1", port, 5000));
    }
    bool call(const std::string& method, const std::string& args, std::string& reply) {
        return client_->call(0, method.c_str(), args.c_str(), true, reply, 60000);
    }
    std::string clip(const std::string& name) {
        std::string volume, project, vault, library, reply;
        EXPECT_TRUE(call("CreateNodeEx",
                         stream({{"Parent", "host"}, {"Displ", name}, {"Type", "0"},
                                 {"ExType", "VOLUME"}}),
                         volume));
        std::string parent = volume;
        for (const char* type : {"PROJECT", "SHARED_VAULT", "LIBRARY", "CLIP"}) {
            EXPECT_TRUE(call("CreateNodeEx",
                             stream({{"Parent", parent}, {"Displ", type}, {"Type", "0"},
                                     {"ExType", type}}),
                             reply))
                << reply;
            parent = reply;
        }
        return parent;
    }
    long long peak() const { return peakResident(server_->pid()); }
    int framePort() const { return server_->framePort(); }
    // Makes the peak the current resident memory, and gives that.
    long long resetPeak() const {
        std::ofstream("/proc/" + std::to_string(server_->pid()) + "/clear_refs") << "5";
        return peak();
    }

    TempDir dir_;
    std::unique_ptr<VantreldProcess> server_;
    std::unique_ptr<Vantrel::rcAPI> client_;
};

}  // namespace

// 25 requests of 16 MB each: the request log keeps a bounded amount of them.
TEST_F(VantreldMemory, TheRequestLogStaysBoundedInBytes) {
    start();
    const std::string big(16 * MB, 'x');
    for (int i = 0; i < 25; ++i) {
        std::string reply;
        ASSERT_TRUE(call("QueryVersion", big, reply)) << reply;
    }
    EXPECT_LT(peak(), 250 * MB);  // all 25 kept: above 400 MB
}

// Frame path lists far over the frame limit are refused before they are split.
TEST_F(VantreldMemory, OversizedFramePathListsAreRefusedBeforeTheyAreBuilt) {
    start();
    const std::string id = clip("v");
    std::string reply;
    EXPECT_FALSE(call("SetFramePaths", "\"" + id + "\" host 3 \"\" " + std::string(16 * MB, ','),
                      reply));
    EXPECT_EQ(reply, "Limit reached: the server holds at most 1000000 frames per node "
                     "(MaxFramesPerNode)");
    EXPECT_FALSE(call("SetFramePathsEx",
                      stream({{"Parent", id},
                              {"Paths", "8000000 " + std::string(16 * MB, '0')},
                              {"HostName", "h"},
                              {"OSType", "3"}}),
                      reply));
    EXPECT_EQ(reply, "Limit reached: the server holds at most 1000000 frames per node "
                     "(MaxFramesPerNode)");
    EXPECT_LT(peak(), 250 * MB);  // split: 8 million strings, over 500 MB
}

// Twenty clips of a million frames each, then a restart on the same tree.
TEST_F(VantreldMemory, MillionFrameClipsCostLittleAndLoadFast) {
    start();
    for (int i = 0; i < 20; ++i) {
        std::string reply;
        ASSERT_TRUE(call("AllocateFramesEx",
                         stream({{"Node", clip("v" + std::to_string(i))}, {"NumFrames", "1000000"}}),
                         reply));
        ASSERT_EQ(reply.compare(0, 8, "1000000 "), 0);
    }
    EXPECT_LT(peak(), 200 * MB);  // a string per frame id: about 1 GB
    std::string reply;
    EXPECT_FALSE(call("AllocateFramesEx", stream({{"Node", clip("over")}, {"NumFrames", "1000000"}}),
                      reply));
    EXPECT_EQ(reply, "Limit reached: the server holds at most 20000000 frames (MaxFramesPerServer)");

    start();
    EXPECT_LT(peak(), 50 * MB);  // loading a string per frame id: over 600 MB
}

// Ten clips, each linked to a million short frame paths, then a restart on the same tree.
TEST_F(VantreldMemory, MillionPathClipsCostTheirBytesAndLittleMore) {
    start();
    std::string paths;
    for (int i = 0; i < 1000000; ++i) paths += i == 0 ? "p" : ",p";
    for (int i = 0; i < 10; ++i) {
        std::string reply;
        ASSERT_TRUE(call("SetFramePaths", "\"" + clip("v" + std::to_string(i)) + "\" h 3 \"\" " + paths,
                         reply))
            << reply;
    }
    EXPECT_LT(peak(), 200 * MB);  // a string per path: over 400 MB
    start();
    EXPECT_LT(peak(), 150 * MB);  // loading a string per path: over 350 MB
}

// A list of a million frame ids (about 10 MB) is the first large reply of the server: built
// once and queued once, it takes at most three times its size of extra memory (a copy of the
// reply at each step of the way took six).
TEST_F(VantreldMemory, ALargeReplyCostsAtMostThreeTimesItsSize) {
    start();
    const std::string id = clip("v");
    const long long before = resetPeak();
    std::string reply;
    ASSERT_TRUE(call("AllocateFramesEx", stream({{"Node", id}, {"NumFrames", "1000000"}}), reply))
        << reply;
    ASSERT_GT(reply.size(), size_t(8 * MB));
    EXPECT_LT(peak() - before, 3 * static_cast<long long>(reply.size())) << reply.size();
}

namespace {

// A data connection to the frame port, speaking the frame protocol raw.
class FrameConnection {
public:
    explicit FrameConnection(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~FrameConnection() { ::close(fd_); }
    bool connected() const { return connected_; }
    void send(const std::string& bytes) {
        for (size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
    }
    // Reads and drops `size` bytes; false when the connection ends first.
    bool drain(size_t size) {
        std::vector<char> sink(1 << 20);
        while (size > 0) {
            const ssize_t n = ::recv(fd_, sink.data(), std::min(size, sink.size()), 0);
            if (n <= 0) return false;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    // Bytes up to and including the next NUL.
    std::string field() {
        std::string text;
        char c = 1;
        while (c != 0 && ::recv(fd_, &c, 1, 0) == 1) text += c;
        return text;
    }

private:
    int fd_;
    bool connected_ = false;
};

std::string request(const std::string& command, const std::string& argument, long long number) {
    return command + '\0' + argument + '\0' + std::to_string(number) + '\0';
}

}  // namespace

// Four frames of 48 MiB with a read-ahead cache of 32 MiB: read-aheads of them hold nothing
// (each was read whole and then dropped: 200 MB), and a stream request for one unit reads one
// unit (the whole stream was gathered first: 200 MB).
TEST_F(VantreldMemory, RequestsHoldOnlyWhatTheyNeedAndTheCacheItsBound) {
    start({"--cache-mb", "32", "--frame-port", "0"});
    const std::string id = clip("v");
    std::string reply;
    ASSERT_TRUE(call("AllocateFramesEx", stream({{"Node", id}, {"NumFrames", "4"}}), reply));
    const std::string serial = id.substr(id.rfind(' ') + 1);
    FrameConnection frames(framePort());
    ASSERT_TRUE(frames.connected());
    const size_t frameSize = 48 * MB;
    const std::string data(frameSize, 'f');
    for (int i = 0; i < 4; ++i) {
        frames.send(request("WriteFrame", serial + "." + std::to_string(i), frameSize) + data);
        ASSERT_EQ(std::string(1, '\0'), frames.field());
    }
    const long long before = resetPeak();
    for (int i = 0; i < 4; ++i)
        frames.send(request("ReadAhead", serial + "." + std::to_string(i), frameSize));
    for (int i = 0; i < 4; ++i) {  // waits for the loads, if any
        frames.send(request("ReadFrame", serial + "." + std::to_string(i), frameSize));
        ASSERT_EQ(std::string(1, '\0'), frames.field());
        ASSERT_TRUE(frames.drain(frameSize));
    }
    EXPECT_LT(peak() - before, 40 * MB);
    frames.send(request("ReadStream", "stream-" + serial, 16) + "100\0" "16\0" "1\0"s);
    ASSERT_EQ(std::string(1, '\0'), frames.field());
    ASSERT_EQ(std::string("1\0", 2), frames.field());
    ASSERT_TRUE(frames.drain(16));
    EXPECT_LT(peak() - before, 40 * MB);
}
