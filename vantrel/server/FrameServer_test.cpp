// The frame server's replies byte for byte, on a raw loopback connection: what each command
// answers, the error forms, the generation gate and the redirect record.
#include "vantrel/server/FrameServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "rcApi/rcAttrStream.h"
#include "tcp/TcpTestSupport.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/server/NodeStore.h"
#include "vantrel/server/ServerTestSupport.h"

namespace vantreld {
namespace {

using namespace std::string_literals;
namespace Wire = VantrelFrameWire;

// A frame server on a tree holding one clip of two frames, the first with data "ABCDEF".
class FrameServerTest : public ::testing::Test {
protected:
    void SetUp() override { start("2015.0.0.5858"); }

    void start(const std::string& version, std::vector<FrameServer::Redirect> redirects = {}) {
        server_.reset();
        {
            NodeStore store(dir_.path(), ServerFiles::Sync::FAST);
            if (store.size() == 1) {
                const Node& clip =
                    store.createNode(NodeStore::ROOT_ID, "c", "CLIP", VantrelClipFormat());
                const Node& framed = store.allocateFrames(clip.id, 2, nullptr);
                frame0_ = framed.frames[0];
                frame1_ = framed.frames[1];
                store.writeFrameData(clip.id, frame0_, "ABCDEF");
                serial_ = std::to_string(framed.serial);
            }
        }
        FrameServer::Options options;
        options.directory = dir_.path();
        options.port = 0;
        options.sync = ServerFiles::Sync::FAST;
        ASSERT_TRUE(ProtocolVersion::parse(version, options.version));
        options.redirects = std::move(redirects);
        server_.reset(new FrameServer(options, &log_));
        connect();
    }

    void connect() {
        socket_ = Vantrel::testing::RawSocket(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(server_->port()));
        ASSERT_EQ(0,
                  ::connect(socket_.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address));
    }
    void TearDown() override {
        socket_.reset();
        server_.reset();
    }

    void send(const std::string& bytes) { socket_.sendAll(bytes); }
    // Exactly `size` bytes, or fewer when the server closes first.
    std::string receive(size_t size) { return socket_.receive(size); }
    bool closedByServer() {
        pollfd ready{socket_.fd(), POLLIN, 0};
        if (::poll(&ready, 1, 5000) != 1) return false;
        char byte;
        return ::recv(socket_.fd(), &byte, 1, 0) <=
               0;  // a reset when request bytes were left unread
    }

    testing::TempDir dir_;
    RequestLog log_;
    std::unique_ptr<FrameServer> server_;
    Vantrel::testing::RawSocket socket_;
    std::string frame0_, frame1_, serial_;
};

TEST_F(FrameServerTest, FrameRepliesByteForByte) {
    struct Case {
        std::string request;
        std::string reply;
    };
    const std::string unknownNoAck = std::string(Wire::ERROR_PREFIX) + "Unknown frame id: '9.9'" +
                                     std::string(4096 - 82 - 23, '\0');
    const Case cases[] = {
        {"ReadFrame\0"s + frame0_ +
             "\0"
             "8\0"s,
         "\0"
         "ABCDEF\0\0"s},
        {"ReadFrame\0"s + frame0_ +
             "\0"
             "4\0"s,
         "\0"
         "ABCD"s},
        {"ReadFrameParams\0"s + frame0_ +
             "\0"
             "3\0"
             "2\0"
             "pp"s,
         "\0"
         "ABC"s},
        {"ReadFrame\0"s + frame1_ +
             "\0"
             "3\0"s,
         "\0\0\0\0"s},  // no data yet: zeros
        {"ReadFrame\0"
         "9.9\0"
         "3\0"s,
         "Unknown frame id: '9.9'\0"s},
        {"ReadFrameNoAck\0"
         "9.9\0"
         "4096\0"s,
         unknownNoAck},
        {"ReadFrameParamsNoAck\0"s + frame0_ +
             "\0"
             "7\0"
             "0\0"s,
         "ABCDEF\0"s},
        {"ReadAheadRedirect\0"s + frame0_ +
             "\0"
             "7\0"
             "0\0"s,
         "0\0"s},
        {"WriteFrame\0"
         "9.9\0"
         "3\0"
         "xyz"s,
         "Unknown frame id: '9.9'\0"s},
        {"WriteFrame\0"s + frame1_ +
             "\0"
             "2\0"
             "hi"s,
         "\0"s},
        {"ReadFrame\0"s + frame1_ +
             "\0"
             "2\0"s,
         "\0"
         "hi"s},
        {"ReadStream\0stream-"s + serial_ +
             "\0"
             "10\0"
             "1\0"
             "2\0"
             "9\0"s,
         "\0"
         "3\0"
         "CDEFhi"s},
        {"ReadStream\0"
         "stream-77\0"
         "10\0"
         "0\0"
         "2\0"
         "1\0"s,
         "Unknown stream id: 'stream-77'\0"s},
        {"PullFile\0"
         "../x\0"
         "262144\0"s,
         "0\0"
         "Invalid file name: '../x'\0"s},
        {"PushFile\0"
         "/x\0"
         "3\0"s,
         "Invalid file name: '/x'\0"s},
        {"PushFile\0"
         "f.bin\0"
         "3\0"s,
         "\0"s},
        {"abc"s, "\0"s},  // the pushed bytes, then the second status
        {"PullFile\0"
         "f.bin\0"
         "262144\0"s,
         "3\0"
         "abc\0"s},
        {"NoOp\0"
         "InvalidateCache\0"s,
         "\0"s},
    };
    for (const Case& c : cases) {
        send(c.request);
        EXPECT_EQ(c.reply, receive(c.reply.size())) << c.request.substr(0, 20);
    }
    EXPECT_EQ("ReadFrame " + frame0_ + " 8",
              log_.entries().front().method + " " + log_.entries().front().args);
}

TEST_F(FrameServerTest, FramesAllocatedMeanwhileAreKnown) {
    send("ReadFrame\0"s + frame0_ +
         "\0"
         "2\0"s);
    EXPECT_EQ(
        "\0"
        "AB"s,
        receive(3));
    std::string added;
    {
        NodeStore store(dir_.path(), ServerFiles::Sync::FAST);
        const std::string clip = store.root().children.front()->id;
        added = store.allocateFrames(clip, 3, nullptr).frames[2];
    }
    send("ReadFrame\0"s + added +
         "\0"
         "2\0"s);
    EXPECT_EQ("\0\0\0"s, receive(3));
}

// A disk failure is told by what the request named, never by a path of the server.
TEST_F(FrameServerTest, DiskErrorsNameTheFrameOrStreamNotAServerPath) {
    const std::string manifest = dir_.path() + "/nodes/" + serial_ + "/node.attr";
    ServerFiles::removeTree(manifest);
    ServerFiles::makeDirectory(manifest);  // reading it fails
    const std::string reason = std::strerror(EISDIR);
    const std::pair<std::string, std::string> cases[] = {
        {"ReadFrame\0"s + frame0_ + "\0" "4\0"s,
         "Cannot read frame '" + frame0_ + "': " + reason + "\0"s},
        {"WriteFrame\0"s + frame0_ + "\0" "2\0" "hi"s,
         "Cannot read frame '" + frame0_ + "': " + reason + "\0"s},
        {"ReadStream\0stream-"s + serial_ + "\0" "10\0" "0\0" "2\0" "1\0"s,
         "Cannot read stream 'stream-" + serial_ + "': " + reason + "\0"s},
    };
    for (const auto& c : cases) {
        send(c.first);
        EXPECT_EQ(c.second, receive(c.second.size())) << c.first.substr(0, 12);
    }
}

TEST_F(FrameServerTest, CommandsOfALaterGenerationCloseTheConnection) {
    struct Case {
        const char* version;
        std::string request;
    };
    const Case cases[] = {
        {"2007.0.0.0",
         "ReadStream\0s\0"
         "1\0"
         "0\0"
         "1\0"
         "1\0"s},
        {"2009.0.0.0",
         "ReadFrameNoAck\0"
         "1.0\0"
         "4096\0"s},
        {"2009.1.0.0",
         "ReadFrameParams\0"
         "1.0\0"
         "10\0"
         "0\0"s},
        {"2010.1.2.0",
         "ReadAheadRedirect\0"
         "1.0\0"
         "10\0"
         "0\0"s},
        {"2012.0.0.5119", "InvalidateCache\0"s},
        {"2015.0.0.5858", "Hello\0"s},
        {"2015.0.0.5858",
         "ReadFrame\0"
         "1.0\0"
         "12x\0"s},
    };
    for (const Case& c : cases) {
        start(c.version);
        send(c.request);
        EXPECT_TRUE(closedByServer()) << c.version << " " << c.request.substr(0, 20);
    }
    start("2010.1.1.0");
    send("ReadAheadRedirect\0"s + frame0_ +
         "\0"
         "10\0"
         "0\0"s);
    EXPECT_EQ("0\0"s, receive(2));
}

TEST_F(FrameServerTest, RedirectedFramesAnswerTheHoldersRecord) {
    FrameServer::Redirect redirect;
    redirect.framePrefix = frame1_;
    redirect.address = "127.0.0.2";
    redirect.nodePort = 8001;
    redirect.framePort = 8002;
    start("2015.0.0.5858", {redirect});
    send("ReadAheadRedirect\0"s + frame1_ +
         "\0"
         "10\0"
         "0\0"s);
    std::string length;
    for (char byte = 'x'; byte != '\0';) {
        byte = receive(1).at(0);
        if (byte != '\0') length.push_back(byte);
    }
    const std::string record = receive(std::stoul(length));
    const VantrelDaemonInfo info{Vantrel::rcAttrStream(record.c_str())};
    EXPECT_STREQ("127.0.0.2", info.getFrameIPAddr(0));
    EXPECT_EQ(8002, info.getFramePort());
    EXPECT_EQ(8001, info.getNodePort());
}

}  // namespace
}  // namespace vantreld
