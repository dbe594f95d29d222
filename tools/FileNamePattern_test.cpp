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
        {"single.tif", 3, "single.tif", false},   {"plate.####.exr", 1001, "plate.1001.exr", true},
        {"p.##.dpx", 7, "p.07.dpx", true},         {"p.#.dpx", 123, "p.123.dpx", true},
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
         {"a%s.exr", "a%d%d.exr", "a%5d", "a%", "a%x", "%n", "a%099999999999999999999d", "a##%d",
          "a#b#", "a#####################"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(FileNamePattern{bad}, PatternError);
    }
}

TEST(FileNamePatternTest, SortsFilesByTheirFrameNumbers) {
    std::vector<std::string> files{"a/p.1000.exr", "a/p.999.exr", "b7/p.0998.exr", "p.1001.exr"};
    sortByFrameNumber(files);
    EXPECT_EQ(files,
              (std::vector<std::string>{"b7/p.0998.exr", "a/p.999.exr", "a/p.1000.exr", "p.1001.exr"}));
    std::vector<std::string> unnumbered{"p.10.exr", "p.exr", "p.2.exr"};
    sortByFrameNumber(unnumbered);  // one name without a number: the order given
    EXPECT_EQ(unnumbered, (std::vector<std::string>{"p.10.exr", "p.exr", "p.2.exr"}));
}

}  // namespace
}  // namespace vantrel_tool
