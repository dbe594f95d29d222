#include "NodePath.h"

#include <gtest/gtest.h>

namespace vantrel_tool {
namespace {

TEST(NodePath, ReadsServerAndDisplayNames) {
    const struct {
        const char* text;
        const char* server;
        std::vector<std::string> components;
    } cases[] = {
        {"127.0.0.1:7549:/Volume 1/Commercial", "127.0.0.1:7549", {"Volume 1", "Commercial"}},
        {"127.0.0.1:7549:", "127.0.0.1:7549", {}},
        {"127.0.0.1:7549", "127.0.0.1:7549", {}},  // SERVER alone is its root
        {"studio", "studio", {}},
        {"127.0.0.1:7549:/", "127.0.0.1:7549", {}},
        {"studio:/A", "studio", {"A"}},
        {"studio:db:/A//./B/", "studio:db", {"A", "B"}},
        {"h:\\A\\B", "h", {"A", "B"}},
        // Only the first ":/" ends the server: later colons belong to display names.
        {"h:1:/Time: 10:00/x:/y", "h:1", {"Time: 10:00", "x:", "y"}},
        {"h:1:/café — noir", "h:1", {"café — noir"}},
        // "\/" and "\\" put a separator inside a name; "\" before anything else separates.
        {"h:1:/Cut\\/Day 2/a\\\\b\\c", "h:1", {"Cut/Day 2", "a\\b", "c"}},
        {"h:1:/\\/", "h:1", {"/"}},
    };
    for (const auto& c : cases) {
        const std::optional<NodePath> path = parseNodePath(c.text);
        ASSERT_TRUE(path) << c.text;
        EXPECT_EQ(path->server, c.server) << c.text;
        EXPECT_EQ(path->components, c.components) << c.text;
    }
}

TEST(NodePath, RefusesTextsWithoutServerOrPath) {
    for (const char* text : {"", ":", ":/A", "/Volume 1", "\\Volume 1"})
        EXPECT_FALSE(parseNodePath(text)) << text;
}

TEST(NodePath, ServerTextsAcceptTheRootOnly) {
    EXPECT_EQ(parseServerText("127.0.0.1:7549"), "127.0.0.1:7549");
    EXPECT_EQ(parseServerText("127.0.0.1:7549:"), "127.0.0.1:7549");
    EXPECT_EQ(parseServerText("127.0.0.1:7549:/"), "127.0.0.1:7549");
    EXPECT_EQ(parseServerText("studio:db"), "studio:db");
    EXPECT_EQ(parseServerText("127.0.0.1:7549:/Volume 1"), "");
    EXPECT_EQ(parseServerText(""), "");
}

TEST(NodePath, PrintsNamesWithSeparatorsEscapedSoThatTheyReadBack) {
    const NodePath path{"h:1", {"Cut/Day 2", "a\\b"}};
    EXPECT_EQ(path.text(), "h:1:/Cut\\/Day 2/a\\\\b");
    EXPECT_EQ(parseNodePath(path.text())->components, path.components);
}

TEST(NodePath, PrintsItselfAndItsParent) {
    const NodePath path = *parseNodePath("h:1:/A/B");
    EXPECT_EQ(path.text(), "h:1:/A/B");
    EXPECT_EQ(path.displayPath(), "/A/B");
    EXPECT_EQ(path.name(), "B");
    EXPECT_EQ(path.parent().text(), "h:1:/A");
    EXPECT_EQ(path.parent().parent().text(), "h:1:/");
    EXPECT_TRUE(path.parent().parent().isRoot());
    EXPECT_EQ(path.parent().parent().parent().text(), "h:1:/");
}

}  // namespace
}  // namespace vantrel_tool
