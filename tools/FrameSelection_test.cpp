#include "FrameSelection.h"

#include <gtest/gtest.h>

namespace vantrel_tool {
namespace {

std::vector<size_t> indexes(const FrameSelection& selection) {
    std::vector<size_t> all;
    for (size_t i = 0; i < selection.size(); ++i) all.push_back(selection[i]);
    return all;
}

TEST(FrameSelectionTest, NamesFramesInTheOrderWritten) {
    struct Case {
        const char* text;
        std::vector<size_t> frames;
    } cases[] = {
        {"", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"0-3,7", {0, 1, 2, 3, 7}},
        {" 8 - , 2 ", {8, 9, 2}},
        {"5,5,1-2", {5, 5, 1, 2}},
        {"9-9", {9}},
        {"0-9x3", {0, 3, 6, 9}},  // every third frame
        {"1-x4,0-8x5", {1, 5, 9, 0, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(indexes(FrameSelection::parse(c.text, 10)), c.frames);
    }
    EXPECT_EQ(FrameSelection::all(0).size(), 0u);
}

TEST(FrameSelectionTest, RefusesMalformedAndOutOfRangeTexts) {
    struct Case {
        const char* text;
        const char* reason;
    } cases[] = {
        {"10", "frame 10 is beyond the clip's 10 frames"},
        {"3-99999999999999999999999", "is beyond"},
        {"5-2", "range '5-2' runs backwards"},
        {"1,,2", "'' is not a frame index"},
        {"-3", "'-3' is not a frame index"},
        {"1-2-3", "'1-2-3' is not"},
        {"+1", "'+1' is not"},
        {"0x4", "'0x4' is not"},
        {"2,", "'' is not"},
        {"0-9x0", "'0-9x0' has no step"},
        {"0-9x", "no step"},
        {"0-9x-2", "no step"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            FrameSelection::parse(c.text, 10);
            ADD_FAILURE() << "accepted";
        } catch (const SelectionError& error) {
            EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
        }
    }
}

TEST(FrameSelectionTest, LargeRangesCostNoMemoryPerFrame) {
    const size_t count = size_t(1) << 40;
    const FrameSelection selection = FrameSelection::parse("7,0-,3", count);
    EXPECT_EQ(selection.size(), count + 2);
    EXPECT_EQ(selection[0], 7u);
    EXPECT_EQ(selection[1], 0u);
    EXPECT_EQ(selection[count], count - 1);
    EXPECT_EQ(selection[count + 1], 3u);
}

}  // namespace
}  // namespace vantrel_tool
