#include "vantrel/server/LogQueue.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cctype>
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

// The numbers of the "N log lines dropped" reports in `text`, added up.
unsigned long long reportedDrops(const std::string& text) {
    const std::string report = " log lines dropped\n";
    unsigned long long total = 0;
    for (size_t at = text.find(report); at != std::string::npos; at = text.find(report, at + 1)) {
        size_t digits = at;
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(text[digits - 1]))) --digits;
        total += std::stoull(text.substr(digits, at - digits));
    }
    return total;
}

// Nobody reads the output: posting never waits, lines beyond the queue are dropped and
// counted, and every drop is reported in the output once it drains (the writer may free room
// while lines are still posted, so a report can come before the last of them).
TEST(LogQueue, DropsAndCountsWhatItCannotWriteWithoutWaiting) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    {
        LogQueue log(ends[1]);
        const std::string line(100, 'x');
        for (size_t i = 0; i < 4 * LogQueue::MAX_LINES; ++i) log.post(line);  // a pipe holds 64 KB
        EXPECT_GT(log.dropped(), 0u);
        std::string written = readUntil(ends[0], "nothing", 2000);
        EXPECT_NE(written.find(line), std::string::npos);
        log.post("the last line");
        written += readUntil(ends[0], "the last line");
        EXPECT_EQ(reportedDrops(written), log.dropped());
        EXPECT_NE(written.find("the last line"), std::string::npos);
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
