#include "vantrel/server/WireText.h"

#include <gtest/gtest.h>

#include "rcApi/rcParam.h"
#include "vantrel/server/ServerError.h"

using namespace vantreld;

namespace {

std::vector<std::string> words(const std::string& text, size_t max = 0) {
    const ArgumentWords split(text, max);
    std::vector<std::string> out;
    for (size_t i = 0; i < split.size(); ++i) out.push_back(split[i]);
    return out;
}

}  // namespace

TEST(ArgumentWords, SplitsLikeTheClientQuotes) {
    const std::string quoted =
        Vantrel::rcParamStringToEscapedString("say \"hi\" \\ ok").getEscapedString();
    struct Case {
        std::string text;
        std::vector<std::string> expected;
    } cases[] = {
        {"", {}},
        {"host", {"host"}},
        {"a b", {"a", "b"}},
        {"a  b", {"a", "", "b"}},
        {"a 5 ", {"a", "5", ""}},
        {"\"clip 17\" 3", {"clip 17", "3"}},
        {"\"\" x", {"", "x"}},
        {quoted + " tail", {"say \"hi\" \\ ok", "tail"}},
        {"C:\\media x", {"C:\\media", "x"}},  // backslashes outside quotes stay
    };
    for (const Case& c : cases) EXPECT_EQ(words(c.text), c.expected) << c.text;
}

TEST(ArgumentWords, StopsAfterTheLimitAndKeepsTheRest) {
    const ArgumentWords split("\"clip 17\" alpha 2 6.1 /a b/c,/d", 4);
    ASSERT_EQ(split.size(), 4u);
    EXPECT_EQ(split[0], "clip 17");
    EXPECT_EQ(split[3], "6.1");
    EXPECT_EQ(split.rest(), "/a b/c,/d");
}

TEST(ArgumentWords, RefusesUnterminatedQuotesAndShortTexts) {
    for (const char* text : {"\"open", "\"ends in backslash\\\"", "a \"b"})
        EXPECT_THROW(ArgumentWords{text}, ServerError) << text;
    const ArgumentWords two("a b");
    EXPECT_NO_THROW(two.requireAtLeast(2));
    EXPECT_THROW(two.requireAtLeast(3), ServerError);
}

TEST(NodeIdArgument, UnquotesOnlyQuotedIds) {
    EXPECT_EQ(decodeNodeIdArgument("host"), "host");
    EXPECT_EQ(decodeNodeIdArgument("\"clip 17\""), "clip 17");
    EXPECT_EQ(decodeNodeIdArgument("a\\b"), "a\\b");
    EXPECT_THROW(decodeNodeIdArgument("\"clip 17\" extra"), ServerError);
    EXPECT_THROW(decodeNodeIdArgument("\"clip"), ServerError);
}

TEST(Numbers, AcceptWholeNumbersOnly) {
    EXPECT_EQ(parseInt("-12"), -12);
    EXPECT_EQ(parseInt("2147483647"), 2147483647);
    for (const char* bad : {"", "-", "12abc", "2147483648", "99999999999999999999999", " 1"})
        EXPECT_THROW(parseInt(bad), ServerError) << bad;
    EXPECT_DOUBLE_EQ(parseDouble("29.97"), 29.97);
    EXPECT_THROW(parseDouble("1.5x"), ServerError);
}

TEST(CountedList, EncodesLengthPrefixedItems) {
    EXPECT_EQ(encodeCountedList({"ab", "c"}), "2 2 ab1 c");
    EXPECT_EQ(encodeCountedList({"a b", ""}), "2 3 a b0 ");
    EXPECT_EQ(encodeCountedList({}), "0 ");
}

TEST(CountedList, DecodesExactlyOrRefuses) {
    EXPECT_EQ(decodeCountedList("2 2 ab1 c"), (std::vector<std::string>{"ab", "c"}));
    EXPECT_EQ(decodeCountedList("2 3 a,b 1 c"), (std::vector<std::string>{"a,b", "c"}));
    EXPECT_TRUE(decodeCountedList("").empty());
    EXPECT_TRUE(decodeCountedList("0 ").empty());
    for (const char* bad : {"2 2 ab1 c9", "3 2 ab1 c", "1 5 ab", "1 2ab", "x", "1",
                            "99999999999999999999 ", "1 99999999999999999999 a", "-1 "})
        EXPECT_THROW(decodeCountedList(bad), ServerError) << bad;
}

TEST(CommaList, KeepsEmptyItems) {
    EXPECT_EQ(splitComma("a,,b"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(splitComma("").empty());
    EXPECT_EQ(joinComma({"a", "", "b"}), "a,,b");
}

TEST(AttrStreamWriter, WritesAttributesBackToBack) {
    AttrStreamWriter out;
    out.add("host", "alpha");
    out.addInt("port", 7549);
    EXPECT_EQ(out.text(), "host 5 alphaport 4 7549");
    EXPECT_EQ(attributeSize(4, 5), std::string("host 5 alpha").size());
}
