#include "vantrel/client/nodes/VantrelNodeWire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vantrel/CoException.h"
#include "rcApi/rcAttrStream.h"
#include "vantrel/client/nodes/VantrelCountedList.h"

namespace {

using Child = VantrelNodeInterface::Child;
using Strings = std::vector<std::string>;

VantrelClipFormat sampleFormat() {
    return VantrelClipFormat(720, 486, 32, 4, 1399680, 29.97f, 0.9f,
                             VantrelClipFormat::progressive, "rgba", "xml", "<a b=\"1\"/>");
}

std::string childStream(const std::vector<std::pair<std::string, std::string>>& items) {
    Vantrel::rcAttrStream list;
    int i = 0;
    for (const auto& item : items) {
        Vantrel::rcAttrStream child;
        if (!item.first.empty()) child.addStringValue("Id", item.first.c_str());
        child.addStringValue("Displ", item.second.c_str());
        list.addStringValue(std::to_string(i++).c_str(), child.getStream());
    }
    return list.getStreamStr();
}

TEST(VantrelNodeWireTest, NodeIdsAreQuotedOnlyWhenTheyHoldASpace) {
    const struct {
        const char* id;
        const char* text;
    } cases[] = {
        {"42", "42"},
        {"", ""},
        {"a\"b", "a\"b"},
        {"Reel 1", "\"Reel 1\""},
        {"say \"hi\" \\o", "\"say \\\"hi\\\" \\\\o\""},
        {"a,b", "a,b"},  // plain-text requests take commas
    };
    for (const auto& c : cases) EXPECT_EQ(VantrelNodeWire::nodeIdText(VantrelNodeId(c.id)), c.text);
    EXPECT_EQ(VantrelNodeWire::commaFormNodeIdText(VantrelNodeId("Reel 1")), "\"Reel 1\"");
}

TEST(VantrelNodeWireTest, CommaFormsRefuseANodeIdWithAComma) {
    try {
        VantrelNodeWire::commaFormNodeIdText(VantrelNodeId("7,8"));
        FAIL() << "no exception";
    } catch (const Vantrel::CoException& error) {
        EXPECT_STREQ(error.what(), "Invalid node id: '7,8'.");
    }
}

TEST(VantrelNodeWireTest, ClipFormatTextFormIsPinned) {
    EXPECT_EQ(VantrelNodeWire::clipFormatText(sampleFormat()),
              "720 486 32 4 1399680 0.9 29.97 rgba 4 xml \"<a b=\\\"1\\\"/>\"");
    EXPECT_EQ(VantrelNodeWire::clipFormatText(VantrelClipFormat()), "1 1 24 3 1 1 30  0  \"\"");
}

TEST(VantrelNodeWireTest, ClipFormatStreamFormIsPinned) {
    EXPECT_EQ(VantrelNodeWire::clipFormatStream(sampleFormat()),
              "w 3 720h 3 486bpp 2 32nch 1 4sz 7 1399680asp 3 0.9rate 5 29.97fmt 4 rgbascan 1 4"
              "metag 3 xmlmeta 10 <a b=\"1\"/>");
}

TEST(VantrelNodeWireTest, ClipFormatReplyTakesTheRestAsMetadataUnchanged) {
    VantrelClipFormat format;
    ASSERT_TRUE(VantrelNodeWire::parseClipFormatText(
        "720 486 32 4 1399680 0.9 29.97 rgba 4 xml   <a b=\"1\"/>  \\n tail", format));
    EXPECT_EQ(format.width(), 720);
    EXPECT_EQ(format.height(), 486);
    EXPECT_EQ(format.bitsPerPixel(), 32);
    EXPECT_EQ(format.numChannels(), 4);
    EXPECT_EQ(format.frameBufferSize(), 1399680);
    EXPECT_FLOAT_EQ(format.pixelRatio(), 0.9f);
    EXPECT_FLOAT_EQ(format.frameRate(), 29.97f);
    EXPECT_STREQ(format.formatTag(), "rgba");
    EXPECT_EQ(format.scanFormat(), VantrelClipFormat::progressive);
    EXPECT_STREQ(format.metaDataTag(), "xml");
    EXPECT_STREQ(format.metaData(), "<a b=\"1\"/>  \\n tail");

    ASSERT_TRUE(VantrelNodeWire::parseClipFormatText("1 2 8 1 2 1 25 mono 0 none", format));
    EXPECT_STREQ(format.metaData(), "");

    const std::string longMeta(5000, 'm');
    ASSERT_TRUE(VantrelNodeWire::parseClipFormatText("1 2 8 1 2 1 25 mono 0 none " + longMeta,
                                                     format));
    EXPECT_EQ(std::string(format.metaData()), longMeta.substr(0, 4095));
}

TEST(VantrelNodeWireTest, ClipFormatReplyWithoutItsTenFieldsIsRefused) {
    const std::string cases[] = {
        "",
        "720 486 32 4",
        "720 486 32 4 1399680 0.9 29.97 rgba",
        "720 486 32 4 1399680 0.9 29.97 rgba progressive xml meta",  // scan is a number
        "wide 486 32 4 1399680 0.9 29.97 rgba 4 xml",
        "1 1 1 1 1 1 1 " + std::string(300, 't') + " 0 none",  // a tag beyond 255 bytes
    };
    for (const std::string& text : cases) {
        VantrelClipFormat format = sampleFormat();
        EXPECT_FALSE(VantrelNodeWire::parseClipFormatText(text, format)) << text;
        EXPECT_EQ(format.width(), 720) << text;
        EXPECT_STREQ(format.metaData(), "<a b=\"1\"/>") << text;
    }
}

TEST(VantrelNodeWireTest, CommaListsKeepEmptyItems) {
    const struct {
        const char* text;
        Strings items;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a,b", {"a", "b"}},
        {"a,,b", {"a", "", "b"}},
        {"a,", {"a", ""}},
        {",", {"", ""}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VantrelNodeWire::splitCommaList(c.text), c.items) << c.text;
        if (!c.items.empty()) {
            EXPECT_EQ(VantrelNodeWire::joinCommaList(c.items), c.text);
        }
    }
}

TEST(VantrelNodeWireTest, ChildrenTextIsIdNamePairsAndDropsAnUnpairedItem) {
    EXPECT_EQ(VantrelNodeWire::parseChildrenText("2,Volume 1,3,Volume 2"),
              (std::vector<Child>{{"Volume 1", "2"}, {"Volume 2", "3"}}));
    EXPECT_EQ(VantrelNodeWire::parseChildrenText("2,Volume 1,3"),
              (std::vector<Child>{{"Volume 1", "2"}}));
    EXPECT_EQ(VantrelNodeWire::parseChildrenText("2,,3,b"),
              (std::vector<Child>{{"", "2"}, {"b", "3"}}));
    EXPECT_TRUE(VantrelNodeWire::parseChildrenText("").empty());
    EXPECT_TRUE(VantrelNodeWire::parseChildrenText("7").empty());
}

TEST(VantrelNodeWireTest, ChildrenStreamGivesEveryItemInOrder) {
    std::vector<Child> children{{"stale", "stale"}};
    ASSERT_TRUE(VantrelNodeWire::parseChildrenStream(
        childStream({{"7", "Shot 010"}, {"8", "Shot, 020 \"x\""}}), children));
    EXPECT_EQ(children, (std::vector<Child>{{"Shot 010", "7"}, {"Shot, 020 \"x\"", "8"}}));
    ASSERT_TRUE(VantrelNodeWire::parseChildrenStream("", children));
    EXPECT_TRUE(children.empty());
    // Within an item the keys may come in any order.
    ASSERT_TRUE(VantrelNodeWire::parseChildrenStream("0 15 Displ 1 bId 1 9", children));
    EXPECT_EQ(children, (std::vector<Child>{{"b", "9"}}));
}

// A removed entry is blanked in place; wherever it stands it is an absent child.
TEST(VantrelNodeWireTest, ChildrenStreamSkipsBlankItemsAnywhere) {
    const std::vector<std::pair<std::string, std::string>> items{{"7", "a"}, {"8", "b"}, {"9", "c"}};
    const std::vector<Child> expected[] = {{{"b", "8"}, {"c", "9"}},
                                           {{"a", "7"}, {"c", "9"}},
                                           {{"a", "7"}, {"b", "8"}}};
    for (int blank = 0; blank < 3; ++blank) {
        Vantrel::rcAttrStream list(childStream(items));
        Vantrel::rcAttrStream::Iterator(list).remove(std::to_string(blank).c_str());
        std::vector<Child> children;
        EXPECT_TRUE(VantrelNodeWire::parseChildrenStream(list.getStreamStr(), children)) << blank;
        EXPECT_EQ(expected[blank], children) << blank;
    }
}

TEST(VantrelNodeWireTest, ChildrenStreamRefusesIncompleteOrCutItems) {
    const std::string whole = childStream({{"7", "Shot 010"}, {"8", "Shot 020"}});
    const std::string cases[] = {
        childStream({{"7", "Shot 010"}, {"", "no id"}}),  // an item without "Id"
        "0 9 Id 1 7abc",                                  // an item without "Displ"
        whole.substr(0, whole.size() - 3),                // cut inside the last item
        whole + "junk",                                   // garbage after the items
        "garbage",
        "0 -5 x",
    };
    for (const std::string& text : cases) {
        std::vector<Child> children{{"stale", "stale"}};
        EXPECT_FALSE(VantrelNodeWire::parseChildrenStream(text, children)) << text;
        EXPECT_TRUE(children.empty()) << text;
    }
}

// The lists of a large folder and of an hour of frames, as a server writes them: every item
// read back, in order, whole.
TEST(VantrelNodeWireTest, LargeListsAreReadWhole) {
    const int CHILDREN = 1000000;
    auto idOf = [](int i) { return "clip " + std::to_string(1000000 + i); };
    auto nameOf = [](int i) { return "Shot " + std::to_string(i) + " \xc3\xa9t\xc3\xa9"; };
    std::string stream, text;
    for (int i = 0; i < CHILDREN; ++i) {
        const std::string id = idOf(i), name = nameOf(i);
        const std::string item = "Id " + std::to_string(id.size()) + " " + id + "Displ " +
                                 std::to_string(name.size()) + " " + name;
        stream += std::to_string(i) + " " + std::to_string(item.size()) + " " + item;
        text += (i > 0 ? "," : "") + id + "," + name;
    }
    std::vector<Child> fromStream;
    ASSERT_TRUE(VantrelNodeWire::parseChildrenStream(stream, fromStream));
    const std::vector<Child> fromText = VantrelNodeWire::parseChildrenText(text);
    ASSERT_EQ(fromStream.size(), size_t(CHILDREN));
    ASSERT_EQ(fromText.size(), size_t(CHILDREN));
    int wrong = 0;
    for (int i = 0; i < CHILDREN; ++i) {
        const Child expected{nameOf(i), idOf(i)};
        wrong += !(fromStream[i] == expected) + !(fromText[i] == expected);
    }
    EXPECT_EQ(wrong, 0);

    const int FRAMES = 86400;  // an hour at 24 fps
    std::vector<std::string> ids;
    std::string commas;
    for (int i = 0; i < FRAMES; ++i) {
        ids.push_back("12." + std::to_string(i));
        commas += (i > 0 ? "," : "") + ids.back();
    }
    std::vector<VantrelFrameId> counted{VantrelFrameId("stale")};
    ASSERT_TRUE(VantrelNodeWire::parseFrameIdList(VantrelCountedList::encode(ids), counted));
    const std::vector<VantrelFrameId> listed = VantrelNodeWire::parseFrameIdCommaList(commas);
    ASSERT_EQ(counted.size(), size_t(FRAMES));
    ASSERT_EQ(listed.size(), size_t(FRAMES));
    for (int i = 0; i < FRAMES; ++i)
        wrong += (ids[i] != counted[i].id()) + (ids[i] != listed[i].id());
    EXPECT_EQ(wrong, 0);
}

TEST(VantrelNodeWireTest, FrameIdListsThatAreNotWholeAreRefused) {
    for (const std::string text : {"", "2 1 a", "1 1 ab", "3 1 a1 b", "1 -1 a"}) {
        std::vector<VantrelFrameId> ids{VantrelFrameId("stale")};
        EXPECT_FALSE(VantrelNodeWire::parseFrameIdList(text, ids)) << text;
        EXPECT_TRUE(ids.empty()) << text;
    }
}

TEST(VantrelNodeWireTest, IntPairs) {
    int a = -1, b = -1;
    EXPECT_TRUE(VantrelNodeWire::parseIntPair("1 7", a, b));
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 7);
    EXPECT_TRUE(VantrelNodeWire::parseIntPair(" 0\t-3 tail", a, b));
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, -3);
    for (const char* text : {"", "1", "x 1", "1 x"}) {
        a = b = 5;
        EXPECT_FALSE(VantrelNodeWire::parseIntPair(text, a, b)) << text;
        EXPECT_EQ(a, 5);
        EXPECT_EQ(b, 5);
    }
}

}  // namespace
