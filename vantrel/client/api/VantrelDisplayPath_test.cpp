#include "vantrel/client/api/VantrelDisplayPath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

TEST(VantrelDisplayPathTest, CleanMakesTheGenericForm) {
    const struct {
        const char* path;
        const char* clean;
        Strings components;
    } cases[] = {
        {"/Volume 1//Commercial/", "/Volume 1/Commercial/", {"Volume 1", "Commercial"}},
        {"\\Volume 1\\Commercial", "/Volume 1/Commercial", {"Volume 1", "Commercial"}},
        {"./a/./b/.", "a/b", {"a", "b"}},
        {"a//b", "a/b", {"a", "b"}},
        {"/", "/", {}},
        {"//", "/", {}},
        {"", "", {}},
        {nullptr, "", {}},
        {"..", "..", {".."}},  // display names are not file names: ".." is a name
    };
    for (const auto& c : cases) {
        const std::string clean = VantrelCleanDisplayPath(c.path);
        EXPECT_EQ(clean, c.clean) << (c.path ? c.path : "null");
        EXPECT_EQ(VantrelDisplayPathComponents(clean), c.components) << clean;
    }
}

}  // namespace
