#include "rcApi/rcParam.h"

#include <gtest/gtest.h>

#include <string>

namespace Vantrel {
namespace {

const rcParam::Info INT_STRING[] = {
    {&rcParamInt::TYPE, "count"}, {&rcParamString::TYPE, "name"}, {nullptr, nullptr}};
const rcParam::Info STRING_STRING_BOOL[] = {{&rcParamString::TYPE, "a"},
                                            {&rcParamString::TYPE, "b"},
                                            {&rcParamBool::TYPE, "c"},
                                            {nullptr, nullptr}};

std::string quote(const char* text) { return rcParamStringToEscapedString(text).getEscapedString(); }
std::string unquote(const std::string& word) {
    return rcParamEscapedStringToString(word.c_str()).getString();
}

TEST(ParamArray, SplitsWordsAtSpacesOutsideQuotes) {
    const struct {
        const char* args;
        int count;
        const char* name;
    } cases[] = {
        {"5 \"a b\"", 5, "a b"},
        {"5", 5, ""},                     // a missing word leaves the default
        {"12abc x", 12, "x"},             // leading digits only
        {"x y", 0, "y"},                  // not a number gives 0
        {" y", 0, "y"},                   // an empty first word
        {"1 two three four", 1, "two"},   // extra words are ignored
        {"7 say\\\"hi", 7, "say\\\"hi"},  // an escaped quote is copied with its backslash
    };
    for (const auto& c : cases) {
        rcParam::Array params(INT_STRING, c.args);
        ASSERT_EQ(2, params.size());
        EXPECT_EQ(c.count, params[0]->intValue()) << c.args;
        EXPECT_EQ(c.name, params[1]->stringValue()) << c.args;
    }
}

TEST(ParamArray, GivesAOneParameterMethodTheWholeText) {
    const rcParam::Info one[] = {{&rcParamString::TYPE, "text"}, {nullptr, nullptr}};
    rcParam::Array params(one, "a \"b c\" d");
    EXPECT_EQ("a \"b c\" d", params[0]->stringValue());

    rcParam::Array defaults(INT_STRING, nullptr);
    EXPECT_EQ(0, defaults[0]->intValue());
    EXPECT_EQ("", defaults[1]->stringValue());
    EXPECT_EQ(0, rcParam::Array().size());
}

TEST(Quoting, QuotedWordsSurviveSplittingAndUnquoting) {
    const char* texts[] = {"plain", "with space", "say \"hi\"", "", "ends in \\",
                           "\\\"mixed\\\\\"", "two\\\\"};
    for (const char* text : texts) {
        const std::string args = quote(text) + " " + quote("next") + " yes";
        rcParam::Array params(STRING_STRING_BOOL, args.c_str());
        EXPECT_EQ(text, unquote(params[0]->stringValue())) << args;
        EXPECT_EQ("next", unquote(params[1]->stringValue())) << args;
        EXPECT_TRUE(params[2]->boolValue()) << args;
    }
}

TEST(Quoting, QuotesAndUnquotesByteForByte) {
    EXPECT_EQ("\"say \\\"hi\\\"\"", quote("say \"hi\""));
    EXPECT_EQ("\"a\\\\b\"", quote("a\\b"));
    EXPECT_EQ("", quote(nullptr));
    EXPECT_EQ("say \"hi\"", unquote("\"say \\\"hi\\\"\""));
    EXPECT_EQ("ab", unquote("ab\\"));  // a backslash at the very end ends the text
    EXPECT_EQ("a\"b", unquote("a\"b"));  // only first and last quotes are dropped
    EXPECT_STREQ("", rcParamEscapedStringToString(nullptr).getString());
}

TEST(ParamTypes, ConvertTextBothWays) {
    const struct {
        const rcParam::Type* type;
        const char* name;
        const char* in;
        const char* out;
    } cases[] = {
        {&rcParamVoid::TYPE, "void", "anything", ""},
        {&rcParamInt::TYPE, "int", "-42x", "-42"},
        {&rcParamInt::TYPE, "int", "99999999999", "2147483647"},
        {&rcParamLong::TYPE, "long", "123456", "123456"},
        {&rcParamFloat::TYPE, "float", "1.5", "1.500000"},
        {&rcParamFloat::TYPE, "float", "abc", "0.000000"},
        {&rcParamFloat::TYPE, "float", "1e300", "inf"},
        {&rcParamBool::TYPE, "bool", "YES", "true"},
        {&rcParamBool::TYPE, "bool", "2", "false"},
        {&rcParamString::TYPE, "const char *", "as is ", "as is "},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(c.name, c.type->name());
        rcParam* param = c.type->alloc();
        param->setStringValue(std::string(c.in));
        EXPECT_EQ(c.out, param->stringValue()) << c.name << " " << c.in;
        delete param;
    }
}

TEST(ParamTypes, BaseClassIgnoresValuesOfOtherTypes) {
    rcParamInt number(3);
    number.setBoolValue(true);
    number.setStringValue(static_cast<const char*>(nullptr));
    EXPECT_EQ(0, number.intValue());
    EXPECT_FALSE(number.boolValue());
    EXPECT_EQ(0.0f, number.floatValue());

    rcParamString text("t");
    rcParamString copy = text;
    copy.setStringValue("u");
    EXPECT_EQ("t", text.stringValue());
    EXPECT_EQ(0, copy.intValue());
}

}  // namespace
}  // namespace Vantrel
