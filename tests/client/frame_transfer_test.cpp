// Frames, read-aheads, redirections, streams and files between the client library and real
// vantreld processes: the form of each request (read back from the servers' traces), what
// arrives in the caller's buffer, and recovery after failures.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "EventTestSupport.h"
#include "ServerHandleTestSupport.h"
#include "VantreldProcess.h"
#include "vantrel/VantrelClientAPI.h"
#include "vantrel/VantrelOS.h"
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
            // Fields: time, client, "METHOD ARGS", result, separated by tabs.
            const size_t start = line.find('\t', line.find('\t') + 1) + 1;
            line = line.substr(start, line.find('\t', start) - start);
            const std::string command = line.substr(0, line.find(' '));
            if (VantrelFrameWire::commandFromName(command) != VantrelFrameWire::UNKNOWN_COMMAND)
                received.push_back(line);
        }
        return received;
    }
    std::vector<std::string> frameCommands() const {
        std::vector<std::string> names;
        for (const std::string& line : frameRequests())
            names.push_back(line.substr(0, line.find(' ')));
        return names;
    }
    void clearTrace() { std::ofstream(dir_ / "trace", std::ios::trunc); }
    std::string filesArea() const { return dir_ / "tree/files"; }

    void kill() { process_.reset(); }
    bool restart() {
        kill();
        return start();
    }
    // A new process on the same node port and tree, with another frame port.
    bool restartOnAnotherFramePort() {
        kill();
        framePort_ = client_testing::freeLoopbackPort();
        return start();
    }

private:
    bool start() {
        std::vector<std::string> args{
            "--port",      std::to_string(nodePort_), "--frame-port", std::to_string(framePort_),
            "--no-sync",   "--protocol-version",      version_,       "--trace",
            dir_ / "trace"};
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

// The configuration of a server whose frames starting with `prefix` are held by `holder`.
std::string redirectConfig(const std::string& prefix, const FrameServerProcess& holder) {
    return "[FrameRedirect 0]\nFrames = " + prefix +
           "\nAddress = 127.0.0.1\nNodePort = " + std::to_string(holder.nodePort()) +
           "\nFramePort = " + std::to_string(holder.framePort()) + "\n";
}

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
    const std::vector<std::string> expected = {std::string("ReadFrame ") + frame(1) + " 96",
                                               std::string("ReadFrame ") + frame(1) + " 40",
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
    EXPECT_FALSE(handle_->writeFrame(frame(0), nullptr, 10));
    EXPECT_STREQ("Invalid argument: null pointer", handle_->lastError());
    EXPECT_FALSE(handle_->pushStream(nullptr, "/dev/null"));
    EXPECT_STREQ("Invalid argument: null pointer", handle_->lastError());
    ASSERT_TRUE(handle_->readFrame(frame(0), buffer.data(), SAMPLE_FRAME_SIZE))
        << handle_->lastError();
    EXPECT_EQ(samplePattern(0), std::string(buffer.data(), SAMPLE_FRAME_SIZE));
}

// A frame written through the frame port is told to the clip's watchers like any change.
TEST_F(FrameTransferTest, FramesWrittenThroughTheFramePortAreToldToWatchers) {
    FrameServerProcess server;
    connect(server);
    client_testing::RecordingHandler handler;
    ASSERT_TRUE(handle_->registerEventHandler(clip_.getNodeId(), &handler))
        << handle_->lastError();
    VantrelServerHandle writer(server.id().c_str());
    const std::string bytes = "new frame";
    ASSERT_TRUE(writer.writeFrame(frame(3), bytes.data(), static_cast<unsigned>(bytes.size())))
        << writer.lastError();
    ASSERT_TRUE(handler.waitFor(1));
    const client_testing::RecordingHandler::Seen seen = handler.seen().front();
    EXPECT_EQ("FrameWritten", seen.type);
    EXPECT_EQ(clip_.getNodeId().id(), seen.nodeId);
    VantrelStr written;
    EXPECT_TRUE(VantrelDictionary(seen.details.c_str()).getString("Frame", written));
    EXPECT_STREQ(frame(3), written.c_str());
    EXPECT_TRUE(handle_->unregisterEventHandler(clip_.getNodeId(), &handler));
}

// Frames linked to media files are read from the files (the path as the server translates
// it); a file that cannot be read is an error naming the frame, never zeros nor the path.
TEST_F(FrameTransferTest, LinkedFramesAreReadFromTheirFilesOrFailClearly) {
    TempDir media;
    const std::string translation = "[HostTranslation 0]\nSrcHost = " +
                                    std::string(VantrelOS::getHostName().c_str()) +
                                    "\nSrcPath = /elsewhere\nDstHost = *\nDstPath = " +
                                    std::string(media / "") + "\n";
    FrameServerProcess server("2015.0.0.5858", {}, translation);
    connect(server);
    std::ofstream(media / "a.bin", std::ios::binary) << "first media frame";
    std::ofstream(media / "b.bin", std::ios::binary) << "second";
    const VantrelStr paths[] = {(media / "a.bin").c_str(), "/elsewhere/b.bin",
                                (media / "gone.bin").c_str()};
    ASSERT_TRUE(clip_.linkToFrames(paths, 3)) << clip_.lastError();
    std::vector<std::string> linked;
    for (int i = 0; i < 3; ++i) {
        VantrelStr id;
        ASSERT_TRUE(clip_.getFrameId(i, id)) << clip_.lastError();
        linked.push_back(id.c_str());
    }
    std::vector<char> buffer(17, 'x');
    // The second read is served from the read-ahead cache.
    ASSERT_TRUE(handle_->readFrame(linked[1].c_str(), buffer.data(), 8, linked[0].c_str()))
        << handle_->lastError();
    EXPECT_EQ(std::string("second\0\0", 8), std::string(buffer.data(), 8));
    ASSERT_TRUE(handle_->readFrame(linked[0].c_str(), buffer.data(), 17)) << handle_->lastError();
    EXPECT_EQ("first media frame", std::string(buffer.data(), 17));
    for (const unsigned size : {17u, 8192u}) {  // acknowledged, then the no-ack form
        std::vector<char> big(size);
        EXPECT_FALSE(handle_->readFrame(linked[2].c_str(), big.data(), size));
        EXPECT_EQ("Cannot read the media file of frame '" + linked[2] +
                      "': No such file or directory",
                  std::string(handle_->lastError()));
    }
    VantrelStr stream;
    ASSERT_TRUE(clip_.getStreamId(stream));
    int count = 4;  // units 3 to 6 of 3 bytes: bytes 9 to 20, before the missing file
    ASSERT_TRUE(handle_->readStream(stream.c_str(), buffer.data(), 17, 3, 3, count))
        << handle_->lastError();
    EXPECT_EQ(4, count);  // all there: the third file counts only past the units asked for
    EXPECT_EQ("ia frameseco", std::string(buffer.data(), 12));
    count = 100;
    EXPECT_FALSE(handle_->readStream(stream.c_str(), buffer.data(), 17, 0, 1, count));
    EXPECT_EQ("Cannot read the media file of frame '" + linked[2] + "': No such file or directory",
              std::string(handle_->lastError()));
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
        {"2009.1.0.0",
         {"ReadFrameNoAck", "ReadFrame", "ReadAhead", "ReadAhead", "ReadStream"},
         true},
        {"2010.0.0.0",
         {"ReadFrameParamsNoAck", "ReadFrame", "ReadAheadParams", "ReadAhead", "ReadStream"},
         true},
        {"2010.1.1.0",
         {"ReadFrameParamsNoAck", "ReadFrame", "ReadAheadRedirect", "ReadAheadRedirect",
          "ReadStream"},
         true},
        {"2010.1.2.0",
         {"ReadFrameParamsNoAck", "ReadFrame", "ReadAheadParams", "ReadAhead", "ReadStream"},
         true},
        {"2010.2.0.0",
         {"ReadFrameParamsNoAck", "ReadFrame", "ReadAheadRedirect", "ReadAheadRedirect",
          "ReadStream"},
         true},
        {"2012.0.0.5119",
         {"ReadFrameParamsNoAck", "ReadFrame", "ReadAheadRedirect", "ReadAheadRedirect",
          "ReadStream"},
         true},
        {"2012.0.0.5120",
         {"ReadFrameParamsNoAck", "ReadFrame", "ReadAheadRedirect", "ReadAheadRedirect",
          "ReadStream", "InvalidateCache"},
         true},
    };
    for (const Case& c : cases) {
        FrameServerProcess server(c.version);
        connect(server);
        std::vector<char> buffer(4096);
        EXPECT_TRUE(handle_->readFrame(frame(0), "p", 1, buffer.data(), 4096))
            << c.version << handle_->lastError();
        EXPECT_TRUE(handle_->readFrame(frame(0), buffer.data(), 4095))
            << c.version << handle_->lastError();
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

// ------------------------------------------------------------------ read-ahead, redirects

TEST_F(FrameTransferTest, ReadAheadByIndexAsksForTheNextFramesFirst) {
    FrameServerProcess server;  // advises 2 read-aheads
    connect(server);
    struct Case {
        VantrelNodeHandle::ReadAheadHint hint;
        std::vector<int> readAheads;
    };
    const Case cases[] = {{VantrelNodeHandle::ReadAheadHint(0), {}},
                          {VantrelNodeHandle::ReadAheadHint(1), {1, 2}},
                          {VantrelNodeHandle::ReadAheadHint(2), {1, 2, 3}}};  // 4 is past the end
    for (const Case& c : cases) {
        server.clearTrace();
        char buffer[SAMPLE_FRAME_SIZE];
        ASSERT_TRUE(clip_.readFrame(1, nullptr, 0, buffer, sizeof buffer, c.hint))
            << clip_.lastError();
        EXPECT_EQ(samplePattern(1), std::string(buffer, sizeof buffer));
        std::vector<std::string> expected;
        for (int k : c.readAheads)
            expected.push_back(std::string("ReadAheadRedirect ") + frame(k) + " 0");
        expected.push_back(std::string("ReadFrame ") + frame(1) + " 96");
        EXPECT_EQ(expected, server.frameRequests()) << c.hint;
    }
    // Frame 0 never reads ahead.
    server.clearTrace();
    char buffer[SAMPLE_FRAME_SIZE];
    ASSERT_TRUE(clip_.readFrame(0, buffer, sizeof buffer));
    EXPECT_EQ(std::vector<std::string>{std::string("ReadFrame ") + frame(0) + " 96"},
              server.frameRequests());
}

TEST_F(FrameTransferTest, RedirectedFrameIsReadFromTheServerHoldingIt) {
    FrameServerProcess holder;
    connect(holder);
    const std::string redirected = frame(3);
    const std::string marked(SAMPLE_FRAME_SIZE, '\x5a');
    ASSERT_TRUE(handle_->writeFrame(redirected.c_str(), marked.data(), SAMPLE_FRAME_SIZE));
    holder.clearTrace();

    FrameServerProcess primary(
        "2015.0.0.5858", {},
        "[FrameRedirect 0]\nFrames = " + redirected +
            "\nAddress = 127.0.0.1\nNodePort = " + std::to_string(holder.nodePort()) +
            "\nFramePort = " + std::to_string(holder.framePort()) + "\n");
    ASSERT_TRUE(primary.ready());
    VantrelServerHandle handle(primary.id().c_str());
    char buffer[SAMPLE_FRAME_SIZE];
    ASSERT_TRUE(handle.readFrame(redirected.c_str(), buffer, sizeof buffer, redirected.c_str()))
        << handle.lastError();
    EXPECT_EQ(marked, std::string(buffer, sizeof buffer));
    ASSERT_TRUE(handle.readFrame(redirected.c_str(), buffer, sizeof buffer)) << handle.lastError();
    EXPECT_EQ(marked, std::string(buffer, sizeof buffer));
    EXPECT_EQ(std::vector<std::string>{"ReadAheadRedirect " + redirected + " 96"},
              primary.frameRequests());
    EXPECT_EQ((std::vector<std::string>{"ReadFrame " + redirected + " 96",
                                        "ReadFrame " + redirected + " 96"}),
              holder.frameRequests());
    // Frames that are not redirected stay with the primary server.
    ASSERT_TRUE(handle.readFrame(frame(0), buffer, sizeof buffer, frame(0)));
    EXPECT_EQ(samplePattern(0), std::string(buffer, sizeof buffer));
}

// ------------------------------------------------------------------------------ failures

TEST_F(FrameTransferTest, StopCutsABlockedReadShortAndTheNextCallReconnects) {
    FrameServerProcess server("2015.0.0.5858", {"--bench-read-delay-ms", "1500"});
    connect(server);
    const size_t size = 8u << 20;
    std::vector<char> buffer(size);
    std::atomic<bool> done{false};
    bool read = true;
    std::string error;
    std::thread reader([&] {
        read = handle_->readFrame(frame(0), buffer.data(), static_cast<unsigned>(size));
        error = handle_->lastError();
        done = true;
    });
    while (server.frameRequests().empty()) ::usleep(10000);
    // Again and again: a stop that comes before the read has started waiting is forgotten.
    while (!done) {
        handle_->stop("test");
        ::usleep(50000);
    }
    reader.join();
    EXPECT_FALSE(read);
    EXPECT_TRUE(error.find("Cannot read data on socket") == 0 || error == "Operation aborted.")
        << error;
    ASSERT_TRUE(handle_->readFrame(frame(0), buffer.data(), static_cast<unsigned>(size)))
        << handle_->lastError();
    EXPECT_EQ(samplePattern(0), std::string(buffer.data(), SAMPLE_FRAME_SIZE));
}

TEST_F(FrameTransferTest, StopAlsoCutsAReadFromARedirectTarget) {
    FrameServerProcess holder("2015.0.0.5858", {"--bench-read-delay-ms", "1500"});
    connect(holder);
    const std::string redirected = frame(3);
    FrameServerProcess primary("2015.0.0.5858", {}, redirectConfig(redirected, holder));
    ASSERT_TRUE(primary.ready());
    VantrelServerHandle handle(primary.id().c_str());
    std::vector<char> buffer(8u << 20);
    std::atomic<bool> done{false};
    bool read = true;
    std::thread reader([&] {
        read = handle.readFrame(redirected.c_str(), buffer.data(),
                                static_cast<unsigned>(buffer.size()), redirected.c_str());
        done = true;
    });
    while (holder.frameRequests().empty()) ::usleep(10000);
    while (!done) {
        handle.stop("test");
        ::usleep(50000);
    }
    reader.join();
    EXPECT_FALSE(read);
}

TEST_F(FrameTransferTest, ServerKilledMidFrameThenBackAgain) {
    FrameServerProcess server("2015.0.0.5858", {"--bench-read-delay-ms", "1000"});
    connect(server);
    std::vector<char> buffer(1u << 20);
    std::thread killer([&] {
        while (server.frameRequests().empty()) ::usleep(10000);
        server.kill();
    });
    EXPECT_FALSE(handle_->readFrame(frame(0), buffer.data(), static_cast<unsigned>(buffer.size())));
    killer.join();
    EXPECT_STRNE("", handle_->lastError());
    ASSERT_TRUE(server.restart());
    ASSERT_TRUE(handle_->readFrame(frame(1), buffer.data(), static_cast<unsigned>(buffer.size())))
        << handle_->lastError();
    EXPECT_EQ(samplePattern(1), std::string(buffer.data(), SAMPLE_FRAME_SIZE));
}

TEST_F(FrameTransferTest, AfterARestartTheDataConnectionFollowsTheNewRecord) {
    FrameServerProcess server;
    connect(server);
    char buffer[SAMPLE_FRAME_SIZE];
    ASSERT_TRUE(handle_->readFrame(frame(0), buffer, sizeof buffer)) << handle_->lastError();
    ASSERT_TRUE(server.restartOnAnotherFramePort());
    // The first call finds the old data connection broken (or refused); the next one connects
    // to the frame port the restarted server announces.
    handle_->readFrame(frame(1), buffer, sizeof buffer);
    ASSERT_TRUE(handle_->readFrame(frame(1), buffer, sizeof buffer)) << handle_->lastError();
    EXPECT_EQ(samplePattern(1), std::string(buffer, sizeof buffer));
}

// ------------------------------------------------------------------------ streams, files

// The server closes a data connection left idle; the next read opens another one.
TEST_F(FrameTransferTest, ADataConnectionClosedForIdlenessIsReplacedUnnoticed) {
    FrameServerProcess server("2015.0.0.5858", {"--frame-idle-timeout", "1"});
    connect(server);
    std::vector<char> buffer(SAMPLE_FRAME_SIZE);
    for (int round = 0; round < 2; ++round) {
        if (round > 0) std::this_thread::sleep_for(std::chrono::seconds(3));
        ASSERT_TRUE(handle_->readFrame(frame(1), buffer.data(), SAMPLE_FRAME_SIZE))
            << handle_->lastError();
        EXPECT_EQ(samplePattern(1), std::string(buffer.begin(), buffer.end()));
    }
}

TEST_F(FrameTransferTest, StreamUnitsAreCutToWhatExists) {
    FrameServerProcess server;
    connect(server);
    VantrelStr stream;
    ASSERT_TRUE(clip_.getStreamId(stream));
    std::string all;
    for (size_t i = 0; i < 4; ++i) all += samplePattern(i);
    std::vector<char> buffer(1024);
    int count = 100;  // 384 bytes = 12 units of 32: from unit 2, 10 remain
    ASSERT_TRUE(handle_->readStream(stream.c_str(), buffer.data(), 1024, 2, 32, count))
        << handle_->lastError();
    EXPECT_EQ(10, count);
    EXPECT_EQ(all.substr(64, 320), std::string(buffer.data(), 320));
    count = 5;
    EXPECT_FALSE(handle_->readStream(stream.c_str(), buffer.data(), 100, 0, 32, count));
    EXPECT_STREQ("Buffer too small.", handle_->lastError());
    count = 1;
    EXPECT_FALSE(handle_->readStream("stream-999", buffer.data(), 100, 0, 32, count));
    EXPECT_STREQ("Unknown stream id: 'stream-999'", handle_->lastError());
    count = 1;
    ASSERT_TRUE(handle_->readStream(stream.c_str(), buffer.data(), 100, 0, 32, count));
    EXPECT_EQ(all.substr(0, 32), std::string(buffer.data(), 32));
}

TEST_F(FrameTransferTest, FilesGoInAndOutOfTheFilesAreaOnly) {
    FrameServerProcess server;
    connect(server);
    TempDir local;
    // An exact multiple of the transfer chunk: the last chunk is empty.
    std::string content(2 * VantrelFrameWire::TRANSFER_CHUNK, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 251);
    std::ofstream(local / "clip.bin", std::ios::binary) << content;
    ASSERT_TRUE(handle_->pushStream("clip.bin", (local / "clip.bin").c_str()))
        << handle_->lastError();
    ASSERT_TRUE(handle_->pullStream("clip.bin", (local / "back.bin").c_str()))
        << handle_->lastError();
    std::ifstream back(local / "back.bin", std::ios::binary);
    EXPECT_EQ(content, std::string(std::istreambuf_iterator<char>(back), {}));

    for (const char* escape : {"../outside.bin", "/tmp/outside.bin", "a/../../x", ""}) {
        EXPECT_FALSE(handle_->pushStream(escape, (local / "clip.bin").c_str())) << escape;
        EXPECT_EQ("Invalid file name: '" + std::string(escape) + "'", handle_->lastError());
        EXPECT_FALSE(handle_->pullStream(escape, (local / "x.bin").c_str())) << escape;
        EXPECT_EQ("Invalid file name: '" + std::string(escape) + "'", handle_->lastError());
    }
    EXPECT_FALSE(handle_->pushStream("dir.bin", (local / "").c_str()));
    EXPECT_EQ("Cannot open " + (local / "") + ": " + std::strerror(EISDIR), handle_->lastError());
    std::ifstream outside(server.filesArea() + "/../outside.bin");
    EXPECT_FALSE(outside.good());
    EXPECT_TRUE(handle_->pullStream("clip.bin", (local / "again.bin").c_str()))
        << handle_->lastError();
}

// As README shows it: a push into folders that do not exist yet makes them.
TEST_F(FrameTransferTest, PushedFilesGoIntoNewFolders) {
    FrameServerProcess server;
    connect(server);
    TempDir local;
    std::ofstream(local / "notes.txt") << "notes";
    ASSERT_TRUE(handle_->pushStream("incoming/notes.txt", (local / "notes.txt").c_str()))
        << handle_->lastError();
    ASSERT_TRUE(handle_->pullStream("incoming/notes.txt", (local / "back.txt").c_str()))
        << handle_->lastError();
    std::ifstream back(local / "back.txt");
    EXPECT_EQ("notes", std::string(std::istreambuf_iterator<char>(back), {}));
    EXPECT_FALSE(handle_->pullStream("nodir/x.bin", (local / "x.bin").c_str()));
    EXPECT_STREQ("Cannot open 'nodir/x.bin'", handle_->lastError());
}

// Links planted in the files area lead nowhere, names of the server's own temporary files are
// not the clients', and a failure names the file, not where the server keeps it.
TEST_F(FrameTransferTest, FilesAreaRefusesLinksTemporaryNamesAndHidesServerPaths) {
    FrameServerProcess server;
    connect(server);
    TempDir local, outside;
    std::ofstream(outside / "secret") << "secret";
    std::ofstream(local / "mine") << "mine";
    ASSERT_EQ(0, ::symlink((outside / "").c_str(), (server.filesArea() + "/out").c_str()));
    ASSERT_EQ(0, ::symlink((outside / "secret").c_str(), (server.filesArea() + "/leak").c_str()));
    for (const char* linked : {"out/secret", "leak"}) {
        const std::string refused = "Invalid file name: '" + std::string(linked) + "' (a link)";
        EXPECT_FALSE(handle_->pullStream(linked, (local / "got").c_str())) << linked;
        EXPECT_EQ(refused, handle_->lastError());
        EXPECT_FALSE(handle_->pushStream(linked, (local / "mine").c_str())) << linked;
        EXPECT_EQ(refused, handle_->lastError());
    }
    std::ifstream secret(outside / "secret");
    EXPECT_EQ("secret", std::string(std::istreambuf_iterator<char>(secret), {}));

    const char* temporary = "report.txt.in-4242-1.tmp";
    EXPECT_FALSE(handle_->pushStream(temporary, (local / "mine").c_str()));
    EXPECT_EQ("Invalid file name: '" + std::string(temporary) + "'", handle_->lastError());

    ASSERT_TRUE(handle_->pushStream("dir/inside", (local / "mine").c_str()))
        << handle_->lastError();
    EXPECT_FALSE(handle_->pushStream("dir", (local / "mine").c_str()));
    EXPECT_EQ("Cannot write file 'dir': " + std::string(std::strerror(EISDIR)),
              handle_->lastError());
}

TEST_F(FrameTransferTest, ShortPushedFileFailsCleanlyAndLeavesNothing) {
    // Files of /sys announce a size of 4096 bytes and hold far fewer.
    const char* shortFile = "/sys/class/net/lo/mtu";
    std::ifstream probe(shortFile);
    if (!probe.good()) GTEST_SKIP() << shortFile << " is not here";
    FrameServerProcess server;
    connect(server);
    EXPECT_FALSE(handle_->pushStream("short.bin", shortFile));
    EXPECT_STREQ("The local file ended before its announced size", handle_->lastError());
    TempDir local;
    EXPECT_FALSE(handle_->pullStream("short.bin", (local / "short.bin").c_str()));
    EXPECT_STREQ("Cannot open 'short.bin'", handle_->lastError());
    std::ofstream(local / "ok.bin") << "whole";
    EXPECT_TRUE(handle_->pushStream("short.bin", (local / "ok.bin").c_str()))
        << handle_->lastError();
    std::ifstream pushed(server.filesArea() + "/short.bin");
    EXPECT_EQ("whole", std::string(std::istreambuf_iterator<char>(pushed), {}));
}

TEST_F(FrameTransferTest, SlowReaderDoesNotStallAnotherClient) {
    FrameServerProcess server;
    connect(server);
    // A client that sends a request and never reads its reply holds one data connection.
    const int stuck = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(server.framePort()));
    ASSERT_EQ(0, ::connect(stuck, reinterpret_cast<sockaddr*>(&address), sizeof address));
    const std::string request =
        std::string("ReadFrame") + '\0' + frame(0) + '\0' + "1073741824" + '\0';
    ASSERT_EQ(static_cast<ssize_t>(request.size()),
              ::send(stuck, request.data(), request.size(), 0));
    char buffer[SAMPLE_FRAME_SIZE];
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(handle_->readFrame(frame(i), buffer, sizeof buffer)) << handle_->lastError();
        EXPECT_EQ(samplePattern(static_cast<size_t>(i)), std::string(buffer, sizeof buffer));
    }
    ::close(stuck);
}

}  // namespace
