#include "vantrel/protocol/FrameWire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "vantrel/CoException.h"

namespace VantrelFrameWire {
namespace {

using namespace std::string_literals;

// Bytes of a string, then an end of stream.
class StringSource : public ByteSource {
public:
    explicit StringSource(std::string bytes) : bytes_(std::move(bytes)) {}
    void read(void* buffer, size_t size) override {
        if (size > bytes_.size() - at_) throw std::runtime_error("end of stream");
        std::memcpy(buffer, bytes_.data() + at_, size);
        at_ += size;
        reads_ += 1;
    }
    size_t consumed() const { return at_; }

private:
    std::string bytes_;
    size_t at_ = 0;
    size_t reads_ = 0;
};

std::string coText(const std::function<void()>& action) {
    try {
        action();
    } catch (const Vantrel::CoException& e) {
        return e.what();
    }
    return "(no exception)";
}

TEST(FrameWire, CommandTableNumbersAndNames) {
    const std::vector<std::string> names = {"ReadFrame",
                                            "WriteFrame",
                                            "ReadAhead",
                                            "NoOp",
                                            "PullFile",
                                            "PushFile",
                                            "ReadStream",
                                            "ReadFrameNoAck",
                                            "ReadFrameParams",
                                            "ReadAheadParams",
                                            "ReadFrameParamsNoAck",
                                            "ReadAheadRedirect",
                                            "InvalidateCache"};
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(names[i], commandName(static_cast<Command>(i)));
        EXPECT_EQ(static_cast<Command>(i), commandFromName(names[i]));
    }
    EXPECT_EQ(UNKNOWN_COMMAND, commandFromName("readframe"));
    EXPECT_STREQ("", commandName(UNKNOWN_COMMAND));
}

TEST(FrameWire, RequestFormsByteForByte) {
    EXPECT_EQ(
        "ReadFrame\0"
        "12.3\0"
        "4096\0"s,
        requestHeader("ReadFrame", "12.3", 4096));
    EXPECT_EQ(
        "WriteFrame\0"
        "a\0"
        "0\0"s,
        requestHeader("WriteFrame", "a", 0));
    EXPECT_EQ(
        "PullFile\0"
        "x/y\0"
        "262144\0"s,
        requestHeader("PullFile", "x/y", 262144));
    EXPECT_EQ(
        "ReadAheadRedirect\0"
        "\0"
        "-1\0"s,
        requestHeader("ReadAheadRedirect", "", -1));
    char buffer[32];
    EXPECT_EQ(19u, formatRequestHeader(buffer, sizeof buffer, "ReadFrame", "1.2", 4096));
    EXPECT_EQ(
        "ReadFrame\0"
        "1.2\0"
        "4096\0"s,
        std::string(buffer, 19));
    EXPECT_EQ(0u, formatRequestHeader(buffer, 18, "ReadFrame", "1.2", 4096));  // no room for it
    EXPECT_EQ("NoOp\0"s, bareCommand("NoOp"));
    EXPECT_EQ("InvalidateCache\0"s, bareCommand("InvalidateCache"));
    EXPECT_EQ("0\0"s, numberField(0));
    EXPECT_EQ("-42\0"s, numberField(-42));
}

TEST(FrameWire, ErrorPrefixIsTheStated82Bytes) {
    EXPECT_EQ(82u, std::strlen(ERROR_PREFIX));
    EXPECT_EQ("Fetcher la vache! An error occurred while reading a frame from the Vantrel server:"s,
              ERROR_PREFIX);
    std::vector<char> buffer(4096, 'x');
    makeErrorReply("Unknown frame id: '9.9'", buffer.data(), buffer.size());
    EXPECT_EQ(0, std::memcmp(buffer.data(), ERROR_PREFIX, 82));
    EXPECT_EQ('\0', buffer[4095]);
    std::string text;
    ASSERT_TRUE(isErrorReply(buffer.data(), buffer.size(), text));
    EXPECT_EQ("Unknown frame id: '9.9'", text);
    buffer[0] = 'f';
    EXPECT_FALSE(isErrorReply(buffer.data(), buffer.size(), text));
    EXPECT_FALSE(isErrorReply(ERROR_PREFIX, 81, text));
}

TEST(FrameWire, StatusIsCutAfter1023Bytes) {
    struct Case {
        std::string bytes;
        std::string text;
        bool cut;
        size_t consumed;
    };
    const std::string long1022(1022, 'e');
    const std::string long1023(1023, 'e');
    const Case cases[] = {
        {"\0rest"s, "", false, 1},
        {"Unknown frame id\0"s, "Unknown frame id", false, 17},
        {long1022 + '\0', long1022, false, 1023},
        {long1023 + '\0', long1023, true, 1023},  // the NUL stays on the stream
    };
    for (const Case& c : cases) {
        StringSource source(c.bytes);
        bool cut = false;
        EXPECT_EQ(c.text, readStatus(source, cut));
        EXPECT_EQ(c.cut, cut);
        EXPECT_EQ(c.consumed, source.consumed());
    }
}

TEST(FrameWire, NumberReplies) {
    const std::string digits62(62, '1');
    struct Case {
        std::string bytes;
        long long value;
    };
    const Case cases[] = {{"0\0"s, 0}, {"17\0"s, 17}, {"-3\0"s, -3}, {" 12ab\0"s, 12}, {"x\0"s, 0}};
    for (const Case& c : cases) {
        StringSource source(c.bytes);
        EXPECT_EQ(c.value, readNumber(source)) << c.bytes;
    }
    for (const char* huge : {"99999999999999999999999", "39908014829399571313"}) {
        StringSource source(std::string(huge) + '\0');
        EXPECT_EQ(std::numeric_limits<long long>::max(), readNumber(source)) << huge;
    }
    StringSource fits(digits62 + '\0');
    EXPECT_GT(readNumber(fits), 0);
    StringSource tooLong(digits62 + "1" + '\0');
    EXPECT_EQ("Invalid number reply from the server", coText([&] { readNumber(tooLong); }));
    EXPECT_EQ(63u, tooLong.consumed());
}

TEST(FrameWire, RedirectRecordSizeIsCapped) {
    StringSource source("IP0 1 a");
    EXPECT_EQ("IP0 1 a", readRedirectRecord(source, 7));
    StringSource none("");
    EXPECT_EQ("", readRedirectRecord(none, 0));
    EXPECT_EQ("Invalid redirect record size: 65537",
              coText([&] { readRedirectRecord(none, MAX_REDIRECT_RECORD + 1); }));
    EXPECT_EQ("Invalid redirect record size: -1", coText([&] { readRedirectRecord(none, -1); }));
}

TEST(FrameWire, ServerParsesEveryRequestForm) {
    struct Case {
        std::string bytes;
        Command command;
        std::string argument;
        long long number;
        std::string parameters;
    };
    const Case cases[] = {
        {"ReadFrame\0"
         "1.2\0"
         "4096\0"s,
         READ_FRAME, "1.2", 4096, ""},
        {"ReadFrameParamsNoAck\0"
         "1.2\0"
         "8192\0"
         "3\0"
         "abc"s,
         READ_FRAME_PARAMS_NO_ACK, "1.2", 8192, "abc"},
        {"ReadAheadRedirect\0"
         "7.0\0"
         "10\0"
         "0\0"s,
         READ_AHEAD_REDIRECT, "7.0", 10, ""},
        {"WriteFrame\0"
         "7.1\0"
         "5\0"s,
         WRITE_FRAME, "7.1", 5, ""},
        {"NoOp\0"s, NO_OP, "", 0, ""},
        {"InvalidateCache\0"s, INVALIDATE_CACHE, "", 0, ""},
    };
    for (const Case& c : cases) {
        StringSource source(c.bytes);
        Request request;
        EXPECT_EQ(c.command, readCommand(source, request));
        readRequestFields(source, request);
        EXPECT_EQ(c.argument, request.argument);
        EXPECT_EQ(c.number, request.number);
        EXPECT_EQ(c.parameters, request.parameters);
        EXPECT_EQ(c.bytes.size(), source.consumed()) << c.bytes;
    }
    StringSource stream(
        "ReadStream\0"
        "stream-4\0"
        "100\0"
        "-2\0"
        "10\0"
        "3\0"s);
    Request request;
    readCommand(stream, request);
    readRequestFields(stream, request);
    EXPECT_EQ(-2, request.first);
    EXPECT_EQ(10, request.unitSize);
    EXPECT_EQ(3, request.count);
}

TEST(FrameWire, ServerRefusesMalformedRequests) {
    struct Case {
        std::string bytes;
        std::string error;
    };
    const Case cases[] = {
        {std::string(100, 'R') + '\0', "Command name too long"},
        {"ReadFrame\0"s + std::string(5000, 'a') + '\0', "Argument too long"},
        {"ReadFrame\0"
         "a\0"
         "12x\0"s,
         "Invalid size field"},
        {"ReadFrame\0"
         "a\0"
         "-5\0"s,
         "Invalid size field"},
        {"ReadFrame\0"
         "a\0"
         "\0"s,
         "Invalid size field"},
        {"ReadFrameParams\0"
         "a\0"
         "5\0"
         "99999999\0"s,
         "Parameters too long"},
        {"ReadStream\0"
         "s\0"
         "5\0"
         "0\0"
         "1\0"
         "-1\0"s,
         "Invalid count field"},
    };
    for (const Case& c : cases) {
        StringSource source(c.bytes);
        Request request;
        EXPECT_EQ(c.error, coText([&] {
                      readCommand(source, request);
                      readRequestFields(source, request);
                  }))
            << c.bytes.substr(0, 40);
    }
    StringSource unknown("Hello\0"s);
    Request request;
    EXPECT_EQ(UNKNOWN_COMMAND, readCommand(unknown, request));
    EXPECT_EQ("Hello", request.name);
}

}  // namespace
}  // namespace VantrelFrameWire
