#include "vantrel/VantrelTypes.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

namespace {

// ---- VantrelStr

TEST(VantrelStrTest, NullAndEmptyTextsAreTheSameEmptyText) {
    const VantrelStr fromNull(nullptr);
    const VantrelStr fromEmpty("");
    const VantrelStr byDefault;

    for (const VantrelStr* str : {&fromNull, &fromEmpty, &byDefault}) {
        EXPECT_TRUE(str->isEmpty());
        EXPECT_EQ(str->length(), 0u);
        EXPECT_STREQ(str->c_str(), "");
        EXPECT_TRUE(*str == "");
        EXPECT_TRUE("" == *str);
        EXPECT_TRUE(*str == fromNull);
        // A null pointer is no text: never equal, always different.
        EXPECT_FALSE(*str == static_cast<const char*>(nullptr));
        EXPECT_TRUE(*str != static_cast<const char*>(nullptr));
    }
    // Every empty text uses the one shared buffer, allocated by nobody.
    EXPECT_EQ(fromNull.c_str(), fromEmpty.c_str());
    EXPECT_EQ(fromNull.c_str(), byDefault.c_str());
}

TEST(VantrelStrTest, ANonEmptyTextIsNeverEqualToNull) {
    const VantrelStr str("abc");
    EXPECT_FALSE(str == static_cast<const char*>(nullptr));
    EXPECT_TRUE(str != static_cast<const char*>(nullptr));
}

TEST(VantrelStrTest, ComparesUnsignedBytesLikeStrcmp) {
    struct Case {
        const char* a;
        const char* b;
        bool equal;
        bool less;
    };
    const Case cases[] = {
        {"abc", "abc", true, false},
        {"abc", "abd", false, true},
        {"abd", "abc", false, false},
        {"ab", "abc", false, true},    // a prefix sorts first
        {"", "a", false, true},
        {"B", "a", false, true},       // bytes, not letters
        {"a", "\x80", false, true},    // bytes above 0x7f are large, not negative
        {"\xff", "\x80", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        const VantrelStr a(c.a), b(c.b);
        EXPECT_EQ(a == b, c.equal);
        EXPECT_EQ(a != b, !c.equal);
        EXPECT_EQ(a == c.b, c.equal);
        EXPECT_EQ(c.b == a, c.equal);
        EXPECT_EQ(a < b, c.less);
    }
}

TEST(VantrelStrTest, CopiesAreDeep) {
    VantrelStr original("frame");
    VantrelStr copy(original);
    VantrelStr assigned;
    assigned = original;
    EXPECT_NE(copy.c_str(), original.c_str());
    EXPECT_NE(assigned.c_str(), original.c_str());

    original = "changed";
    original.reset();
    EXPECT_STREQ(copy.c_str(), "frame");
    EXPECT_STREQ(assigned.c_str(), "frame");
}

TEST(VantrelStrTest, AssignsFromItsOwnText) {
    VantrelStr str("abcdef");
    str = str;
    EXPECT_STREQ(str.c_str(), "abcdef");
    str = str.c_str();
    EXPECT_STREQ(str.c_str(), "abcdef");
    str = str.c_str() + 2;  // a tail of the buffer being replaced
    EXPECT_STREQ(str.c_str(), "cdef");
}

TEST(VantrelStrTest, ResetAndMovesLeaveEmptyUsableTexts) {
    const VantrelStr empty;
    VantrelStr str("abc");
    str.reset();
    EXPECT_TRUE(str.isEmpty());
    EXPECT_EQ(str.c_str(), empty.c_str());
    str.reset();  // resetting an empty text frees nothing
    str = "again";
    EXPECT_STREQ(str.c_str(), "again");

    VantrelStr moved(std::move(str));
    EXPECT_STREQ(moved.c_str(), "again");
    EXPECT_TRUE(str.isEmpty());
    str = std::move(moved);
    EXPECT_STREQ(str.c_str(), "again");
    EXPECT_TRUE(moved.isEmpty());
    moved = "usable";
    EXPECT_STREQ(moved.c_str(), "usable");
}

TEST(VantrelStrTest, ReadsLengthAndBytes) {
    const VantrelStr str("node 7");
    EXPECT_EQ(str.length(), 6u);
    EXPECT_EQ(str[0], 'n');
    EXPECT_EQ(str[5], '7');
    EXPECT_EQ(str[6], '\0');
    const char* asPointer = str;
    EXPECT_EQ(asPointer, str.c_str());
}

// ---- VantrelStrList

TEST(VantrelStrListTest, HoldsTextsInOrderAndNullAsEmpty) {
    VantrelStrList list;
    list.reserve(3);
    list.push_back("a");
    list.push_back(nullptr);
    list.push_back("c");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_STREQ(list.getStr(0), "a");
    EXPECT_STREQ(list[1], "");
    EXPECT_STREQ(list[2], "c");
}

TEST(VantrelStrListTest, CopiesAreDeep) {
    VantrelStrList original;
    original.push_back("one");
    VantrelStrList copy(original);
    VantrelStrList assigned;
    assigned = original;
    EXPECT_NE(copy[0], original[0]);

    original.resize(0);
    original.push_back("other");
    ASSERT_EQ(copy.size(), 1u);
    EXPECT_STREQ(copy[0], "one");
    EXPECT_STREQ(assigned[0], "one");
}

TEST(VantrelStrListTest, ResizeAddsEmptyTextsAndDropsTheRest) {
    VantrelStrList list;
    list.resize(3);
    ASSERT_EQ(list.size(), 3u);
    for (unsigned i = 0; i < 3; ++i) EXPECT_STREQ(list[i], "");

    list.push_back("kept?");
    list.resize(1);
    EXPECT_EQ(list.size(), 1u);
    list.resize(-1);  // a negative size empties the list rather than asking for 4 G entries
    EXPECT_EQ(list.size(), 0u);
    list.reserve(-5);
    EXPECT_EQ(list.size(), 0u);
}

TEST(VantrelStrListTest, EqualityNeedsSameTextsInSameOrder) {
    auto listOf = [](std::initializer_list<const char*> texts) {
        VantrelStrList list;
        for (const char* text : texts) list.push_back(text);
        return list;
    };
    EXPECT_TRUE(listOf({}) == listOf({}));
    EXPECT_TRUE(listOf({"a", "b"}) == listOf({"a", "b"}));
    EXPECT_FALSE(listOf({"a", "b"}) == listOf({"b", "a"}));
    EXPECT_FALSE(listOf({"a"}) == listOf({"a", "b"}));
    EXPECT_FALSE(listOf({"a", ""}) == listOf({"a"}));
}

TEST(VantrelStrListDeathTest, ReadingPastTheEndStopsTheProcess) {
    VantrelStrList list;
    list.resize(3);
    EXPECT_DEATH(list.getStr(3), "index < size\\(\\)");
    EXPECT_DEATH(list[7], "index < size\\(\\)");
}

// ---- VantrelNodeId, VantrelFrameId

TEST(VantrelIdTest, NullEmptyAndDefaultGiveTheEmptyId) {
    EXPECT_STREQ(VantrelNodeId().id(), "");
    EXPECT_STREQ(VantrelNodeId(static_cast<const char*>(nullptr)).id(), "");
    EXPECT_TRUE(VantrelNodeId("") == VantrelNodeId());
    EXPECT_STREQ(VantrelFrameId(static_cast<const char*>(nullptr)).id(), "");

    VantrelNodeId node("n1");
    node.setId(nullptr);
    EXPECT_STREQ(node.id(), "");
    VantrelFrameId frame(VantrelStr("f1"));
    EXPECT_STREQ(frame.id(), "f1");
    frame.setId(nullptr);
    EXPECT_STREQ(frame.id(), "");
}

TEST(VantrelIdTest, NodeIdsCompareAndOrderByTheirTexts) {
    std::map<VantrelNodeId, int> byNode;
    byNode[VantrelNodeId("b")] = 2;
    byNode[VantrelNodeId(VantrelStr("a"))] = 1;
    byNode[VantrelNodeId("b")] = 3;  // the same key, built anew
    ASSERT_EQ(byNode.size(), 2u);
    EXPECT_STREQ(byNode.begin()->first.id(), "a");
    EXPECT_EQ(byNode[VantrelNodeId("b")], 3);

    VantrelNodeId copy(VantrelNodeId("x"));
    EXPECT_TRUE(copy == VantrelNodeId("x"));
    EXPECT_FALSE(copy == VantrelNodeId("X"));
}

// ---- VantrelNodeEvent

TEST(VantrelNodeEventTest, KeepsItsPartsAndCountsANullTypeAsEmpty) {
    VantrelDictionary details;
    details.setString("reason", "renamed");
    const VantrelNodeEvent event(VantrelNodeId("clip7"), nullptr, details);
    EXPECT_STREQ(event.getNodeId().id(), "clip7");
    EXPECT_TRUE(event.getType().isEmpty());
    EXPECT_TRUE(event.getDetails() == details);
}

TEST(VantrelNodeEventTest, EqualityComparesNodeTypeAndDetails) {
    VantrelDictionary details;
    details.setString("a", "1");
    details.setString("b", "2");
    VantrelDictionary sameInOtherOrder;
    sameInOtherOrder.setString("b", "2");
    sameInOtherOrder.setString("a", "1");
    VantrelDictionary different;
    different.setString("a", "1");

    const VantrelNodeEvent event(VantrelNodeId("n"), "changed", details);
    EXPECT_TRUE(event == VantrelNodeEvent(VantrelNodeId("n"), "changed", sameInOtherOrder));
    EXPECT_FALSE(event == VantrelNodeEvent(VantrelNodeId("m"), "changed", details));
    EXPECT_FALSE(event == VantrelNodeEvent(VantrelNodeId("n"), "removed", details));
    EXPECT_FALSE(event == VantrelNodeEvent(VantrelNodeId("n"), "changed", different));

    VantrelNodeEvent copy(event);
    EXPECT_TRUE(copy == event);
    copy = VantrelNodeEvent(VantrelNodeId("m"), "removed", different);
    EXPECT_STREQ(copy.getType().c_str(), "removed");
    EXPECT_STREQ(event.getType().c_str(), "changed");
}

}  // namespace
