#include "vantrel/client/connection/VantrelBaseClientAPI.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rcApi/rcAttrStream.h"

namespace {

using Vantrel::rcAttrStream;

std::vector<std::string> items(const VantrelStrList& list) {
    std::vector<std::string> out;
    for (unsigned i = 0; i < list.size(); ++i) out.push_back(list[i]);
    return out;
}

VantrelStrList listOf(const std::vector<const char*>& texts) {
    VantrelStrList list;
    for (const char* text : texts) list.push_back(text);
    return list;
}

TEST(VantrelBaseClientAPI, TranslatePathsArgumentText) {
    EXPECT_EQ("\"alpha\" 2 \"beta\" 3 \"/mnt/a b\",\"/mnt/c\"",
              VantrelBaseClientAPI::translatePathsArgs(listOf({"/mnt/a b", "/mnt/c"}), "alpha",
                                                       "beta", VantrelOS::Linux,
                                                       VantrelOS::WindowsNT));
    EXPECT_EQ("\"a\" 0 \"b\" 0 ", VantrelBaseClientAPI::translatePathsArgs(
                                      VantrelStrList(), "a", "b", VantrelOS::OsType(0),
                                      VantrelOS::OsType(0)));
}

TEST(VantrelBaseClientAPI, TranslatePathsPrefixIsCutAt1023Characters) {
    const std::string longHost(2000, 'h');
    const std::string args = VantrelBaseClientAPI::translatePathsArgs(
        listOf({"/p"}), longHost.c_str(), "b", VantrelOS::Linux, VantrelOS::Linux);
    EXPECT_EQ(1023u + 4u, args.size());
    EXPECT_EQ("\"" + longHost.substr(0, 1022) + "\"/p\"", args);
}

TEST(VantrelBaseClientAPI, SplitListKeepsEmptyItems) {
    const struct {
        std::string reply;
        std::vector<std::string> expected;
    } cases[] = {
        {"", {}},
        {"/a", {"/a"}},
        {"/a,,/b", {"/a", "", "/b"}},
        {",", {"", ""}},
        {"/a,", {"/a", ""}},
    };
    for (const auto& c : cases) {
        VantrelStrList out = listOf({"stale"});
        VantrelBaseClientAPI::splitList(c.reply, out);
        EXPECT_EQ(c.expected, items(out)) << c.reply;
    }
}

std::string record(const char* k1, const char* v1, const char* k2, const char* v2,
                   const char* k3, const char* v3, const char* k4, const char* v4) {
    rcAttrStream s;
    s.addStringValue(k1, v1);
    s.addStringValue(k2, v2);
    s.addStringValue(k3, v3);
    s.addStringValue(k4, v4);
    return s.getStreamStr();
}

TEST(VantrelBaseClientAPI, DecodesHostAndOsTypeTranslations) {
    rcAttrStream hosts;
    hosts.addIntValue("numHostTranslations", 2);
    hosts.addStringValue("0", record("srcHost", "alpha", "srcPath", "/mnt/media", "dstHost",
                                     "beta", "dstPath", "/Volumes/media")
                                  .c_str());
    hosts.addStringValue("1", "srcHost 1 *");  // missing keys stay empty
    std::vector<VantrelServerHandle::HostTranslation> hostTable(3);
    VantrelBaseClientAPI::decodeHostTranslations(hosts.getStreamStr(), hostTable);
    ASSERT_EQ(2u, hostTable.size());
    EXPECT_STREQ("alpha", hostTable[0].srcHost);
    EXPECT_STREQ("/mnt/media", hostTable[0].srcPath);
    EXPECT_STREQ("beta", hostTable[0].dstHost);
    EXPECT_STREQ("/Volumes/media", hostTable[0].dstPath);
    EXPECT_STREQ("*", hostTable[1].srcHost);
    EXPECT_STREQ("", hostTable[1].dstPath);

    rcAttrStream types;
    types.addIntValue("numOsTypeTranslations", 1);
    types.addStringValue("0", record("srcType", "Linux", "srcPath", "/mnt", "dstType",
                                     "WindowsNT", "dstPath", "M:\\")
                                  .c_str());
    std::vector<VantrelServerHandle::OsTypeTranslation> typeTable;
    VantrelBaseClientAPI::decodeOsTypeTranslations(types.getStreamStr(), typeTable);
    ASSERT_EQ(1u, typeTable.size());
    EXPECT_STREQ("Linux", typeTable[0].srcType);
    EXPECT_STREQ("WindowsNT", typeTable[0].dstType);
    EXPECT_STREQ("M:\\", typeTable[0].dstPath);
}

TEST(VantrelBaseClientAPI, DecodesTranslationGroups) {
    rcAttrStream groups;
    groups.addIntValue("numGroups", 3);
    groups.addStringValue("0", "studio,2,alpha,beta");
    groups.addStringValue("1", "lonely");
    groups.addStringValue("2", "odd,x7,,gamma");
    std::vector<VantrelServerHandle::TranslationGroup> table;
    VantrelBaseClientAPI::decodeTranslationGroups(groups.getStreamStr(), table);
    ASSERT_EQ(3u, table.size());
    EXPECT_STREQ("studio", table[0].name);
    EXPECT_EQ(2, table[0].number);
    EXPECT_EQ((std::vector<std::string>{"alpha", "beta"}), items(table[0].entries));
    EXPECT_STREQ("lonely", table[1].name);
    EXPECT_EQ(0, table[1].number);
    EXPECT_EQ(0u, table[1].entries.size());
    EXPECT_EQ(0, table[2].number);
    EXPECT_EQ((std::vector<std::string>{"", "gamma"}), items(table[2].entries));
}

// The count comes from the peer: a table shorter than its count still has that many rows
// (the missing ones empty), but a count beyond any real table must not make the client build
// billions of empty records.
TEST(VantrelBaseClientAPI, TableCountIsBelievedUpToTheRowCap) {
    const struct {
        const char* name;
        std::string reply;
        size_t expected;
    } cases[] = {
        {"no count", "0 5 a,1,b", 0},
        {"negative count", "numGroups 2 -40 5 a,1,b", 0},
        {"short table", "numGroups 1 30 5 a,1,b", 3},
        {"hostile count", "numGroups 10 20000000000 5 a,1,b",
         size_t{VantrelBaseClientAPI::MAX_TABLE_ROWS}},
        {"not a stream", "garbage without lengths", 0},
        {"empty", "", 0},
    };
    for (const auto& c : cases) {
        std::vector<VantrelServerHandle::TranslationGroup> table;
        VantrelBaseClientAPI::decodeTranslationGroups(c.reply, table);
        EXPECT_EQ(c.expected, table.size()) << c.name;
        if (c.expected == 3) {
            EXPECT_STREQ("a", table[0].name);
            EXPECT_STREQ("", table[2].name);
        }
    }
}

}  // namespace
