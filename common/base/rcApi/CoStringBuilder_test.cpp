#include "rcApi/CoStringBuilder.h"

#include <gtest/gtest.h>

#include <string>

namespace Vantrel {
namespace {

TEST(CoStringBuilder, GrowsByPowerOfTwoMultiplesAndKeepsItsContent) {
    CoStringBuilder text(4);
    for (char c : std::string("abcdefghij")) text += c;  // doubles 4 -> 8 -> 16
    EXPECT_STREQ("abcdefghij", text.c_str());
    EXPECT_EQ(10u, text.length());
    EXPECT_EQ(16u, text.capacity());

    text.append("0123456789012345678901", 22);  // 32 bytes and a terminator: 4 x 16
    EXPECT_EQ(64u, text.capacity());
    EXPECT_EQ("abcdefghij0123456789012345678901", std::string(text.c_str()));

    text.setValue(std::string(100, 'x'));  // replaced by 2 x 64
    EXPECT_EQ(128u, text.capacity());
    EXPECT_EQ(std::string(100, 'x'), std::string(text));

    text.clear();
    EXPECT_STREQ("", text.c_str());
    EXPECT_EQ(128u, text.capacity());
}

TEST(CoStringBuilder, KeepsEveryByteAndLeavesRoomForTheTerminator) {
    CoStringBuilder text(1);
    text += 'a';
    text += '\0';
    text += 'b';
    EXPECT_EQ(3u, text.length());
    EXPECT_LT(text.length(), text.capacity());
    EXPECT_EQ(std::string("a\0b", 3), std::string(text.c_str(), text.length()));

    text = static_cast<const char*>(nullptr);
    EXPECT_EQ(0u, text.length());
}

TEST(CoStringBuilder, CopiesAreIndependent) {
    CoStringBuilder original;
    original.setValue("left");
    CoStringBuilder copy(original);
    copy += std::string(" and right");
    original = copy;
    copy.setValue("other");
    EXPECT_STREQ("left and right", original.c_str());
    EXPECT_STREQ("other", copy.c_str());
}

}  // namespace
}  // namespace Vantrel
