#include "AttributeText.h"

#include <gtest/gtest.h>

namespace vantrel_tool {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(AttributeText, ReadsPairsAndSkipsBlankedOnes) {
    EXPECT_EQ(readAttributeText("host 5 alphaport 4 7549"),
              (Pairs{{"host", "alpha"}, {"port", "7549"}}));
    // "host" set twice: the first entry blanked in place.
    EXPECT_EQ(readAttributeText("     5 alphaport 4 7549host 4 beta"),
              (Pairs{{"port", "7549"}, {"host", "beta"}}));
    EXPECT_EQ(readAttributeText("Name 9 a b\nc d e"), (Pairs{{"Name", "a b\nc d e"}}));
    EXPECT_EQ(readAttributeText("Empty 0 Next 1 x"), (Pairs{{"Empty", ""}, {"Next", "x"}}));
    EXPECT_EQ(readAttributeText(""), Pairs{});
}

TEST(AttributeText, HostileTextsEndTheListWithoutOverrun) {
    const struct {
        std::string text;
        Pairs pairs;
    } cases[] = {
        {"Name 99 short", {{"Name", "short"}}},
        {"Name 99999999999999999999999 x", {{"Name", "x"}}},
        {"Name", {}},
        {"Name 5", {}},
        {"Name x5 abcde", {{"Name", ""}}},
        {"A 1 xB", {{"A", "x"}}},
        {std::string("A 3 \0\0\0B 1 y", 12), {{"A", std::string(3, '\0')}, {"B", "y"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(readAttributeText(c.text), c.pairs) << c.text;
}

}  // namespace
}  // namespace vantrel_tool
