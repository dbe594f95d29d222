// Frames, read-aheads, redirections, streams and files between the client library and real
// vantreld processes: the form of each request (read back from the servers' traces), what
// arrives in the caller's buffer, and recovery after failures.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ServerHandleTestSupport.h"
#include "VantreldProcess.h"
#include "vantrel/client/VantrelClientAPI.h"
#include "vantrel/protocol/FrameWire.h"

namespace {

using client_testing::TempDir;
using vantreld::testing::VantreldProcess;

const char* const OPENING = "/Volume 1/Feature Film/Vault/Main/Reel 1/Opening";  // 4 frames
const size_t SAMPLE_FRAME_SIZE = 96;

// Byte i of sample frame `index`.
std::string samplePattern(size_t index) {
    std::string bytes(SAMPLE_FRAME_SIZE, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i + index * 16) & 0xff);
    return bytes;
}

// vantreld on a fresh sample tree on loopback ports of its own (kept on restart), playing
// `version`, tracing the requests it receives.
class FrameServerProcess {
public:
    explicit FrameServerProcess(const std::string& version = "2015.0.0.5858",
                                const std::vector<std::string>& extra = {},
                                const std::string& config = "")
        : version_(version), extra_(extra) {
        VantreldProcess init({"--init-sample", dir_ / "tree"});
        ready_ = init.waitForExit(20000) == 0;
        if (!config.empty()) {
            std::ofstream(dir_ / "server.cfg") << config;
            extra_.insert(extra_.end(), {"--config", dir_ / "server.cfg"});
        }
        nodePort_ = client_testing::freeLoopbackPort();
        framePort_ = client_testing::freeLoopbackPort();
        ready_ = ready_ && start();
    }

    bool ready() const { return ready_; }
    std::string id() const { return "127.0.0.1:" + std::to_string(nodePort_); }
    int nodePort() const { return nodePort_; }
    int framePort() const { return framePort_; }

    // The frame-port requests received so far, "COMMAND ARGUMENT NUMBER" each.
    std::vector<std::string> frameRequests() const {
        std::vector<std::string> received;
        std::ifstream trace(dir_ / "trace");
        std::string line;
        while (std::getline(trace, line)) {
            const std::string command = line.substr(0, line.find(' '));
            if (VantrelFrameWire::commandFromName(command) != VantrelFrameWire::UNKNOWN_COMMAND)
                received.push_back(line);
        }
        return received;
    }
    std::vector<std::string> frameCommands() const {
        std::vector<std::string> names;
        for (const std::string& line : frameRequests()) names.push_back(line.substr(0, line.find(' ')));
        return names;
    }
    void clearTrace() { std::ofstream(dir_ / "trace", std::ios::trunc); }
    std::string filesArea() const { return dir_ / "tree/files"; }

    void kill() { process_.reset(); }
    bool restart() {
        kill();
        return start();
    }

private:
    bool start() {
        std::vector<std::string> args{"--port", std::to_string(nodePort_), "--frame-port",
                                      std::to_string(framePort_), "--no-sync",
                                      "--protocol-version", version_, "--trace", dir_ / "trace"};
        args.insert(args.end(), extra_.begin(), extra_.end());
        args.push_back(dir_ / "tree");
        for (int attempt = 0; attempt < 50; ++attempt) {
            process_.reset(new VantreldProcess(args));
            if (process_->waitUntilReady() > 0) return process_->framePort() == framePort_;
            ::usleep(100000);
        }
        return false;
    }

    TempDir dir_;
    std::string version_;
    std::vector<std::string> extra_;
    std::unique_ptr<VantreldProcess> process_;
    int nodePort_ = 0;
    int framePort_ = 0;
    bool ready_ = false;
};

class FrameTransferTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(library_.init()); }

    // A handle on `server` and the frame ids of the sample clip.
    void connect(FrameServerProcess& server) {
        ASSERT_TRUE(server.ready());
        handle_.reset(new VantrelServerHandle(server.id().c_str()));
        ASSERT_TRUE(VantrelResolveDisplayPath(*handle_, OPENING, clip_)) << handle_->lastError();
        frameIds_.clear();
        for (int i = 0; i < 4; ++i) {
            VantrelStr id;
            ASSERT_TRUE(clip_.getFrameId(i, id)) << clip_.lastError();
            frameIds_.push_back(id.c_str());
        }
        server.clearTrace();
    }
    const char* frame(int index) const { return frameIds_[static_cast<size_t>(index)].c_str(); }

    VantrelClient library_;
    std::unique_ptr<VantrelServerHandle> handle_;
    VantrelNodeHandle clip_;
    std::vector<std::string> frameIds_;
};

// ------------------------------------------------------------------------------ frames

TEST_F(FrameTransferTest, StoredFramesArrivePaddedOrCutToTheBuffer) {
    FrameServerProcess server;
    connect(server);
    struct Case {
        size_t size;
        std::string expected;
    };
    const Case cases[] = {
        {SAMPLE_FRAME_SIZE, samplePattern(1)},
        {40, samplePattern(1).substr(0, 40)},
        {8192, samplePattern(1) + std::string(8192 - SAMPLE_FRAME_SIZE, '\0')},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(c.size, 'x');
        ASSERT_TRUE(handle_->readFrame(frame(1), buffer.data(), static_cast<unsigned>(c.size)))
            << handle_->lastError();
        EXPECT_EQ(c.expected, std::string(buffer.begin(), buffer.end())) << c.size;
    }
    const std::vector<std::string> expected = {
        std::string("ReadFrame ") + frame(1) + " 96", std::string("ReadFrame ") + frame(1) + " 40",
        std::string("ReadFrameNoAck ") + frame(1) + " 8192"};
    EXPECT_EQ(expected, server.frameRequests());
}

TEST_F(FrameTransferTest, LargeWrittenFrameReadsBackWhole) {
    FrameServerProcess server;
    connect(server);
    const size_t size = 12u << 20;
    std::vector<char> written(size);
    for (size_t i = 0; i < size; ++i) written[i] = static_cast<char>((i * 7 + i / 4096) & 0xff);
    ASSERT_TRUE(clip_.writeFrame(2, written.data(), static_cast<int>(size))) << clip_.lastError();
    std::vector<char> read(size);
    ASSERT_TRUE(clip_.readFrame(2, read.data(), static_cast<int>(size), true)) << clip_.lastError();
    EXPECT_TRUE(written == read);
    // Another handle, another data connection: the frame is on disk.
    VantrelServerHandle other(server.id().c_str());
    std::vector<char> again(size);
    ASSERT_TRUE(other.readFrame(frame(2), again.data(), static_cast<unsigned>(size)));
    EXPECT_TRUE(written == again);
}

TEST_F(FrameTransferTest, UnknownFrameIdsFailInEveryFormAndTheStreamStaysInStep) {
    FrameServerProcess server;
    connect(server);
    std::vector<char> buffer(8192);
    const std::string unknown = "Unknown frame id: '77.0'";
    EXPECT_FALSE(handle_->readFrame("77.0", buffer.data(), 100));
    EXPECT_EQ(unknown, handle_->lastError());
    EXPECT_FALSE(handle_->readFrame("77.0", buffer.data(), 8192));  // the error prefix
    EXPECT_EQ(unknown, handle_->lastError());
    EXPECT_FALSE(handle_->writeFrame("77.0", buffer.data(), 5000));
    EXPECT_EQ(unknown, handle_->lastError());
    EXPECT_FALSE(handle_->readFrame("../../etc/passwd", buffer.data(), 100));
    ASSERT_TRUE(handle_->readFrame(frame(0), buffer.data(), SAMPLE_FRAME_SIZE)) << handle_->lastError();
    EXPECT_EQ(samplePattern(0), std::string(buffer.data(), SAMPLE_FRAME_SIZE));
}

// --------------------------------------------------------------------- server versions

// The frame-port commands that each operation sends to a server of each generation: the
// servers close the data connection on a command their generation did not know, so every
// operation must also succeed (or fail as the version rule says).
TEST_F(FrameTransferTest, RequestFormsFollowTheServerVersion) {
    struct Case {
        const char* version;
        std::vector<std::string> commands;
        bool streams;  // readStream allowed
    };
    const Case cases[] = {
        {"2007.0.0.0", {"ReadFrame", "ReadFrame", "ReadAhead", "ReadAhead"}, false},
        {"2007.1.0.0", {"ReadFrame", "ReadFrame", "ReadAhead", "ReadAhead", "ReadStream"}, true},
        {"2009.0.0.0", {"ReadFrame", "ReadFrame", "ReadAhead", "ReadAhead", "ReadStream"}, true},
        {"2009.1.0.0", {"ReadFrameNoAck", "ReadFrame", "ReadAhead", "ReadAhead", "ReadStream"}, true},
        {"2010.0.0.0",
         {"ReadFrameParamsNoAck", "ReadFrame", "ReadAheadParams", "ReadAhead", "ReadStream"}, true},
        {"2010.1.1.0",
         {"ReadFrameParamsNoAck", "ReadFrame", "ReadAheadRedirect", "ReadAheadRedirect", "ReadStream"},
         true},
        {"2010.1.2.0",
         {"ReadFrameParamsNoAck", "ReadFrame", "ReadAheadParams", "ReadAhead", "ReadStream"}, true},
        {"2010.2.0.0",
         {"ReadFrameParamsNoAck", "ReadFrame", "ReadAheadRedirect", "ReadAheadRedirect", "ReadStream"},
         true},
        {"2012.0.0.5119",
         {"ReadFrameParamsNoAck", "ReadFrame", "ReadAheadRedirect", "ReadAheadRedirect", "ReadStream"},
         true},
        {"2012.0.0.5120",
         {"ReadFrameParamsNoAck", "ReadFrame", "ReadAheadRedirect", "ReadAheadRedirect", "ReadStream",
          "InvalidateCache"},
         true},
    };
    for (const Case& c : cases) {
        FrameServerProcess server(c.version);
        connect(server);
        std::vector<char> buffer(4096);
        EXPECT_TRUE(handle_->readFrame(frame(0), "p", 1, buffer.data(), 4096)) << c.version << handle_->lastError();
        EXPECT_TRUE(handle_->readFrame(frame(0), buffer.data(), 4095)) << c.version << handle_->lastError();
        EXPECT_TRUE(handle_->readFrame(nullptr, "p", 1, nullptr, 0, frame(1))) << c.version;
        EXPECT_TRUE(handle_->readFrame("", nullptr, 0, frame(1))) << c.version;
        VantrelStr stream;
        ASSERT_TRUE(clip_.getStreamId(stream)) << c.version;
        int count = 1;
        EXPECT_EQ(c.streams, handle_->readStream(stream.c_str(), buffer.data(), 4096, 0, 8, count))
            << c.version << handle_->lastError();
        if (!c.streams) {
            EXPECT_STREQ(std::strerror(EACCES), handle_->lastError()) << c.version;
        }
        EXPECT_TRUE(handle_->invalidateCache()) << c.version << handle_->lastError();
        // Read-aheads have no reply: a last read makes sure the server has handled them.
        EXPECT_TRUE(handle_->readFrame(frame(0), buffer.data(), 96)) << c.version;
        std::vector<std::string> expected = c.commands;
        expected.push_back("ReadFrame");
        EXPECT_EQ(expected, server.frameCommands()) << c.version;
    }
}

}  // namespace
