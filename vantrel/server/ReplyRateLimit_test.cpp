#include "vantrel/server/ReplyRateLimit.h"

#include <gtest/gtest.h>

namespace vantreld {
namespace {

const uint64_t SECOND = 1000000;

int allowedOf(ReplyRateLimit& limit, const std::string& source, int tries, uint64_t now) {
    int allowed = 0;
    for (int i = 0; i < tries; ++i) allowed += limit.allow(source, now) ? 1 : 0;
    return allowed;
}

TEST(ReplyRateLimit, EachSourceGetsABurstThenTheRate) {
    ReplyRateLimit limit;
    EXPECT_EQ(20, allowedOf(limit, "10.0.0.1", 1000, SECOND));
    EXPECT_EQ(20, allowedOf(limit, "10.0.0.2", 1000, SECOND));  // another source: its own
    EXPECT_EQ(5, allowedOf(limit, "10.0.0.1", 1000, SECOND + SECOND / 2));
    EXPECT_EQ(20, allowedOf(limit, "10.0.0.1", 1000, 60 * SECOND));  // full again, not more
}

// Forged sources by the thousand: the table stays bounded, and a source searching meanwhile
// still gets at most a burst for every thousand of them.
TEST(ReplyRateLimit, TheTableOfSourcesStaysBounded) {
    ReplyRateLimit limit;
    int victim = 0;
    for (int i = 0; i < 20000; ++i) {
        limit.allow("forged-" + std::to_string(i), SECOND);
        victim += allowedOf(limit, "victim", 1, SECOND);
        EXPECT_LE(limit.sources(), ReplyRateLimit::MAX_SOURCES);
    }
    EXPECT_LE(victim, 20 * (1 + 20000 / 1000));
}

}  // namespace
}  // namespace vantreld
