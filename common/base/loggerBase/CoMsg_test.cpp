#include "vantrel/CoMsg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>

#include "osal/CoEnvSettings.h"
#include "testing/MessageCapture.h"

using namespace Vantrel;
using Vantrel::testing::MessageCapture;

namespace {

// Restores the process-wide channel state that a test changes.
class CoMsgTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedFilter_ = CoMsg::filterLevel();
        savedVerbose_ = CoMsg::verboseFlag();
        levelSetting_ = CoEnvStringSetting::find("ZR_MSG_LEVEL");
        ASSERT_NE(levelSetting_, nullptr);
        savedLevelSetting_ = levelSetting_->value();
    }
    void TearDown() override {
        levelSetting_->set(savedLevelSetting_);
        CoMsg::setFilterLevel(savedFilter_);
        CoMsg::setVerboseFlag(savedVerbose_);
        CoMsg::enableFamily(false);
        CoMsg::setRouter(nullptr);
    }

    // Writes the message through the router's stream writer and returns what was written.
    static std::string written(const MessageCapture& router, const CoMsg& msg) {
        FILE* file = std::tmpfile();
        router.write(msg, file);
        std::rewind(file);
        std::string out;
        char chunk[512];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) out.append(chunk, n);
        std::fclose(file);
        return out;
    }

    static void postAtEveryLevel() {
        CoMsgBuilder<0>(__FILE__, __LINE__, CoMsg::postUser)("user");
        CoMsgBuilder<0>(__FILE__, __LINE__, CoMsg::postError)("error");
        CoMsgBuilder<0>(__FILE__, __LINE__, CoMsg::postWarning)("warn");
        CoMsgBuilder<0>(__FILE__, __LINE__, CoMsg::postNotice)("notice");
        CoMsgBuilder<0>(__FILE__, __LINE__, CoMsg::postDebug)("debug");
    }

    CoEnvStringSetting* levelSetting_ = nullptr;
    std::string savedLevelSetting_;
    CoMsg::Level savedFilter_ = CoMsg::NOTICE_LEVEL;
    bool savedVerbose_ = false;
};

int pid4242() { return 4242; }

TEST(CoMsgLevels, NamesAndBack) {
    const struct { int level; const char* name; } table[] = {
        {0, "user"}, {1, "error"}, {2, "warn"}, {3, "notice"}, {4, "debug"},
        {-1, "unknown"}, {7, "unknown"}, {5, "unknown"},
    };
    for (const auto& row : table)
        EXPECT_STREQ(CoMsg::levelToString(static_cast<CoMsg::Level>(row.level)), row.name) << row.level;

    const struct { const char* name; int level; } inverse[] = {
        {"user", 0}, {"error", 1}, {"warn", 2}, {"notice", 3}, {"debug", 4},
        {"Error", -1}, {"warning", -1}, {"", -1}, {"unknown", -1}, {nullptr, -1},
    };
    for (const auto& row : inverse)
        EXPECT_EQ(CoMsg::stringToLevel(row.name), row.level) << (row.name ? row.name : "(null)");
}

TEST(CoMsgFile, ReducedToLastPathComponent) {
    const struct { const char* path; const char* reduced; } table[] = {
        {"dir\\sub/name.ext", "name.ext"}, {"dir/", "dir"}, {"a/b//", "b"}, {"///", "\\"},
        {"\\", "\\"}, {"x", "x"}, {"plain.cpp", "plain.cpp"}, {"", ""},
    };
    for (const auto& row : table) {
        EXPECT_EQ(CoMsg::reduceFileName(row.path), row.reduced) << row.path;
        EXPECT_EQ(CoMsg("t", row.path).file(), row.reduced) << row.path;
    }
}

TEST(CoMsgValue, NullTextAndFamilyAreEmptyAndCopiesKeepEveryField) {
    CoMsg::setCurrentPIDCallback(pid4242);
    const CoMsg msg(nullptr, "src/x.cpp", 12, CoMsg::WARNING_LEVEL, nullptr);
    EXPECT_EQ(msg.text(), "");
    EXPECT_EQ(msg.family(), "");
    const CoMsg copy = msg;
    EXPECT_EQ(copy.file(), "x.cpp");
    EXPECT_EQ(copy.line(), 12);
    EXPECT_EQ(copy.level(), CoMsg::WARNING_LEVEL);
    EXPECT_EQ(copy.processNumber(), 4242);
    EXPECT_EQ(copy.time(), msg.time());
}

TEST_F(CoMsgTest, DebugSettingLetsEveryLevelThrough) {
    levelSetting_->set("debug");
    MessageCapture capture;
    postAtEveryLevel();
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{"user", "error", "warn", "notice", "debug"}));
}

TEST_F(CoMsgTest, SettingThatNamesNoLevelSilencesEverything) {
    levelSetting_->set("warning");
    EXPECT_EQ(CoMsg::filterLevel(), CoMsg::UNKNOWN_LEVEL);
    MessageCapture capture;
    postAtEveryLevel();
    EXPECT_TRUE(capture.texts().empty());
}

TEST_F(CoMsgTest, DefaultFilterIsNoticeAndSettingChangeReplacesAnExplicitLevel) {
    levelSetting_->set("");
    EXPECT_EQ(CoMsg::filterLevel(), CoMsg::NOTICE_LEVEL);
    CoMsg::setFilterLevel(CoMsg::DEBUGGING_LEVEL);
    levelSetting_->set("error");
    EXPECT_EQ(CoMsg::filterLevel(), CoMsg::ERROR_LEVEL);
}

TEST_F(CoMsgTest, DefaultFilterLevelAppliesOnlyWhileTheSettingIsUnset) {
    levelSetting_->set("");
    CoMsg::setDefaultFilterLevel(CoMsg::USER_LEVEL);
    EXPECT_EQ(CoMsg::filterLevel(), CoMsg::USER_LEVEL);
    MessageCapture capture;
    postAtEveryLevel();
    EXPECT_EQ(capture.texts(), std::vector<std::string>{"user"});

    levelSetting_->set("debug");
    CoMsg::setDefaultFilterLevel(CoMsg::USER_LEVEL);
    EXPECT_EQ(CoMsg::filterLevel(), CoMsg::DEBUGGING_LEVEL);
}

TEST_F(CoMsgTest, BuildersCarryFileLineAndFamily) {
    levelSetting_->set("debug");
    MessageCapture capture;
    CoMsgBuilder<0>("a/b/file0.cpp", 17, CoMsg::postError)("n=%d", 5);
    CoMsgBuilder<1>("file1.cpp", 18, CoMsg::postWarning)("net", "%s", "up");
    const auto messages = capture.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text(), "n=5");
    EXPECT_EQ(messages[0].file(), "file0.cpp");
    EXPECT_EQ(messages[0].line(), 17);
    EXPECT_EQ(messages[0].family(), "-");
    EXPECT_EQ(messages[0].level(), CoMsg::ERROR_LEVEL);
    EXPECT_EQ(messages[1].family(), "net");
    EXPECT_EQ(messages[1].level(), CoMsg::WARNING_LEVEL);
}

TEST_F(CoMsgTest, LongTextIsCutTo2047Characters) {
    MessageCapture capture;
    const std::string longText(5000, 'x');
    CO_MSG_USER("%s", longText.c_str());
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.messages()[0].text(), std::string(2047, 'x'));
}

TEST_F(CoMsgTest, PlainFormDropsTrailingWhiteSpace) {
    MessageCapture router;
    CoMsg::setVerboseFlag(false);
    EXPECT_EQ(written(router, CoMsg("hello \n\t", "x", 212, CoMsg::ERROR_LEVEL)), "hello\n");
    // Verbose, but without a line: still the plain form.
    CoMsg::setVerboseFlag(true);
    EXPECT_EQ(written(router, CoMsg("hello", "x", 0, CoMsg::ERROR_LEVEL)), "hello\n");
}

TEST_F(CoMsgTest, FullFormWithAndWithoutFamilies) {
    MessageCapture router;
    CoMsg::setVerboseFlag(true);
    CoMsg::setCurrentPIDCallback(pid4242);
    const CoMsg msg("disk full \n", "dir/x", 212, CoMsg::ERROR_LEVEL, "-");
    const std::regex plainFamilies(R"(\[error\] 4242 x:212 [^ ]+:[^ ]+\.\d{3} disk full\n)");
    EXPECT_TRUE(std::regex_match(written(router, msg), plainFamilies)) << written(router, msg);

    CoMsg::enableFamily(true);
    const std::regex withFamily(R"(\[error\] \[-\] 4242 x:212 [^ ]+:[^ ]+\.\d{3} disk full\n)");
    EXPECT_TRUE(std::regex_match(written(router, msg), withFamily)) << written(router, msg);
}

TEST_F(CoMsgTest, FormatCutsToTheBuffer) {
    const CoMsg msg(std::string(3000, 'y').c_str(), "x", 1, CoMsg::USER_LEVEL);
    char big[CoMsg::MAX_LINE + 1];
    msg.format(big, sizeof big);
    EXPECT_EQ(std::strlen(big), static_cast<size_t>(CoMsg::MAX_LINE));
    char small[8];
    EXPECT_EQ(msg.format(small, sizeof small), small);
    EXPECT_STREQ(small, "[user] ");
}

TEST(CoMsgSettings, VerboseWordRule) {
    const struct { const char* raw; bool verbose; } table[] = {
        {nullptr, false}, {"", true}, {"yes", true}, {"1", true}, {"true", true},
        {"false", false}, {"FALSE", false}, {"0", false}, {"False", true},
    };
    for (const auto& row : table)
        EXPECT_EQ(CoEnvBoolSetting::parse(row.raw, false), row.verbose) << (row.raw ? row.raw : "(unset)");
}

TEST_F(CoMsgTest, ConsoleWritesUnfilteredWithOptionalFamily) {
    levelSetting_->set("warning");  // silences the filtered posts
    ::testing::internal::CaptureStdout();
    CoMsgBuilder<1>(__FILE__, __LINE__, CoMsg::postConsole)("fam", "value %d", 3);
    CoMsg::enableFamily(true);
    CoMsgBuilder<1>(__FILE__, __LINE__, CoMsg::postShell)("fam", "value %d", 4);
    CO_MSG_USER("filtered");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "value 3\nfam value 4\n");
}

TEST_F(CoMsgTest, DefaultRouterWritesToStandardOutput) {
    levelSetting_->set("");
    CoMsg::setDefaultFilterLevel(CoMsg::USER_LEVEL);
    CoMsg::setVerboseFlag(false);
    ::testing::internal::CaptureStdout();
    CO_MSG_NOTICE("not shown");
    CO_MSG_USER("shown");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "shown\n");
}

TEST_F(CoMsgTest, StderrLoggerFiltersByItsOwnReadingOfTheSetting) {
    CoMsg::setVerboseFlag(false);
    unsetenv("ZR_MSG_LEVEL");
    {
        CoStderrLogger logger;
        EXPECT_EQ(&CoMsg::router(), &logger);
        EXPECT_EQ(CoMsg::filterLevel(), CoMsg::ERROR_LEVEL);
        ::testing::internal::CaptureStderr();
        CO_MSG_ERROR("bad");
        CO_MSG_WARNING("not shown");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "bad\n");
    }
    EXPECT_EQ(&CoMsg::router(), &CoMsg::defaultRouter());

    setenv("ZR_MSG_LEVEL", "", 1);
    {
        CoStderrLogger logger;
        EXPECT_EQ(CoMsg::filterLevel(), CoMsg::UNKNOWN_LEVEL);
    }
    unsetenv("ZR_MSG_LEVEL");
}

TEST(CoMsgDeathTest, NullFormatStopsTheProcess) {
    EXPECT_DEATH(
        {
            CoMsg::setFilterLevel(CoMsg::DEBUGGING_LEVEL);
            va_list none{};
            CoMsg::postUser(__FILE__, __LINE__, "", nullptr, none);
        },
        "fmt != 0");
}

}  // namespace
