#include "rcApi/rcAttrStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "testing/MessageCapture.h"

namespace Vantrel {
namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

const char PARSE_ERROR[] = "Error parsing attribute stream.";

// Every visible attribute, in text order, as the iterator reads it.
Attributes readAll(const rcAttrStream& stream) {
    rcAttrStream::ConstIterator it(stream);
    const std::string& data = it.getData();
    Attributes result;
    unsigned int namePos, nameLen, valuePos, valueLen;
    while (it.next(namePos, nameLen, valuePos, valueLen)) {
        EXPECT_LE(uint64_t{valuePos} + valueLen, data.size()) << "offsets stay inside the text";
        result.emplace_back(data.substr(namePos, nameLen), data.substr(valuePos, valueLen));
    }
    return result;
}

int countText(const testing::MessageCapture& capture, const std::string& text) {
    int count = 0;
    for (const std::string& posted : capture.texts()) count += posted == text;
    return count;
}

// Messages are checked after the filter, so keep the filter at its usual level whatever the
// environment says.
class AttrStreamMessages : public ::testing::Test {
protected:
    void SetUp() override { CoMsg::setFilterLevel(CoMsg::NOTICE_LEVEL); }
    testing::MessageCapture capture;
};

TEST(AttrStream, BuildsTheDocumentedTextByteForByte) {
    rcAttrStream stream;
    stream.addStringValue("host", "alpha");
    stream.addStringValue("port", "7549");
    EXPECT_EQ(std::string("host 5 alphaport 4 7549"), stream.getStreamStr());
    EXPECT_EQ(23u, stream.getStreamStr().size());

    stream.addStringValue("host", "beta");
    EXPECT_EQ(std::string("     5 alphaport 4 7549host 4 beta"), stream.getStreamStr());
    EXPECT_EQ(34u, stream.getStreamStr().size());
    EXPECT_STREQ("     5 alphaport 4 7549host 4 beta", stream.getStream());

    EXPECT_EQ((Attributes{{"port", "7549"}, {"host", "beta"}}), readAll(stream));
    EXPECT_EQ(2u, rcAttrStream::ConstIterator(stream).getSize());
    EXPECT_EQ(rcAttrStream("port 4 7549host 4 beta"), stream);
}

TEST(AttrStream, TypedWritersProduceTheirTextForms) {
    struct Case {
        void (*write)(rcAttrStream&);
        const char* text;
    };
    const Case cases[] = {
        {[](rcAttrStream& s) { s.addIntValue("v", -42); }, "v 3 -42"},
        {[](rcAttrStream& s) { s.addIntValue("v", INT_MIN); }, "v 11 -2147483648"},
        {[](rcAttrStream& s) { s.addFloatValue("v", 1.5f); }, "v 3 1.5"},
        {[](rcAttrStream& s) { s.addFloatValue("v", 1e10f); }, "v 5 1e+10"},
        {[](rcAttrStream& s) { s.addUInt32Value("v", 255); }, "v 4 0xff"},
        {[](rcAttrStream& s) { s.addUInt32Value("v", 0); }, "v 3 0x0"},
        {[](rcAttrStream& s) { s.addUInt32Value("v", 0xFFFFFFFFu); }, "v 10 0xffffffff"},
        {[](rcAttrStream& s) { s.addUInt64Value("v", 0x1234567890ABCDEFull); }, "v 18 0x1234567890abcdef"},
        {[](rcAttrStream& s) { s.addBoolValue("v", true); }, "v 1 1"},
        {[](rcAttrStream& s) { s.addBoolValue("v", false); }, "v 1 0"},
        {[](rcAttrStream& s) { s.addStringValue("v", ""); }, "v 0 "},
    };
    for (const Case& c : cases) {
        rcAttrStream stream;
        c.write(stream);
        EXPECT_EQ(std::string(c.text), stream.getStreamStr());
    }
}

TEST(AttrStream, NumericReadersConvertTheValueText) {
    struct Case {
        const char* value;
        int asInt;
        unsigned int asUInt;
        unsigned int asUInt32;
        uint64_t asUInt64;
        unsigned char asUChar;
        float asFloat;
    };
    const std::string longHex = "0x" + std::string(60, '0') + "1234";  // first 63 bytes: ...01
    const Case cases[] = {
        {"42", 42, 42, 0x42, 0x42, 42, 42.0f},
        {"-1", -1, 0xFFFFFFFFu, 0xFFFFFFFFu, UINT64_MAX, 255, -1.0f},
        {"0xff", 0, 0, 255, 255, 0, 255.0f},  // atof reads hexadecimal too
        {"300", 300, 300, 0x300, 0x300, 44, 300.0f},
        {"12abc", 12, 12, 0x12abc, 0x12abc, 12, 12.0f},
        {"abc", 0, 0, 0xabc, 0xabc, 0, 0.0f},
        {"", 0, 0, 0, 0, 0, 0.0f},
        {"  7", 7, 7, 7, 7, 7, 7.0f},
        {"2.5e1", 2, 2, 0x2, 0x2, 2, 25.0f},
        {"4000000000", -294967296, 4000000000u, 0xFFFFFFFFu, 0x4000000000ull, 0, 4e9f},
        {"0x100000000", 0, 0, 0xFFFFFFFFu, 0x100000000ull, 0, 4294967296.0f},
        {"-0x2", 0, 0, 0xFFFFFFFEu, UINT64_MAX - 1, 0, -2.0f},
        {longHex.c_str(), 0, 0, 1, 1, 0, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        rcAttrStream stream;
        stream.addStringValue("n", c.value);
        int asInt = 7;
        unsigned int asUInt = 7, asUInt32 = 7;
        uint64_t asUInt64 = 7;
        unsigned char asUChar = 7;
        float asFloat = 7;
        ASSERT_TRUE(stream.getIntValue("n", asInt));
        ASSERT_TRUE(stream.getUIntValue("n", asUInt));
        ASSERT_TRUE(stream.getUInt32Value("n", asUInt32));
        ASSERT_TRUE(stream.getUInt64Value("n", asUInt64));
        ASSERT_TRUE(stream.getUCharValue("n", asUChar));
        ASSERT_TRUE(stream.getFloatValue("n", asFloat));
        EXPECT_EQ(c.asInt, asInt);
        EXPECT_EQ(c.asUInt, asUInt);
        EXPECT_EQ(c.asUInt32, asUInt32);
        EXPECT_EQ(c.asUInt64, asUInt64);
        EXPECT_EQ(c.asUChar, asUChar);
        EXPECT_FLOAT_EQ(c.asFloat, asFloat);
    }
}

TEST(AttrStream, WritersRoundTripThroughTheirReaders) {
    rcAttrStream stream;
    stream.addIntValue("i", INT_MIN);
    stream.addUInt32Value("u32", 0xDEADBEEFu);
    stream.addUInt64Value("u64", UINT64_MAX);
    stream.addFloatValue("f", -0.125f);
    stream.addBoolValue("yes", true);
    stream.addBoolValue("no", false);

    int i = 0;
    unsigned int u32 = 0;
    uint64_t u64 = 0;
    float f = 0;
    bool yes = false, no = true;
    ASSERT_TRUE(stream.getIntValue("i", i));
    ASSERT_TRUE(stream.getUInt32Value("u32", u32));
    ASSERT_TRUE(stream.getUInt64Value("u64", u64));
    ASSERT_TRUE(stream.getFloatValue("f", f));
    ASSERT_TRUE(stream.getBoolValue("yes", yes));
    ASSERT_TRUE(stream.getBoolValue("no", no));
    EXPECT_EQ(INT_MIN, i);
    EXPECT_EQ(0xDEADBEEFu, u32);
    EXPECT_EQ(UINT64_MAX, u64);
    EXPECT_EQ(-0.125f, f);
    EXPECT_TRUE(yes);
    EXPECT_FALSE(no);
}

TEST(AttrStream, BooleanWordRule) {
    const std::pair<const char*, bool> cases[] = {
        {"true", true}, {"TRUE", true},   {"1", true},    {"YES", true},   {"yes", true},
        {"On", true},   {"false", false}, {"FALSE", false}, {"0", false},  {"no", false},
        {"off", false}, {"", false},      {"maybe", false}, {"2", false},  {"yes ", false},
    };
    for (const auto& [word, expected] : cases) {
        SCOPED_TRACE(word);
        EXPECT_EQ(expected, rcStringToBool(word));
        EXPECT_EQ(expected, rcStringToBool(std::string(word)));
        rcAttrStream stream;
        stream.addStringValue("b", word);
        bool value = !expected;
        ASSERT_TRUE(stream.getBoolValue("b", value));
        EXPECT_EQ(expected, value);
    }
    EXPECT_FALSE(rcStringToBool(static_cast<const char*>(nullptr)));
}

TEST(AttrStream, ValuesComeBackUnchanged) {
    const std::string values[] = {
        "", "two words", "'single' and \"double\" quotes", "line\nfeed\r\n\ttab",
        "x 3 abc", "  leading and trailing  ", std::string(1000, 'v'),
    };
    rcAttrStream stream;
    for (size_t i = 0; i < std::size(values); ++i)
        stream.addStringValue(("k" + std::to_string(i)).c_str(), values[i].c_str());
    for (size_t i = 0; i < std::size(values); ++i) {
        std::string value = "untouched";
        ASSERT_TRUE(stream.getStringValue(("k" + std::to_string(i)).c_str(), value));
        EXPECT_EQ(values[i], value);
    }
    EXPECT_EQ(std::size(values), rcAttrStream::ConstIterator(stream).getSize());
}

TEST(AttrStream, BufferReaderCutsAndTerminates) {
    rcAttrStream stream("v 6 abcdef");
    const std::pair<unsigned int, const char*> cases[] = {
        {1, ""}, {4, "abc"}, {6, "abcde"}, {7, "abcdef"}, {64, "abcdef"}};
    for (const auto& [size, expected] : cases) {
        char buffer[80];
        std::fill(std::begin(buffer), std::end(buffer), '#');
        ASSERT_TRUE(stream.getStringValue("v", buffer, size));
        EXPECT_STREQ(expected, buffer);
        EXPECT_EQ('#', buffer[size]) << "wrote past the buffer of " << size;
    }
}

TEST(AttrStream, EmptyStreamHasNothingToGive) {
    for (const rcAttrStream& stream : {rcAttrStream(), rcAttrStream(""), rcAttrStream(std::string()),
                                       rcAttrStream(static_cast<const char*>(nullptr))}) {
        EXPECT_TRUE(stream.isEmpty());
        EXPECT_EQ(0u, rcAttrStream::ConstIterator(stream).getSize());
        EXPECT_EQ("", stream.toPrettyString(10));

        std::string text = "untouched";
        char buffer[8] = "keep";
        int i = 7;
        unsigned int u = 7, u32 = 7;
        uint64_t u64 = 7;
        unsigned char uc = 7;
        float f = 7;
        bool b = true;
        EXPECT_FALSE(stream.getStringValue("a", text));
        EXPECT_FALSE(stream.getStringValue("a", buffer, sizeof buffer));
        EXPECT_FALSE(stream.getIntValue("a", i));
        EXPECT_FALSE(stream.getUIntValue("a", u));
        EXPECT_FALSE(stream.getUInt32Value("a", u32));
        EXPECT_FALSE(stream.getUInt64Value("a", u64));
        EXPECT_FALSE(stream.getUCharValue("a", uc));
        EXPECT_FALSE(stream.getFloatValue("a", f));
        EXPECT_FALSE(stream.getBoolValue("a", b));
        EXPECT_EQ("untouched", text);
        EXPECT_STREQ("keep", buffer);
        EXPECT_EQ(7, i);
        EXPECT_EQ(7u, u);
        EXPECT_EQ(7u, u32);
        EXPECT_EQ(7u, u64);
        EXPECT_EQ(7u, uc);
        EXPECT_EQ(7.0f, f);
        EXPECT_TRUE(b);
    }
}

TEST(AttrStream, NullNameIsAbsent) {
    rcAttrStream stream("a 1 x");
    std::string value = "untouched";
    int number = 7;
    EXPECT_FALSE(stream.getStringValue(nullptr, value));
    EXPECT_FALSE(stream.getIntValue(nullptr, number));
    EXPECT_EQ("untouched", value);
    EXPECT_EQ(7, number);
}

TEST(AttrStream, NamesMatchExactly) {
    rcAttrStream stream("ab 1 xA 1 y");
    std::string value;
    EXPECT_FALSE(stream.getStringValue("a", value));
    EXPECT_FALSE(stream.getStringValue("abc", value));
    EXPECT_FALSE(stream.getStringValue("B", value));
    EXPECT_TRUE(stream.getStringValue("A", value));
    EXPECT_EQ("y", value);
    EXPECT_TRUE(stream.getStringValue("ab", value));
    EXPECT_EQ("x", value);
}

TEST(AttrStream, ReplacingBlanksTheOldEntryInPlace) {
    rcAttrStream stream;
    stream.addStringValue("name", "first");
    stream.addIntValue("other", 1);
    stream.addStringValue("name", "second");
    stream.addStringValue("name", "third");

    EXPECT_EQ(std::string("     5 firstother 1 1     6 secondname 5 third"), stream.getStreamStr());
    EXPECT_EQ((Attributes{{"other", "1"}, {"name", "third"}}), readAll(stream));
    EXPECT_EQ(rcAttrStream("other 1 1name 5 third"), stream);
    EXPECT_EQ(rcAttrStream("name 5 thirdother 1 1"), stream);
}

TEST(AttrStream, IteratorRemoveBlanksOnlyTheFirstMatch) {
    rcAttrStream stream("a 1 xbb 2 yya 1 z");
    rcAttrStream::Iterator it(stream);
    it.remove("a");
    EXPECT_EQ(std::string("  1 xbb 2 yya 1 z"), stream.getStreamStr());
    EXPECT_EQ(stream.getStreamStr(), it.getData()) << "the iterator restarts on the new text";
    std::string value;
    EXPECT_TRUE(stream.getStringValue("a", value));
    EXPECT_EQ("z", value);

    for (const char* absent : {"b", "bbb", "", static_cast<const char*>(nullptr)}) {
        it.remove(absent);
        EXPECT_EQ(std::string("  1 xbb 2 yya 1 z"), stream.getStreamStr());
    }
    it.remove("bb");
    it.remove("a");
    EXPECT_TRUE(stream.isEmpty());
    EXPECT_EQ(std::string("  1 x   2 yy  1 z"), stream.getStreamStr());
}

TEST(AttrStream, IteratorResetChangesTheEditedStream) {
    rcAttrStream first("a 1 x");
    rcAttrStream second("a 1 y");
    rcAttrStream::Iterator it(first);
    rcAttrStream::Iterator copy(it);
    it.reset(second);
    it.remove("a");
    EXPECT_EQ("a 1 x", first.getStreamStr());
    EXPECT_EQ("  1 y", second.getStreamStr());
    copy.remove("a");
    EXPECT_EQ("  1 x", first.getStreamStr());
}

TEST(AttrStream, IteratorOffsetsPointIntoItsData) {
    rcAttrStream stream("     5 alphaport 4 7549host 4 beta");
    rcAttrStream::ConstIterator it(stream);
    unsigned int namePos, nameLen, valuePos, valueLen;
    ASSERT_TRUE(it.next(namePos, nameLen, valuePos, valueLen));
    EXPECT_EQ((std::vector<unsigned int>{12, 4, 19, 4}),
              (std::vector<unsigned int>{namePos, nameLen, valuePos, valueLen}));
    ASSERT_TRUE(it.next(namePos, nameLen, valuePos, valueLen));
    EXPECT_EQ((std::vector<unsigned int>{23, 4, 30, 4}),
              (std::vector<unsigned int>{namePos, nameLen, valuePos, valueLen}));
    EXPECT_FALSE(it.next(namePos, nameLen, valuePos, valueLen));
    EXPECT_FALSE(it.next(namePos, nameLen, valuePos, valueLen));
    EXPECT_EQ(2u, it.getSize());

    stream.setStream("z 1 q");
    EXPECT_FALSE(it.next(namePos, nameLen, valuePos, valueLen)) << "holds its own copy";
    it.reset(stream);
    ASSERT_TRUE(it.next(namePos, nameLen, valuePos, valueLen));
    EXPECT_EQ("z", it.getData().substr(namePos, nameLen));
}

TEST(AttrStream, CircularSearchFindsAttributesInAnyOrder) {
    rcAttrStream stream;
    const char* names[] = {"a", "b", "c", "d", "e"};
    for (const char* name : names) stream.addStringValue(name, name);
    stream.addStringValue("c", "C");  // a blank entry in the middle of the walk

    for (auto name = std::rbegin(names); name != std::rend(names); ++name) {
        std::string value;
        ASSERT_TRUE(stream.getStringValue(*name, value)) << *name;
        EXPECT_EQ(std::string(*name) == "c" ? "C" : *name, value);
    }
    for (const char* name : {"b", "e", "a", "d", "c", "c"}) {
        std::string value;
        EXPECT_TRUE(stream.getStringValue(name, value)) << name;
    }
}

TEST(AttrStream, FailedSearchLeavesTheCursorAtTheStartMark) {
    rcAttrStream stream("a 1 1b 1 2  1 _c 1 3");
    rcAttrStream::ConstIterator it(stream);
    unsigned int valuePos, valueLen, namePos, nameLen;
    ASSERT_TRUE(it.find("b", valuePos, valueLen));
    EXPECT_EQ("2", it.getData().substr(valuePos, valueLen));
    EXPECT_FALSE(it.find("zz", valuePos, valueLen));
    ASSERT_TRUE(it.next(namePos, nameLen, valuePos, valueLen)) << "the cursor stays after b";
    EXPECT_EQ("c", it.getData().substr(namePos, nameLen));

    EXPECT_FALSE(it.find("zz", valuePos, valueLen));
    EXPECT_FALSE(it.next(namePos, nameLen, valuePos, valueLen)) << "the cursor stays at the end";
    ASSERT_TRUE(it.find("a", valuePos, valueLen)) << "the search wraps to the start";
    ASSERT_TRUE(it.next(namePos, nameLen, valuePos, valueLen));
    EXPECT_EQ("b", it.getData().substr(namePos, nameLen));
}

TEST(AttrStream, DuplicateNamesAreFoundFromTheCursorOnward) {
    rcAttrStream stream("a 1 xa 1 y");
    std::string value;
    ASSERT_TRUE(stream.getStringValue("a", value));
    EXPECT_EQ("x", value);

    rcAttrStream copied(stream);  // copies start at the beginning
    rcAttrStream assigned;
    assigned = stream;            // assignment keeps the cursor's place

    ASSERT_TRUE(stream.getStringValue("a", value));
    EXPECT_EQ("y", value);
    ASSERT_TRUE(stream.getStringValue("a", value));
    EXPECT_EQ("x", value);
    ASSERT_TRUE(copied.getStringValue("a", value));
    EXPECT_EQ("x", value);
    ASSERT_TRUE(assigned.getStringValue("a", value));
    EXPECT_EQ("y", value);

    stream.setStream("a 1 xa 1 y");
    ASSERT_TRUE(stream.getStringValue("a", value));
    EXPECT_EQ("x", value) << "a new text restarts the cursor";
}

TEST(AttrStream, EqualityIgnoresOrderAndBlanks) {
    struct Case {
        const char* left;
        const char* right;
        bool equal;
    };
    const Case cases[] = {
        {"", "", true},
        {"a 1 xb 2 yy", "b 2 yya 1 x", true},
        {"a 1 xb 2 yy", "  1 qb 2 yya 1 x", true},
        {"", "     5 alpha", true},
        {"a 1 x", "a 1 y", false},
        {"a 1 x", "a 2 xx", false},
        {"a 1 x", "a 1 xb 1 y", false},
        {"a 1 xb 1 y", "a 1 x", false},
        {"a 1 x", "ab 1 x", false},
        {"a 1 xa 1 y", "a 1 xb 1 y", false},
        {"a 0 b 0 ", "b 0 a 0 ", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.left) + " | " + c.right);
        EXPECT_EQ(c.equal, rcAttrStream(c.left) == rcAttrStream(c.right));
        EXPECT_EQ(c.equal, rcAttrStream(c.right) == rcAttrStream(c.left));
        EXPECT_NE(c.equal, rcAttrStream(c.left) != rcAttrStream(c.right));
    }
}

TEST(AttrStream, PrettyStringShortensAndFlattens) {
    struct Case {
        const char* text;
        int width;
        const char* expected;
    };
    const Case cases[] = {
        {"k 8 abcdefgh", 5, "k='ab...'"},
        {"k 5 abcde", 5, "k='abcde'"},
        {"k 6 abcdef", 5, "k='ab...'"},
        {"k 4 abcd", 0, "k='...'"},
        {"k 3 abc", 0, "k='abc'"},
        {"k 4 abcd", -7, "k='...'"},
        {"k 4 abcd", INT_MAX, "k='abcd'"},
        {"a 1 xbb 0   1 zc 3 1 2", 10, "a='x' bb='' c='1 2'"},
        {"t 6 a\nb\r\tc", 10, "t='a b  c'"},
        {"t 9 \n\n\n\n\n\nxyz", 5, "t='  ...'"},
        {"", 5, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.expected, rcAttrStream(c.text).toPrettyString(c.width));
    }
}

TEST(AttrStream, AttrListOnlyHoldsTheText) {
    rcAttrList<std::string> list("2 1 a1 b");
    EXPECT_STREQ("2 1 a1 b", list.getStream());
    list.setStream(std::string("not a stream"));
    rcAttrList<std::string> copy(list);
    EXPECT_STREQ("not a stream", copy.getStream());
    copy = rcAttrList<std::string>(static_cast<const char*>(nullptr));
    EXPECT_STREQ("", copy.getStream());
}

TEST_F(AttrStreamMessages, NameWithASpaceIsRefused) {
    rcAttrStream stream("a 1 x");
    stream.addStringValue("b c", "y");
    stream.addStringValue(" ", "y");
    EXPECT_EQ("a 1 x", stream.getStreamStr());
    ASSERT_EQ(2u, capture.messages().size());
    EXPECT_EQ("Illegal character: ' ' in attribute 'b c'.", capture.messages()[0].text());
    EXPECT_EQ(CoMsg::ERROR_LEVEL, capture.messages()[0].level());
    EXPECT_EQ("Illegal character: ' ' in attribute ' '.", capture.messages()[1].text());
}

TEST_F(AttrStreamMessages, EmptyNameIsWrittenButNeverRead) {
    rcAttrStream stream;
    stream.addStringValue("", "hidden");
    EXPECT_EQ(" 6 hidden", stream.getStreamStr());
    EXPECT_TRUE(stream.isEmpty());
    std::string value;
    EXPECT_FALSE(stream.getStringValue("", value));
    EXPECT_TRUE(capture.messages().empty());
}

// Whole: attributes to the last byte, blank ones anywhere included; not whole: cut, junk or
// malformed texts that the readers stop at quietly.
TEST_F(AttrStreamMessages, WholeTextIsAttributesToItsLastByte) {
    const std::pair<const char*, bool> cases[] = {
        {"", true},
        {"a 1 x", true},
        {"a 1 x  2 yyb 1 z", true},   // a blank in the middle
        {"a 1 x  2 yy", true},        // a blank at the end
        {"  2 yya 1 x", true},        // a blank first
        {"a 3 x", false},             // cut short
        {"a 1 xjunk", false},
        {"a 1 x   ", false},          // a blank name without a length
        {"a 1 x-1 y", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, rcAttrStream(c.first).isWhole()) << c.first;
}

// Malformed and truncated texts, read bare and after a valid attribute long enough to put the
// text on the heap at its exact size, so that the sanitizer build sees any read past its end.
TEST_F(AttrStreamMessages, MalformedTextEndsTheParseWithTheError) {
    struct Case {
        const char* text;
        Attributes attributes;  // what is readable before the end or the fault
        bool error;
    };
    const Case cases[] = {
        {"", {}, false},
        {"abc", {}, false},
        {"a 1 xb", {{"a", "x"}}, false},
        {"a 1 xb 2", {{"a", "x"}}, true},  // no space after the length
        {"a 1", {}, true},
        {"a ", {}, true},
        {"   ", {}, true},
        {"a -1 xb 1 y", {}, true},                       // negative
        {"a 1 xb -5 yyyyy", {{"a", "x"}}, true},
        {"a z xb 1 y", {}, true},                        // not a number
        {"a +1 x", {}, true},
        {"a 99999999999999999999999 x", {}, true},       // beyond 32 bits
        {"a 4294967297 xb 1 y", {}, true},
        {"a 2147483648 x", {}, true},
        {"a 2147483647 x", {{"a", "x"}}, false},        // runs past the end: cut
        {"a 10 xyz", {{"a", "xyz"}}, false},
        {"a 10 xyzb 1 c", {{"a", "xyzb 1 c"}}, false},
        {"a 1 ", {{"a", ""}}, false},
        {"a 3x xyz", {{"a", "xyz"}}, false},            // bytes after the digits are ignored
        {"a   2 xyb 1 z", {{"a", "xy"}, {"b", "z"}}, false},
        {"     5 alpha", {}, false},
        {"   3 abc  -1 x", {}, true},                    // fault inside a blank attribute
        {"a\t1 x", {}, true},
    };
    const std::string prefix = "prefix 24 ........................";
    for (const Case& c : cases) {
        for (const bool prefixed : {false, true}) {
            const std::string text = (prefixed ? prefix : "") + c.text;
            SCOPED_TRACE("'" + text + "'");
            Attributes expected = c.attributes;
            if (prefixed) expected.insert(expected.begin(), {"prefix", std::string(24, '.')});

            capture.clear();
            const rcAttrStream stream(text);
            EXPECT_EQ(expected, readAll(stream));
            EXPECT_EQ(c.error ? 1 : 0, countText(capture, PARSE_ERROR));
            for (const CoMsg& msg : capture.messages()) EXPECT_EQ(CoMsg::ERROR_LEVEL, msg.level());

            capture.clear();
            EXPECT_EQ(expected.size(), rcAttrStream::ConstIterator(stream).getSize());
            EXPECT_EQ(expected.empty(), stream.isEmpty());
            for (const auto& [name, value] : expected) {
                std::string found;
                EXPECT_TRUE(stream.getStringValue(name.c_str(), found));
                EXPECT_EQ(value, found);
            }
            std::string found;
            if (c.error) {
                EXPECT_FALSE(stream.getStringValue("b", found)) << "b is never before the fault";
            }
            EXPECT_EQ(c.error, capture.contains(PARSE_ERROR));
        }
    }
}

TEST_F(AttrStreamMessages, MalformedTextIsEqualOnlyByItsReadablePart) {
    EXPECT_TRUE(rcAttrStream("a 1 xb -1 y") == rcAttrStream("a 1 x"));
    EXPECT_TRUE(rcAttrStream("a -1 x") == rcAttrStream("a -1 x"));
    EXPECT_FALSE(rcAttrStream("a 1 xb -1 y") == rcAttrStream("a 1 xb 1 y"));
    EXPECT_TRUE(capture.contains(PARSE_ERROR));
}

TEST_F(AttrStreamMessages, RemoveStopsAtAMalformedSpot) {
    rcAttrStream stream("a 1 xb z yc 1 w");
    rcAttrStream::Iterator(stream).remove("c");
    EXPECT_EQ("a 1 xb z yc 1 w", stream.getStreamStr());
    EXPECT_EQ(1, countText(capture, PARSE_ERROR));
}

TEST_F(AttrStreamMessages, DumpListsEveryVisibleAttribute) {
    rcAttrStream("a 1 1  1 _bb 3 x yc -1 z").dump();
    const std::vector<std::string> expected = {
        "Attribute Stream Dump", "'a': '1'", "'bb': 'x y'", PARSE_ERROR,
        "Attribute Stream Dump Done"};
    EXPECT_EQ(expected, capture.texts());
    const std::vector<CoMsg> messages = capture.messages();
    for (size_t i = 0; i < messages.size(); ++i)
        EXPECT_EQ(expected[i] == PARSE_ERROR ? CoMsg::ERROR_LEVEL : CoMsg::USER_LEVEL,
                  messages[i].level());
}

TEST_F(AttrStreamMessages, PrettyDumpPostsTheLineBetweenItsMarkers) {
    rcAttrStream("k 8 abcdefghv 1 1").prettyDump(5);
    const std::vector<std::string> expected = {
        "Attribute Stream Pretty Dump", "k='ab...' v='1'", "Attribute Stream Pretty Dump Done"};
    EXPECT_EQ(expected, capture.texts());
    for (const CoMsg& msg : capture.messages()) EXPECT_EQ(CoMsg::USER_LEVEL, msg.level());
}

TEST(AttrStreamDeathTest, NullArgumentsOfSettersStopTheProcess) {
    rcAttrStream stream;
    EXPECT_DEATH(stream.addStringValue(nullptr, "x"), "name != nullptr");
    EXPECT_DEATH(stream.addStringValue("a", nullptr), "value != nullptr");
    char buffer[1];
    EXPECT_DEATH(stream.getStringValue("a", buffer, 0), "size >= 1");
}

}  // namespace
}  // namespace Vantrel
