#include "osal/CoIdentity.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace Vantrel {
namespace {

// The names found must lead back to the process's ids through the databases.
TEST(CoIdentityTest, NamesMatchTheEffectiveIds) {
    std::string user;
    ASSERT_TRUE(CoIdentity::getUserName(user));
    ASSERT_FALSE(user.empty());
    const passwd* userEntry = getpwnam(user.c_str());
    ASSERT_NE(nullptr, userEntry);
    EXPECT_EQ(geteuid(), userEntry->pw_uid);

    std::string groupName;
    ASSERT_TRUE(CoIdentity::getGroupName(groupName));
    ASSERT_FALSE(groupName.empty());
    const group* groupEntry = getgrnam(groupName.c_str());
    ASSERT_NE(nullptr, groupEntry);
    EXPECT_EQ(getegid(), groupEntry->gr_gid);
}

TEST(CoIdentityTest, IdsByNumber) {
    std::string name;
    ASSERT_TRUE(CoIdentity::getUserName(0, name));
    EXPECT_EQ("root", name);
    ASSERT_TRUE(CoIdentity::getGroupName(0, name));
    EXPECT_EQ("root", name);

    // (uid_t)-1 is the system's "no id" and never has an entry.
    name = "kept";
    EXPECT_FALSE(CoIdentity::getUserName(static_cast<unsigned int>(-1), name));
    EXPECT_FALSE(CoIdentity::getGroupName(static_cast<unsigned int>(-1), name));
    EXPECT_EQ("kept", name);
}

}  // namespace
}  // namespace Vantrel
