#include "FileNamePattern.h"

#include <gtest/gtest.h>

namespace vantrel_tool {
namespace {

TEST(FileNamePatternTest, NamesFrames) {
    struct Case {
        const char* pattern;
        size_t number;
        const char* name;
        bool numbered;
    } cases[] = {
        {"out.%04d.exr", 7, "out.0007.exr", true}, {"out.%04d.exr", 123456, "out.123456.exr", true},
        {"f%d.png", 12, "f12.png", true},          {"100%%/f_%03d.%%", 5, "100%/f_005.%", true},
        {"single.tif", 3, "single.tif", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        const FileNamePattern pattern(c.pattern);
        EXPECT_EQ(pattern.numbered(), c.numbered);
        EXPECT_EQ(pattern.name(c.number), c.name);
    }
}

TEST(FileNamePatternTest, RefusesEveryOtherConversion) {
    for (const char* bad :
         {"a%s.exr", "a%d%d.exr", "a%5d", "a%", "a%x", "%n", "a%099999999999999999999d"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(FileNamePattern{bad}, PatternError);
    }
}

}  // namespace
}  // namespace vantrel_tool
