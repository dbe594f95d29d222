#include "ProgressBar.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace vantrel_tool {
namespace {

TEST(ProgressBarTest, RendersItemsBytesRateAndTimeLeft) {
    ProgressBar::Snapshot s;
    s.items = 12;
    s.totalItems = 24;
    s.bytes = 35'200'000;
    s.totalBytes = 70'400'000;
    s.seconds = 2;
    EXPECT_EQ(ProgressBar::render(s, "frames", 200),
              "[##########          ]  12/24 frames  35.2/70.4 MB  17.6 MB/s  0:02 left");

    s.totalBytes = 0;  // time left from the items
    s.items = 6;
    EXPECT_EQ(ProgressBar::render(s, "files", 200),
              "[#####               ]  6/24 files  35.2 MB  17.6 MB/s  0:06 left");

    s.totalItems = 0;  // nothing known: no bar, no time left
    EXPECT_EQ(ProgressBar::render(s, "files", 200),
              "[                    ]  6 files  35.2 MB  17.6 MB/s");

    s.seconds = 0;  // just started
    EXPECT_EQ(ProgressBar::render(s, "files", 200),
              "[                    ]  6 files  35.2 MB  0.0 MB/s");
}

TEST(ProgressBarTest, LongWaitsAndNarrowTerminals) {
    ProgressBar::Snapshot s;
    s.items = 1;
    s.totalItems = 1000;
    s.bytes = 1'000'000;
    s.seconds = 10;
    EXPECT_NE(ProgressBar::render(s, "frames", 200).find("2:46:30 left"), std::string::npos);
    EXPECT_EQ(ProgressBar::render(s, "frames", 31), "[                    ]  1/1000");
}

std::string drawn(bool enabled, bool finish) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    {
        ProgressBar bar(out, enabled, "frames", 2, 20);
        bar.advance(1, 10);
        if (finish) {
            bar.advance(1, 10);
            bar.finish();
        }
    }
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
}

TEST(ProgressBarTest, DrawsInPlaceAndEndsItsLine) {
    const std::string finished = drawn(true, true);
    EXPECT_EQ(finished.find("\r[##########          ]  1/2 frames"), 0u) << finished;
    EXPECT_NE(finished.find("\r[####################]  2/2 frames  0.0/0.0 MB"), std::string::npos)
        << finished;
    EXPECT_EQ(finished.back(), '\n');

    const std::string stopped = drawn(true, false);  // an error cut the transfer short
    EXPECT_EQ(stopped.back(), '\n');
    EXPECT_EQ(stopped.find("2/2"), std::string::npos);

    EXPECT_EQ(drawn(false, true), "");
}

}  // namespace
}  // namespace vantrel_tool
