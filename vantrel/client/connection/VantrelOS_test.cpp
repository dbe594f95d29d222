#include "vantrel/VantrelOS.h"

#include <grp.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vantrel/client/connection/VantrelLocalHostProvider.h"

namespace {

TEST(VantrelOSTest, NamesOperatingSystemTypes) {
    struct Case {
        int type;
        const char* name;
    };
    const Case names[] = {
        {VantrelOS::Unknown, "Unknown"}, {VantrelOS::Irix, "Irix"},
        {VantrelOS::Linux, "Linux"},     {VantrelOS::WindowsNT, "WindowsNT"},
        {VantrelOS::MacOSX, "MacOSX"},   {9, "Unknown"},
        {-1, "Unknown"},
    };
    for (const Case& c : names)
        EXPECT_STREQ(VantrelOS::OsTypeStr(static_cast<VantrelOS::OsType>(c.type)), c.name) << c.type;

    EXPECT_STREQ(VantrelOS::OS_TYPE_UNKNOWN_STR(), "Unknown");
    EXPECT_STREQ(VantrelOS::OS_TYPE_IRIX_STR(), "Irix");
    EXPECT_STREQ(VantrelOS::OS_TYPE_LINUX_STR(), "Linux");
    EXPECT_STREQ(VantrelOS::OS_TYPE_WINNT_STR(), "WindowsNT");
    EXPECT_STREQ(VantrelOS::OS_TYPE_MACOSX_STR(), "MacOSX");
}

TEST(VantrelOSTest, ReadsOperatingSystemTypesIgnoringCase) {
    struct Case {
        const char* text;
        VantrelOS::OsType type;
    };
    const Case cases[] = {
        {"Irix", VantrelOS::Irix},         {"linux", VantrelOS::Linux},
        {"LINUX", VantrelOS::Linux},       {"windowsnt", VantrelOS::WindowsNT},
        {"MacOSX", VantrelOS::MacOSX},     {"Unknown", VantrelOS::Unknown},
        {"Linux ", VantrelOS::Unknown},    {"Lin", VantrelOS::Unknown},
        {"", VantrelOS::Unknown},          {nullptr, VantrelOS::Unknown},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VantrelOS::strToOsType(c.text), c.type) << (c.text ? c.text : "(null)");
}

TEST(VantrelOSTest, ReportsThisLinuxMachine) {
    EXPECT_EQ(VantrelOS::getOSType(), VantrelOS::Linux);
    struct utsname names;
    ASSERT_EQ(uname(&names), 0);
    EXPECT_STREQ(VantrelOS::getOSVersion().c_str(), names.release);

    const passwd* user = getpwuid(geteuid());
    EXPECT_STREQ(VantrelOS::getUserId().c_str(), user != nullptr ? user->pw_name : "unknown");
    const group* grp = getgrgid(getegid());
    EXPECT_STREQ(VantrelOS::getGroupId().c_str(), grp != nullptr ? grp->gr_name : "unknown");
}

TEST(VantrelOSTest, ASetUserIdReplacesTheSystemsAnswerUntilCleared) {
    const VantrelStr systemUser = VantrelOS::getUserId();
    VantrelOS::setUserId("render-farm");
    EXPECT_STREQ(VantrelOS::getUserId().c_str(), "render-farm");
    VantrelOS::setUserId("");
    EXPECT_TRUE(VantrelOS::getUserId() == systemUser);
    VantrelOS::setUserId("again");
    VantrelOS::setUserId(nullptr);
    EXPECT_TRUE(VantrelOS::getUserId() == systemUser);
}

TEST(VantrelOSTest, LoopBackTextsAreExact) {
    struct Case {
        const char* text;
        bool loopBack;
    };
    const Case cases[] = {
        {"localhost", true}, {"127.0.0.1", true},  {"::1", true},
        {"LOCALHOST", false}, {"127.0.0.2", false}, {"0:0:0:0:0:0:0:1", false},
        {" localhost", false}, {"", false},        {nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VantrelOS::isLoopBackIP(c.text), c.loopBack) << (c.text ? c.text : "(null)");
}

// A host whose name and interfaces the test chooses.
class FakeLocalHost : public VantrelLocalHostProvider {
public:
    std::string hostName() const override { return "studio-7"; }
    std::vector<std::string> interfaceAddresses() const override {
        return {"127.0.0.1", "192.168.4.20", "fe80::1%eth0"};
    }
};

class VantrelOSNetworkTest : public ::testing::Test {
protected:
    void SetUp() override { VantrelLocalHostProvider::install(&fakeHost_); }
    void TearDown() override { VantrelLocalHostProvider::install(nullptr); }

    FakeLocalHost fakeHost_;
};

TEST_F(VantrelOSNetworkTest, AsksTheInstalledProvider) {
    EXPECT_STREQ(VantrelOS::getHostName().c_str(), "studio-7");

    struct Case {
        const char* text;
        bool local;
    };
    const Case cases[] = {
        {"localhost", true},     {"::1", true},          {"studio-7", true},
        {"192.168.4.20", true},  {"fe80::1%eth0", true}, {"STUDIO-7", false},
        {"192.168.4.2", false},  {"studio", false},      {"", false},
        {nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VantrelOS::isLocalIP(c.text), c.local) << (c.text ? c.text : "(null)");
}

TEST(VantrelLocalHostProviderTest, TheSystemProviderIsUsedWhenNoneIsInstalled) {
    FakeLocalHost fake;
    VantrelLocalHostProvider::install(&fake);
    VantrelLocalHostProvider::install(nullptr);
    EXPECT_EQ(&VantrelLocalHostProvider::current(), &VantrelLocalHostProvider::systemProvider());
}

TEST(VantrelLocalHostProviderTest, TheSystemProviderReportsThisHost) {
    const VantrelLocalHostProvider& system = VantrelLocalHostProvider::systemProvider();
    char name[256] = {};
    ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
    EXPECT_EQ(system.hostName(), name);
    EXPECT_STREQ(VantrelOS::getHostName().c_str(), name);

    // Loopback is up wherever the tests run (the test network namespace brings it up).
    const std::vector<std::string> addresses = system.interfaceAddresses();
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), "127.0.0.1"), addresses.end());
    for (const std::string& address : addresses) EXPECT_TRUE(VantrelOS::isLocalIP(address.c_str()));
}

}  // namespace
