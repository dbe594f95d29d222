#include "vantrel/client/connection/VantrelTextConversion.h"

#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "tcp/TcpTestSupport.h"

namespace {

// Sets the character-type locale for one test and restores the previous one.
class LocaleScope {
public:
    explicit LocaleScope(const char* name) : previous_(std::setlocale(LC_CTYPE, nullptr)) {
        valid_ = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~LocaleScope() { std::setlocale(LC_CTYPE, previous_.c_str()); }
    bool valid() const { return valid_; }

private:
    std::string previous_;
    bool valid_;
};

struct Case {
    const char* name;
    std::string input;
    std::string expected;
};

TEST(VantrelTextConversion, UTF8LocalePassesEveryTextUnchanged) {
    LocaleScope locale("C.UTF-8");
    ASSERT_TRUE(locale.valid());
    Vantrel::testing::DebugCapture capture;
    const std::string texts[] = {"plain", "Caf\xc3\xa9 \xe2\x82\xac", "bad \xff\xfe tail", ""};
    for (const std::string& text : texts) {
        EXPECT_EQ(text, VantrelLocaleToUTF8(text.c_str()));
        std::string converted = text;
        VantrelUTF8ToLocale(converted);
        EXPECT_EQ(text, converted);
    }
    EXPECT_TRUE(capture.messages().empty());
    EXPECT_EQ("", VantrelLocaleToUTF8(nullptr));
}

// "C" is ASCII (ANSI_X3.4-1968): nothing above 0x7F can be said in it.
TEST(VantrelTextConversion, AsciiLocaleToUTF8StopsAtTheFirstInvalidByte) {
    LocaleScope locale("C");
    ASSERT_TRUE(locale.valid());
    const Case cases[] = {
        {"ascii", "Reel 1/clip_2", "Reel 1/clip_2"},
        {"invalid byte drops the rest", "Caf\xe9 au lait", "Caf?"},
        {"invalid first byte", "\xc3\xa9t\xc3\xa9", "?"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        Vantrel::testing::DebugCapture capture;
        EXPECT_EQ(c.expected, VantrelLocaleToUTF8(c.input.c_str())) << c.name;
        const bool warned = capture.contains("Invalid character for locale C:");
        EXPECT_EQ(c.input != c.expected, warned) << c.name;
    }
}

TEST(VantrelTextConversion, InvalidLocaleByteNearTheEndIsReportedWithZeroPadding) {
    LocaleScope locale("C");
    ASSERT_TRUE(locale.valid());
    Vantrel::testing::DebugCapture capture;
    EXPECT_EQ("ab?", VantrelLocaleToUTF8("ab\xe9"));
    EXPECT_TRUE(capture.contains("Invalid character for locale C: e9 00 00 00"));
}

TEST(VantrelTextConversion, UTF8ToAsciiLocale) {
    LocaleScope locale("POSIX");
    ASSERT_TRUE(locale.valid());
    const Case cases[] = {
        {"ascii", "Reel 1", "Reel 1"},
        {"two-byte character", "Caf\xc3\xa9!", "Caf?!"},
        {"three- and four-byte characters", "\xe2\x82\xac-\xf0\x9f\x8e\xac.", "?-?."},
        {"continuation bytes are not checked", "a\xc3(b", "a?b"},
        {"sequence cut by the end", "ab\xe2\x82", "ab?"},
        {"invalid lead byte ends the text", "ok\x80rest", "ok"},
        {"invalid lead byte at the start", "\xffx", ""},
    };
    for (const Case& c : cases) {
        Vantrel::testing::DebugCapture capture;
        std::string text = c.input;
        VantrelUTF8ToLocale(text);
        EXPECT_EQ(c.expected, text) << c.name;
    }
}

TEST(VantrelTextConversion, UTF8ToLocaleWarningsNameTheBytes) {
    LocaleScope locale("C");
    ASSERT_TRUE(locale.valid());
    Vantrel::testing::DebugCapture capture;
    std::string unconvertible = "\xc3\xa9";
    VantrelUTF8ToLocale(unconvertible);
    EXPECT_TRUE(capture.contains("Cannot convert Unicode character 0xe9 to locale C"));
    EXPECT_TRUE(capture.contains("Source UTF8: c3 a9 00 00"));

    std::string invalid = "x\xbf\x01\x02\x03";
    VantrelUTF8ToLocale(invalid);
    EXPECT_EQ("x", invalid);
    EXPECT_TRUE(capture.contains("Invalid UTF8 character in string: bf 01 02 03"));
}

// A non-UTF-8 locale that can say more than ASCII still round-trips through UTF-8; Latin-1
// locales are not installed everywhere, so this runs only where one is.
TEST(VantrelTextConversion, Latin1LocaleRoundTripsWhenInstalled) {
    LocaleScope locale("en_US.ISO-8859-1");
    if (!locale.valid()) GTEST_SKIP() << "no Latin-1 locale on this machine";
    EXPECT_EQ("Caf\xc3\xa9", VantrelLocaleToUTF8("Caf\xe9"));
    std::string text = "Caf\xc3\xa9";
    VantrelUTF8ToLocale(text);
    EXPECT_EQ("Caf\xe9", text);
}

}  // namespace
