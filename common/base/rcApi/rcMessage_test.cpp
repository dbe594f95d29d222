#include "rcApi/rcMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tcp/CoIoTcpDescriptor.h"

namespace Vantrel {
namespace {

std::string requestLine(int mode, int objectId, const char* method, const char* args) {
    rcCommand command;
    command.setMode(mode);
    command.setObjectId(objectId);
    command.setMethod(method);
    command.setArgs(args);
    return command.toString();
}

std::string decode(const std::string& escaped) {
    rcValue value;
    for (char c : escaped) value.appendEscapedChar(c);
    return std::string(value.value(), value.length());
}

std::string encode(const char* text) {
    rcValue value;
    value.setValue(text);
    return value.escapedValue();
}

TEST(RequestLine, IsPinnedByteForByte) {
    const std::string line = requestLine(rcCommand::SYNC, 0, "GetChildrenEx", "a\tb");
    EXPECT_EQ(std::string("sync 0 GetChildrenEx a\\tb\n"), line);
    EXPECT_EQ(26u, line.size());

    // The three spaces are there also without arguments.
    EXPECT_EQ("sync 0 _ping \n", requestLine(rcCommand::SYNC, 0, "_ping", ""));
    EXPECT_EQ("async -7 Notify x\n", requestLine(rcCommand::ASYNC, -7, "Notify", "x"));
    EXPECT_STREQ("unknown", rcCommand::getModeName(5));
}

TEST(Escaping, EncodesLineFeedsTabsAndBackslashesOnly) {
    const struct {
        const char* text;
        const char* wire;
    } cases[] = {
        {"", ""},
        {"a\nb", "a\\nb"},
        {"\t", "\\t"},
        {"x\\", "x\\\\"},  // one trailing backslash goes out as two
        {"C:\\dir\\f", "C:\\\\dir\\\\f"},
        {"cr\r stays", "cr\r stays"},
        {"quote \" stays", "quote \" stays"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.wire, encode(c.text)) << c.text;
        EXPECT_EQ(c.text, decode(c.wire)) << c.wire;
    }
}

TEST(Escaping, DecodesUnknownEscapesToTheByteAndDropsATrailingBackslash) {
    EXPECT_EQ("q", decode("\\q"));
    EXPECT_EQ("ab", decode("ab\\"));
    EXPECT_EQ("\\n", decode("\\\\n"));
}

TEST(RequestLine, ParsesItsFourFieldsAndDecodesTheArguments) {
    rcCommand command;
    const std::string line = "sync 12 Rename a b\\n\\\\c\n";
    EXPECT_EQ(line.size(), command.parse(line.data(), line.size()));
    ASSERT_TRUE(command.isComplete());
    EXPECT_STREQ("sync", command.getMode());
    EXPECT_FALSE(command.isAsync());
    EXPECT_EQ(12, command.getObjectIdValue());
    EXPECT_STREQ("Rename", command.getMethod());
    EXPECT_STREQ("a b\n\\c", command.getArgs());
    EXPECT_EQ(line, command.toString());

    command.reset();
    const std::string odd = "syncx  m\n";  // consecutive spaces give empty words
    command.parse(odd.data(), odd.size());
    EXPECT_TRUE(command.isAsync());
    EXPECT_STREQ("", command.getObjectId());
    EXPECT_STREQ("m", command.getMethod());
    EXPECT_STREQ("", command.getArgs());
}

TEST(RequestLine, ObjectIdsOutOfRangeSaturateInsteadOfWrapping) {
    rcCommand command;
    const std::string line = "sync 99999999999999999999 m \n";
    command.parse(line.data(), line.size());
    EXPECT_EQ(2147483647, command.getObjectIdValue());
}

TEST(RequestLine, ParseStopsAfterEachLineSoPipelinedRequestsStaySeparate) {
    const std::string segment = "sync 0 _ping \nasync 3 Go x\n";
    rcCommand command;
    const size_t first = command.parse(segment.data(), segment.size());
    EXPECT_EQ(14u, first);
    EXPECT_STREQ("_ping", command.getMethod());
    command.reset();
    command.parse(segment.data() + first, segment.size() - first);
    EXPECT_TRUE(command.isComplete());
    EXPECT_STREQ("Go", command.getMethod());
    EXPECT_TRUE(command.isAsync());
}

TEST(ReplyLine, ReadsStatusAndValue) {
    const struct {
        const char* line;
        bool error;
        const char* status;
        const char* value;
    } cases[] = {
        {"ok \n", false, "ok", ""},                  // success with an empty value
        {"ok\n", false, "ok", ""},                   // no space: the whole line is the status
        {"okay\n", true, "okay", ""},
        {"error Unknown method: X\n", true, "error", "Unknown method: X"},
        {"ok a\\tb c\n", false, "ok", "a\tb c"},
        {"OK fine\n", true, "OK", "fine"},           // only exactly "ok" is success
    };
    for (const auto& c : cases) {
        rcResult result;
        const std::string line = c.line;
        EXPECT_EQ(line.size(), result.parse(line.data(), line.size())) << c.line;
        EXPECT_TRUE(result.isComplete()) << c.line;
        EXPECT_EQ(c.error, result.isError()) << c.line;
        EXPECT_STREQ(c.status, result.getStatus()) << c.line;
        EXPECT_STREQ(c.value, result.getValue()) << c.line;
    }
}

TEST(ReplyLine, RendersStatusCodes) {
    rcResult result;
    result.setStatus(rcResult::OK);
    EXPECT_EQ("ok \n", result.toString());
    result.setStatus(rcResult::ERROR);
    result.setValue("bad\nthing");
    EXPECT_EQ("error bad\\nthing\n", result.toString());
    result.setStatus(9);
    EXPECT_STREQ("unknown", result.getStatus());
    EXPECT_TRUE(result.isError());
}

// A line may take MAX_LINE_LENGTH bytes with its line feed; one byte more and the parser stops
// taking bytes and holding memory for them.
template <typename Parser>
void checkLineCap(Parser& parser, const std::string& head) {
    const size_t limit = CoIoTcpDescriptor::MAX_LINE_LENGTH;
    const std::vector<char> chunk(1 << 20, 'a');
    size_t fed = parser.parse(head.data(), head.size());
    while (fed < limit - 1) {
        const size_t n = std::min(chunk.size(), limit - 1 - fed);
        ASSERT_EQ(n, parser.parse(chunk.data(), n));
        fed += n;
    }
    EXPECT_FALSE(parser.isTooLong());
    EXPECT_LE(parser.capacity(), limit + 1024);

    const std::string more = "aaaa\n";
    EXPECT_EQ(1u, parser.parse(more.data(), more.size()));
    EXPECT_TRUE(parser.isTooLong());
    EXPECT_FALSE(parser.isComplete());
    EXPECT_EQ(0u, parser.parse(more.data(), more.size())) << "nothing more is taken";
    EXPECT_LE(parser.capacity(), limit + 1024);
}

TEST(LineCap, RequestParserHoldsNoMoreThanTheLimit) {
    rcCommand command;
    checkLineCap(command, "sync 0 Put ");
    command.reset();
    EXPECT_FALSE(command.isTooLong());
}

TEST(LineCap, ReplyParserHoldsNoMoreThanTheLimit) {
    rcResult result;
    checkLineCap(result, "ok ");
}

}  // namespace
}  // namespace Vantrel
