#include "vantrel/client/nodes/VantrelCountedList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Items = std::vector<std::string>;

TEST(VantrelCountedListTest, EncodesCountThenEachLengthAndBytes) {
    EXPECT_EQ(VantrelCountedList::encode({"ab", "c"}), "2 2 ab1 c");
    EXPECT_EQ(VantrelCountedList::encode({}), "0 ");
    EXPECT_EQ(VantrelCountedList::encode({"", "a b,c"}), "2 0 5 a b,c");
    std::string out = "Paths ";
    VantrelCountedList::append(out, {"x"});
    EXPECT_EQ(out, "Paths 1 1 x");
}

TEST(VantrelCountedListTest, DecodesWellFormedLists) {
    const struct {
        std::string text;
        Items items;
    } cases[] = {
        {"2 2 ab1 c", {"ab", "c"}},
        {"0 ", {}},
        {"1 0 ", {""}},
        {"2 2 ab 1 c", {"ab", "c"}},         // white space before a length is skipped
        {"2 2 ab\n\t1 c", {"ab", "c"}},
        {"1 7 a b,c d", {"a b,c d"}},        // items carry spaces and commas unescaped
        {"1 3 1 x", {"1 x"}},                // item bytes that look like a length
        {std::string("1 3 a\0b", 7), {std::string("a\0b", 3)}},
    };
    for (const auto& c : cases) {
        Items items{"stale"};
        EXPECT_TRUE(VantrelCountedList::decode(c.text, items)) << c.text;
        EXPECT_EQ(items, c.items) << c.text;
    }
}

TEST(VantrelCountedListTest, RefusesMalformedLists) {
    const char* cases[] = {
        "",                         // no count
        "0",                        // count without its space
        "2 2 ab1 c1 d",             // three items where two are announced
        "2 2 ab",                   // fewer items than announced
        "1 5 ab",                   // length past the end
        "1 2 abc",                  // bytes after the last item
        "1 2ab",                    // length without its space
        "-1 ",                      // signs are not numbers here
        "1 -1 ",
        "1 +1 a",
        " 1 1 a",                   // the count starts the text
        "x 1 a",
        "99999999999999999999999 ",  // a count no text of this size can hold
        "1 99999999999999999999999 a",
    };
    for (const char* text : cases) {
        Items items{"stale"};
        EXPECT_FALSE(VantrelCountedList::decode(text, items)) << text;
        EXPECT_TRUE(items.empty()) << text;
    }
}

TEST(VantrelCountedListTest, RoundTripsAnyBytes) {
    Items items;
    for (int length = 0; length < 300; length += 37) {
        std::string item;
        for (int i = 0; i < length; ++i) item += static_cast<char>((i * 7 + length) % 256);
        items.push_back(item);
    }
    Items back;
    ASSERT_TRUE(VantrelCountedList::decode(VantrelCountedList::encode(items), back));
    EXPECT_EQ(back, items);
}

}  // namespace
