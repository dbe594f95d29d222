#include "vantrel/CoException.h"

#include <gtest/gtest.h>

#include <string>

#include "loggerBase/CoLastErrLogger.h"
#include "vantrel/CoMsg.h"
#include "loggerBase/FloatUtil.h"
#include "testing/MessageCapture.h"

using namespace Vantrel;
using Vantrel::testing::MessageCapture;

namespace {

class VerboseExceptions : public ::testing::Test {
protected:
    void SetUp() override { saved_ = CoException::verboseExceptions(); }
    void TearDown() override { CoException::enableVerboseExceptions(saved_); }
    bool saved_ = false;
};

CoException fired(const CoException& thrower, const char* message, const char* detail, long long n) {
    CoException copy = thrower;
    try {
        copy.fire(message, detail, n);
    } catch (const CoException& e) {
        return e;
    }
    ADD_FAILURE() << "fire returned";
    return copy;
}

TEST_F(VerboseExceptions, TextLayoutWithAndWithoutVerboseMode) {
    const CoException site(10, "F");

    CoException::enableVerboseExceptions(false);
    CoException quiet = fired(site, "Out of memory.", "Unable to allocate %lld bytes.", 5);
    EXPECT_STREQ(quiet.what(), "Out of memory.");
    EXPECT_STREQ(quiet.expertData(), "Unable to allocate 5 bytes.");
    EXPECT_STREQ(quiet.fileName(), "F");
    EXPECT_EQ(quiet.lineNumber(), 10);

    CoException::enableVerboseExceptions(true);
    CoException loud = fired(site, "Out of memory.", "Unable to allocate %lld bytes.", 5);
    EXPECT_STREQ(loud.what(), "Out of memory. f:F l:10 Unable to allocate 5 bytes.");
    EXPECT_STREQ(loud.expertData(), "Unable to allocate 5 bytes.");
}

TEST_F(VerboseExceptions, NoDetailGivesEmptyExpertData) {
    CoException::enableVerboseExceptions(false);
    try {
        CoException(1, "f").fire("boom", nullptr);
    } catch (const std::exception& e) {  // caught as the standard exception too
        EXPECT_STREQ(e.what(), "boom");
        EXPECT_STREQ(static_cast<const CoException&>(e).expertData(), "");
        return;
    }
    FAIL() << "not thrown";
}

TEST_F(VerboseExceptions, TruncationLimits) {
    CoException::enableVerboseExceptions(false);
    const std::string longMessage(2000, 'm');
    CoException e(longMessage.c_str(), 1, "f");
    EXPECT_EQ(std::string(e.what()), std::string(1599, 'm'));
    EXPECT_STREQ(e.expertData(), "");

    const std::string longFile(200, 'p');
    CoException withFile(1, longFile.c_str());
    EXPECT_EQ(std::string(withFile.fileName()), std::string(127, 'p'));

    // Verbose, with a message that leaves no room for the file and line.
    CoException::enableVerboseExceptions(true);
    const std::string nearlyFull(1595, 'n');
    CoException cut(nearlyFull.c_str(), 123456, "file");
    EXPECT_EQ(std::string(cut.what()).size(), 1599u);
    EXPECT_STREQ(cut.expertData(), "");

    // A detail longer than the room left is cut to the array.
    CoException::enableVerboseExceptions(false);
    const std::string longDetail(3000, 'd');
    try {
        CoException(1, "f").fire("m", "%s", longDetail.c_str());
    } catch (const CoException& thrown) {
        EXPECT_STREQ(thrown.what(), "m");
        EXPECT_EQ(std::string(thrown.expertData()), std::string(1600 - 3, 'd'));
    }
}

TEST(CoLastErrLogger, RecordsAndPostsUnlessSilent) {
    const CoMsg::Level saved = CoMsg::filterLevel();
    CoMsg::setFilterLevel(CoMsg::USER_LEVEL);  // postError does not consult the filter
    CoLastErrLogger logger;
    {
        MessageCapture capture;
        logger.setModule("src/dir/CoNetworkConfig.cpp", 42).postError("Invalid UUID '%s'", "x-y");
        ASSERT_EQ(capture.messages().size(), 1u);
        const CoMsg msg = capture.messages()[0];
        EXPECT_EQ(msg.text(), "Invalid UUID 'x-y'");
        EXPECT_EQ(msg.file(), "CoNetworkConfig.cpp");
        EXPECT_EQ(msg.line(), 42);
        EXPECT_EQ(msg.level(), CoMsg::ERROR_LEVEL);
        EXPECT_EQ(logger.getLastError(), "Invalid UUID 'x-y'");

        logger.setSilentMode(true);
        logger.postError("quiet %d", 1);
        EXPECT_EQ(capture.messages().size(), 1u);
        EXPECT_EQ(logger.getLastError(), "quiet 1");
    }
    CoMsg::setFilterLevel(saved);

    CoLastErrLogger other;
    other.assignError(logger);
    EXPECT_EQ(other.getLastError(), "quiet 1");
    EXPECT_FALSE(other.getSilentMode());
    other.clearLastError();
    EXPECT_EQ(other.getLastError(), "");
}

TEST(CoLastErrLogger, LongTextIsCutTo2047Characters) {
    CoLastErrLogger logger;
    logger.setSilentMode(true);
    const std::string longText(4000, 'e');
    logger.postError("%s", longText.c_str());
    EXPECT_EQ(logger.getLastError(), std::string(2047, 'e'));
}

TEST(ComparisonAssertionDeathTest, NamesTheJoinedConditionAndItsSourceLine) {
    EXPECT_DEATH((FloatUtil::ThrowAssertionFailed<int, 1>::throwAssertionFailed(
                     "caller.cpp", 7, "a", " < ", "b", 1, 2, 3)),
                 "a < b.*condition.c_str\\(\\) == 0.*floatUtil.inline, line 1851");
    EXPECT_DEATH((FloatUtil::ThrowAssertionFailed<double, 0>::throwAssertionFailed(
                     "caller.cpp", 7, "x", " == ", "y", 1.0, 2.0, 3.0)),
                 "floatUtil.inline, line 1805");
}

}  // namespace
