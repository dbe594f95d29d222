#include "tcp/CoIoDescriptor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "osal/CoTime.h"
#include "tcp/CoIoTcpDescriptor.h"
#include "tcp/TcpTestSupport.h"

namespace Vantrel {
namespace {

using testing::ConnectedPair;
using testing::DebugCapture;

const char RESET_TEXT[] = "Connection reset by peer";
const char ABORTED_TEXT[] = "Software caused connection abort";
const char NOT_CONNECTED_TEXT[] = "Transport endpoint is not connected";

std::string textOf(CoIoDescriptor::IoError kind) {
    char text[256];
    CoIoDescriptor::getIoError(kind, text, sizeof text);
    return text;
}

TEST(CoIoDescriptorErrors, EachKindHasTheSystemsText) {
    const struct {
        CoIoDescriptor::IoError kind;
        const char* text;
    } cases[] = {
        {CoIoDescriptor::IO_ERR_NONE, ""},
        {CoIoDescriptor::IO_ERR_INTERRUPTED, "Interrupted system call"},
        {CoIoDescriptor::IO_ERR_WOULD_BLOCK, "Resource temporarily unavailable"},
        {CoIoDescriptor::IO_ERR_NOT_CONNECTED, NOT_CONNECTED_TEXT},
        {CoIoDescriptor::IO_ERR_CONNECTION_ABORTED, ABORTED_TEXT},
        {CoIoDescriptor::IO_ERR_CONNECTION_RESET, RESET_TEXT},
        {CoIoDescriptor::IO_ERR_TIMED_OUT, "Connection timed out"},
        {CoIoDescriptor::IO_ERR_CONNECTION_REFUSED, "Connection refused"},
        {CoIoDescriptor::IO_ERR_HOST_NOT_FOUND, "Name or service not known"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.text, textOf(c.kind)) << c.kind;

    errno = EHOSTUNREACH;
    EXPECT_EQ("No route to host", textOf(CoIoDescriptor::IO_ERR_UNKNOWN));

    char small[6];
    CoIoDescriptor::getIoError(CoIoDescriptor::IO_ERR_CONNECTION_RESET, small, sizeof small);
    EXPECT_STREQ("Conne", small);
}

TEST(CoIoDescriptorErrors, CurrentErrorMapsToItsKind) {
    const struct {
        int code;
        CoIoDescriptor::IoError kind;
    } cases[] = {
        {EINTR, CoIoDescriptor::IO_ERR_INTERRUPTED},
        {EAGAIN, CoIoDescriptor::IO_ERR_WOULD_BLOCK},
        {EINPROGRESS, CoIoDescriptor::IO_ERR_WOULD_BLOCK},
        {ENOTCONN, CoIoDescriptor::IO_ERR_NOT_CONNECTED},
        {ECONNABORTED, CoIoDescriptor::IO_ERR_CONNECTION_ABORTED},
        {ECONNRESET, CoIoDescriptor::IO_ERR_CONNECTION_RESET},
        {EPIPE, CoIoDescriptor::IO_ERR_CONNECTION_RESET},  // a send to a peer that has gone
        {ETIMEDOUT, CoIoDescriptor::IO_ERR_TIMED_OUT},
        {ECONNREFUSED, CoIoDescriptor::IO_ERR_CONNECTION_REFUSED},
    };
    DebugCapture messages;
    for (const auto& c : cases) {
        errno = c.code;
        EXPECT_EQ(c.kind, CoIoDescriptor::getIoError()) << c.code;
    }
    EXPECT_TRUE(messages.texts().empty());

    errno = EHOSTUNREACH;  // 113
    EXPECT_EQ(CoIoDescriptor::IO_ERR_UNKNOWN, CoIoDescriptor::getIoError());
    EXPECT_EQ(std::vector<std::string>{"Unexpected WinSock error: 71"}, messages.texts());
}

TEST(CoIoDescriptorIo, RoundTripInBothDirections) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();

    EXPECT_TRUE(pair.client.writeStr("sync 0 Ping\n"));
    EXPECT_EQ("sync 0 Ping\n", pair.peer.receive(12));

    pair.peer.sendAll("ok pong");
    char buf[8] = {};
    EXPECT_EQ(7, pair.client.blockingRead(buf, 7));
    EXPECT_STREQ("ok pong", buf);
    EXPECT_EQ("", pair.client.lastError());
}

TEST(CoIoDescriptorIo, LargeBlocksArriveWholeAndInOrder) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    std::string block(8 << 20, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + i / 251);

    std::string received;
    std::thread reader([&] { received = pair.peer.receive(block.size()); });
    const int size = static_cast<int>(block.size());
    EXPECT_EQ(size, pair.client.blockingWrite(block.data(), block.size()));
    reader.join();
    EXPECT_TRUE(received == block);

    std::thread writer([&] { pair.peer.sendAll(block); });
    std::string back(block.size(), '\0');
    EXPECT_EQ(size, pair.client.blockingRead(&back[0], back.size()));
    writer.join();
    EXPECT_TRUE(back == block);
}

TEST(CoIoDescriptorIo, BlockingReadOfMoreThanThePeerSendsBeforeClosingGivesReset) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    pair.peer.sendAll("1234");
    pair.peer.reset();
    char buf[10];
    EXPECT_EQ(-1, pair.client.blockingRead(buf, sizeof buf));
    EXPECT_EQ(RESET_TEXT, pair.client.lastError());
}

// The peer ends the connection in order (FIN) or with a reset (RST): either reads as a reset.
class CoIoDescriptorPeerGone : public ::testing::TestWithParam<bool> {
protected:
    void endPeer(testing::RawSocket& peer) {
        if (GetParam())
            peer.abort();
        else
            peer.reset();
    }
};

TEST_P(CoIoDescriptorPeerGone, AWaitingBlockingReadGivesReset) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        endPeer(pair.peer);
    });
    char buf[10];
    EXPECT_EQ(-1, pair.client.blockingRead(buf, sizeof buf));
    closer.join();
    EXPECT_EQ(RESET_TEXT, pair.client.lastError());
}

TEST_P(CoIoDescriptorPeerGone, IsActiveSeesItAndBlockingWriteFailsWithReset) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    EXPECT_TRUE(pair.client.isActive());
    endPeer(pair.peer);

    const uint64_t start = CoTime::monotonicMs();
    while (pair.client.isActive() && CoTime::monotonicMs() - start < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(pair.client.isActive());
    EXPECT_EQ(RESET_TEXT, pair.client.lastError());

    EXPECT_EQ(-1, pair.client.blockingWrite("x", 1));
    EXPECT_EQ(RESET_TEXT, pair.client.lastError());
}

TEST_P(CoIoDescriptorPeerGone, AWriteInProgressGivesResetAndTheProcessLivesOn) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    std::thread closer([&] {
        pair.peer.receive(1000);
        endPeer(pair.peer);
    });
    const std::string block(64 << 20, 'w');
    EXPECT_EQ(-1, pair.client.blockingWrite(block.data(), block.size()));
    closer.join();
    EXPECT_EQ(RESET_TEXT, pair.client.lastError());
}

INSTANTIATE_TEST_SUITE_P(OrderlyOrReset, CoIoDescriptorPeerGone, ::testing::Bool());

TEST(CoIoDescriptorIo, ASendOnAResetConnectionFailsWithoutEndingTheProcess) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    pair.peer.abort();
    char buf[1];
    ASSERT_EQ(-1, pair.client.blockingRead(buf, 1));  // takes the reset in
    // Unguarded, this send raises SIGPIPE, whose default action ends the process.
    EXPECT_EQ(-1, pair.client.nonBlockingWrite("x", 1));
    EXPECT_EQ(RESET_TEXT, pair.client.lastError());
}

TEST(CoIoDescriptorIo, BlockingWriteIsNotStoppedByUnreadDataFromThePeer) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    pair.peer.sendAll("unsolicited");
    EXPECT_TRUE(pair.client.writeStr("request\n"));
    EXPECT_EQ("request\n", pair.peer.receive(8));
    EXPECT_TRUE(pair.client.isActive());
}

TEST(CoIoDescriptorStop, StopFromAnotherThreadEndsASilentBlockingRead) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        pair.client.stop();
    });
    const uint64_t start = CoTime::monotonicMs();
    char buf[10];
    EXPECT_EQ(-1, pair.client.blockingRead(buf, sizeof buf));
    const uint64_t elapsed = CoTime::monotonicMs() - start;
    stopper.join();
    EXPECT_EQ(ABORTED_TEXT, pair.client.lastError());
    EXPECT_LT(elapsed, 5000u);
}

TEST(CoIoDescriptorStop, StopFromAnotherThreadEndsABlockingReadOfAPeerThatTricklesBytes) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    std::atomic<bool> reading{true};
    std::thread trickler([&] {
        for (int i = 0; i < 400 && reading; ++i) {
            pair.peer.sendAll("t");
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    });
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        pair.client.stop();
    });
    char buf[400];
    EXPECT_EQ(-1, pair.client.blockingRead(buf, sizeof buf));
    reading = false;
    stopper.join();
    trickler.join();
    EXPECT_EQ(ABORTED_TEXT, pair.client.lastError());
}

TEST(CoIoDescriptorStop, StopFromAnotherThreadEndsABlockingWriteToAPeerThatDoesNotRead) {
    ConnectedPair pair(4096, 4096);
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    const std::string block(64 << 20, 'w');
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        pair.client.stop();
    });
    EXPECT_EQ(-1, pair.client.blockingWrite(block.data(), block.size()));
    stopper.join();
    EXPECT_EQ(ABORTED_TEXT, pair.client.lastError());
}

TEST(CoIoDescriptorStop, StopBeforeTheCallIsForgotten) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    pair.client.stop();
    EXPECT_TRUE(pair.client.ioStopped());
    pair.peer.sendAll("abc");
    char buf[3];
    EXPECT_EQ(3, pair.client.blockingRead(buf, sizeof buf));
    EXPECT_FALSE(pair.client.ioStopped());
}

TEST(CoIoDescriptorIdleLimit, ASilentPeerEndsReadsAndWritesWithTheTimedOutText) {
    ConnectedPair pair(4096, 4096);
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    pair.client.setIdleLimit(200);
    char buf[10];
    EXPECT_EQ(-1, pair.client.blockingRead(buf, sizeof buf));
    EXPECT_EQ(textOf(CoIoDescriptor::IO_ERR_TIMED_OUT), pair.client.lastError());
    const std::string block(64 << 20, 'w');  // far more than the peer's buffers hold
    EXPECT_EQ(-1, pair.client.blockingWrite(block.data(), block.size()));
    EXPECT_EQ(textOf(CoIoDescriptor::IO_ERR_TIMED_OUT), pair.client.lastError());
}

TEST(CoIoDescriptorIdleLimit, AReadThatKeepsMovingOutlastsTheLimit) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    pair.client.setIdleLimit(1000);
    const std::string sent(30, 't');
    std::thread trickle([&] {
        for (char c : sent) {  // 1.5 s in all, a byte every 50 ms
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pair.peer.sendAll(std::string(1, c));
        }
    });
    std::string got(sent.size(), '\0');
    EXPECT_EQ(static_cast<int>(got.size()), pair.client.blockingRead(&got[0], got.size()))
        << pair.client.lastError();
    trickle.join();
    EXPECT_EQ(sent, got);
}

TEST(CoIoDescriptorReadLine, LinesAreCutToTheBufferAndTheStreamStaysInStep) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    const std::string longLine(200000, 'x');  // a peer that never seems to end its line
    const struct {
        int size;
        std::string input;
        int result;
        std::string line;
    } cases[] = {
        {4, "abcdef\n", 3, "abc"},
        {4, "abc\n", 3, "abc"},
        {10, "hi\n", 2, "hi"},
        {10, "\n", 0, ""},
        {1, "xyz\n", 0, ""},
        {16, longLine + "\n", 15, longLine.substr(0, 15)},
        {10, "after\n", 5, "after"},
    };
    for (const auto& c : cases) {
        pair.peer.sendAll(c.input);
        std::vector<char> buf(static_cast<size_t>(c.size) + 1, '#');  // one guard byte
        EXPECT_EQ(c.result, pair.client.readLine(buf.data(), c.size)) << c.input.substr(0, 20);
        EXPECT_EQ(c.line, std::string(buf.data()));
        EXPECT_EQ('#', buf.back()) << "wrote past the buffer";
        EXPECT_EQ("", pair.client.lastError());
    }
}

TEST(CoIoDescriptorReadLine, FailureGivesZeroAndTheResetText) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    pair.peer.sendAll("no end");
    pair.peer.reset();
    char buf[32];
    EXPECT_EQ(0, pair.client.readLine(buf, sizeof buf));
    EXPECT_EQ(RESET_TEXT, pair.client.lastError());
}

TEST(CoIoDescriptorSelect, ReadSelectWaitsBoundedAndReportsThePeerClosing) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    char buf[16];
    EXPECT_EQ(0, pair.client.nonBlockingReadSelect(buf, sizeof buf, 50));

    pair.peer.sendAll("data");
    EXPECT_EQ(4, pair.client.nonBlockingReadSelect(buf, sizeof buf, 2000));

    pair.peer.reset();
    EXPECT_EQ(-1, pair.client.nonBlockingReadSelect(buf, sizeof buf, 2000));
    EXPECT_EQ(RESET_TEXT, pair.client.lastError());
}

TEST(CoIoDescriptorSelect, WriteSelectWritesWhenThereIsRoom) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    EXPECT_EQ(5, pair.client.nonBlockingWriteSelect("hello", 5, 2000));
    EXPECT_EQ("hello", pair.peer.receive(5));
}

TEST(CoIoDescriptorClose, ClosingTwiceIsFineAndAClosedDescriptorSaysNotConnected) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.client.isValid()) << pair.client.lastError();
    EXPECT_TRUE(pair.client.close());
    EXPECT_TRUE(pair.client.close());
    EXPECT_FALSE(pair.client.isValid());
    EXPECT_EQ(CoIoDescriptor::INVALID_ID, pair.client.id());
    EXPECT_EQ("", pair.peer.receive(1)) << "the peer sees the end of the connection";

    char buf[4];
    CoIoDescriptor& io = pair.client;
    const std::vector<std::pair<const char*, std::function<int()>>> operations = {
        {"blockingRead", [&] { return io.blockingRead(buf, 4); }},
        {"blockingWrite", [&] { return io.blockingWrite("abcd", 4); }},
        {"nonBlockingReadSelect", [&] { return io.nonBlockingReadSelect(buf, 4, 10); }},
        {"nonBlockingWriteSelect", [&] { return io.nonBlockingWriteSelect("abcd", 4, 10); }},
        {"isActive", [&] { return io.isActive() ? 1 : -1; }},
    };
    for (const auto& operation : operations) {
        io.setLastError("");
        EXPECT_EQ(-1, operation.second()) << operation.first;
        EXPECT_EQ(NOT_CONNECTED_TEXT, io.lastError()) << operation.first;
    }
}

// The base class on a plain pipe: file reads and writes, end of input as a reset.
class PipeDescriptor : public CoIoDescriptor {
public:
    explicit PipeDescriptor(int fd) { setId(fd); }
};

TEST(CoIoDescriptorPipe, BlockingReadAndWriteWorkOnAPipe) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    PipeDescriptor reader(fds[0]);
    auto writer = std::make_unique<PipeDescriptor>(fds[1]);

    EXPECT_TRUE(writer->writeStr("line one\nrest"));
    char buf[32];
    EXPECT_EQ(8, reader.readLine(buf, sizeof buf));
    EXPECT_STREQ("line one", buf);

    writer.reset();  // closes the write end
    EXPECT_EQ(-1, reader.blockingRead(buf, 10));
    EXPECT_EQ(RESET_TEXT, reader.lastError());
}

}  // namespace
}  // namespace Vantrel
