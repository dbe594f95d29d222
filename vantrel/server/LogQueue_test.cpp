#include "vantrel/server/LogQueue.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>

using namespace vantreld;

namespace {

// Reads what the pipe holds until `text` shows up or nothing more comes for `quietMs`.
std::string readUntil(int fd, const std::string& text, int quietMs = 5000) {
    std::string read;
    char bytes[65536];
    pollfd p{fd, POLLIN, 0};
    while (read.find(text) == std::string::npos && ::poll(&p, 1, quietMs) == 1) {
        const ssize_t n = ::read(fd, bytes, sizeof bytes);
        if (n <= 0) break;
        read.append(bytes, static_cast<size_t>(n));
    }
    return read;
}

}  // namespace

// Nobody reads the output: posting never waits, lines beyond the queue are dropped and
// counted, and the count is written once the output drains.
TEST(LogQueue, DropsAndCountsWhatItCannotWriteWithoutWaiting) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    {
        LogQueue log(ends[1]);
        const std::string line(100, 'x');
        for (size_t i = 0; i < 4 * LogQueue::MAX_LINES; ++i) log.post(line);  // a pipe holds 64 KB
        EXPECT_GT(log.dropped(), 0u);
        // The queued lines: a quiet pause long enough that a writer slowed by a loaded machine
        // has emptied the queue before the last line is posted.
        const std::string before = readUntil(ends[0], "nothing", 2000);
        EXPECT_EQ(before.find("dropped"), std::string::npos);
        EXPECT_NE(before.find(line), std::string::npos);
        log.post("the last line");
        const std::string after = readUntil(ends[0], "the last line");
        EXPECT_NE(after.find(std::to_string(log.dropped()) + " log lines dropped\n"),
                  std::string::npos)
            << after;
        EXPECT_NE(after.find("the last line"), std::string::npos);
        EXPECT_TRUE(log.finish(5000));
    }
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST(LogQueue, FinishGivesUpOnAnOutputThatNeverDrains) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    LogQueue* log = new LogQueue(ends[1]);
    for (size_t i = 0; i < LogQueue::MAX_LINES; ++i) log->post(std::string(100, 'x'));
    EXPECT_FALSE(log->finish(200));
    readUntil(ends[0], "nothing", 300);  // drains the pipe: the writer ends
    delete log;
    ::close(ends[0]);
    ::close(ends[1]);
}
