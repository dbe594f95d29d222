#include "vantrel/server/ServerMethods.h"

#include <gtest/gtest.h>

#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/server/MethodsTestSupport.h"

using namespace vantreld;

namespace {

class ServerMethodsTest : public vantreld::testing::MethodsFixture {};

}  // namespace

TEST_F(ServerMethodsTest, PingAndQueryVersion) {
    EXPECT_EQ(ok("Ping"), "");
    EXPECT_EQ(ok("QueryVersion"), "2015 0");
    play(ProtocolVersion{2012, 1, 1, 5758});
    EXPECT_EQ(ok("QueryVersion"), "2012 1");
}

TEST_F(ServerMethodsTest, DaemonInfoDescribesThisServer) {
    settings_.displayName = "Studio A";
    play(ProtocolVersion{2013, 1, 0, 6115});
    const VantrelDaemonInfo info{Vantrel::rcAttrStream(ok("GetDaemonInfo", "\"\""))};
    EXPECT_STREQ(info.getIPAddr(0), "127.0.0.1");
    EXPECT_STREQ(info.getFrameIPAddr(0), "127.0.0.1");
    EXPECT_EQ(info.getNumIPAddrs(), 1);
    EXPECT_EQ(info.getNodePort(), 7549);
    EXPECT_STREQ(info.getDisplayName(), "Studio A");
    EXPECT_STREQ(info.getHostName(), VantrelOS::getHostName().c_str());
    EXPECT_EQ(info.getOSType(), VantrelOS::Linux);
    EXPECT_STREQ(info.getDatabase(), "QLXFS");
    EXPECT_EQ(info.getVersionMajor(), 2013);
    EXPECT_EQ(info.getVersionMinor(), 1);
    EXPECT_EQ(info.getVersionMaint(), 0);
    EXPECT_EQ(info.getVersionBuild(), 6115);
    EXPECT_STREQ(info.getProduct(), "vantreld");
    EXPECT_STREQ(info.getVendor(), "Vantrel");
    EXPECT_STREQ(info.getProductVersionStr(), "1.0.0");
    EXPECT_STREQ(info.getStorageId(), store_.storageId().c_str());
    EXPECT_STREQ(info.getHostUUID(), store_.hostUUID().c_str());

    const std::string record = ok("GetDaemonInfo", "\"\"");
    EXPECT_EQ(ok("GetDaemonList"),
              "Count 1 1Node0 " + std::to_string(record.size()) + " " + record);
}

TEST_F(ServerMethodsTest, ShutdownOnlyFromThisHost) {
    EXPECT_FALSE(call("Shutdown", "", false).ok);
    EXPECT_EQ(call("Shutdown", "", false).text, "Shutdown is accepted from this host only");
    EXPECT_EQ(shutdowns_, 0);
    EXPECT_EQ(ok("Shutdown"), "");
    EXPECT_EQ(shutdowns_, 1);
}

TEST_F(ServerMethodsTest, TranslatesPathsByHostThenByOsType) {
    settings_.readText(
        "[HostTranslation 0]\nSrcHost = alpha\nSrcPath = /mnt/media\nDstHost = BETA\nDstPath = "
        "/Volumes/media\n"
        "[OsTypeTranslation 0]\nSrcType = Linux\nSrcPath = /mnt/media\nDstType = "
        "WindowsNT\nDstPath = M:\\media\n");
    // As clients build it: quoted hosts and OS types, then each path quoted, comma-separated.
    EXPECT_EQ(ok("TranslatePaths", "\"alpha\" 2 \"beta\" 2 \"/mnt/media/a b.dpx\",\"/other/x\""),
              "/Volumes/media/a b.dpx,/other/x");
    EXPECT_EQ(ok("TranslatePaths", "\"alpha\" 2 \"gamma\" 3 \"/mnt/media/sub/a.dpx\""),
              "M:\\media\\sub\\a.dpx");
    EXPECT_EQ(ok("TranslatePaths", "\"alpha\" 2 \"beta\" 2 \"\",\"\""), ",");
    EXPECT_EQ(ok("TranslatePaths", "\"alpha\" 2 \"beta\" 2 "), "");
    EXPECT_FALSE(call("TranslatePaths", "\"alpha\" 2").ok);
    EXPECT_FALSE(call("TranslatePaths", "\"alpha\" 2 \"beta\" 2 /unquoted").ok);
}

TEST_F(ServerMethodsTest, TranslationTablesComeFromTheConfiguration) {
    EXPECT_EQ(ok("GetHostTranslations"), "numHostTranslations 1 0");
    settings_.readText(
        "[HostTranslation 0]\nSrcHost = a\nSrcPath = /x\nDstHost = b\nDstPath = /y\n"
        "[OsTypeTranslation 0]\nSrcType = Linux\nSrcPath = /x\nDstType = WindowsNT\nDstPath = X:\n"
        "[TranslationGroup 0]\nName = studio\nNumber = 2\nHosts = a, b\n"
        "[TranslationGroup 1]\nName = empty\n");
    EXPECT_EQ(ok("GetHostTranslations"),
              "numHostTranslations 1 10 46 srcHost 1 asrcPath 2 /xdstHost 1 bdstPath 2 /y");
    EXPECT_EQ(
        ok("GetOsTypeTranslations"),
        "numOsTypeTranslations 1 10 58 srcType 5 LinuxsrcPath 2 /xdstType 9 WindowsNTdstPath 2 X:");
    EXPECT_EQ(ok("GetTranslationGroups"), "numGroups 1 20 12 studio,2,a,b1 7 empty,0");
}

// Each generation answers the methods it does not know as an old server would.
TEST_F(ServerMethodsTest, OlderGenerationsDoNotKnowNewerMethods) {
    struct Case {
        ProtocolVersion version;
        const char* method;
        bool known;
    } cases[] = {
        {{2012, 0, 0, 5133}, "CreateNodeEx", false},
        {{2012, 0, 0, 5134}, "CreateNodeEx", true},
        {{2012, 0, 0, 5133}, "GetChildrenEx", false},
        {{2012, 0, 0, 5134}, "GetDisplayNameEx", true},
        {{2013, 1, 0, 6114}, "GetFramesEx", false},
        {{2013, 1, 0, 6115}, "AllocateFramesEx", true},
        {{2, 6, 0, 9}, "SetFramePaths", false},
        {{2, 6, 1, 0}, "GetFramePaths", true},
        {{2012, 1, 1, 5757}, "SetFramePathsEx", false},
        {{2012, 1, 1, 5758}, "GetFramePathsEx", true},
        {{2014, 9, 9, 9999}, "CanCreateNode", false},
        {{2015, 0, 0, 0}, "CanCreateNode", true},
        {{2, 4, 9, 9}, "SetMetaData", false},
        {{2, 5, 0, 0}, "SetMetaData", true},
        {{2010, 1, 0, 99}, "GetNbReadAheads", false},
        {{2010, 1, 1, 0}, "GetNbReadAheads", true},
        {{1, 0, 0, 0}, "GetChildren", true},
        {{1, 0, 0, 0}, "GetDaemonInfo", true},
    };
    for (const Case& c : cases) {
        play(c.version);
        const Reply reply = call(c.method, "host");
        const bool unknown = !reply.ok && reply.text == std::string("Unknown method: ") + c.method;
        EXPECT_EQ(!unknown, c.known) << c.version.text() << " " << c.method << ": " << reply.text;
    }
    EXPECT_EQ(call("NoSuchMethod").text, "Unknown method: NoSuchMethod");
}

TEST_F(ServerMethodsTest, EveryRequestIsLoggedWithItsArguments) {
    log_.clear();
    call("GetChildren", "host");
    call("NoSuchMethod", "a\tb");
    const std::vector<RequestLog::Entry> entries = log_.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].method, "GetChildren");
    EXPECT_EQ(entries[0].args, "host");
    EXPECT_EQ(entries[1].method, "NoSuchMethod");
    EXPECT_EQ(RequestLog::traceLine(entries[1].method, entries[1].args), "NoSuchMethod a\\tb");
}

TEST(ProtocolVersionText, ParsesFourNumbers) {
    ProtocolVersion version;
    ASSERT_TRUE(ProtocolVersion::parse("2012.1.1.5758", version));
    EXPECT_EQ(version.text(), "2012.1.1.5758");
    for (const char* bad :
         {"", "2012.1.1", "2012.1.1.5758.1", "2012.a.1.1", "2012..1.1", "-1.0.0.0"})
        EXPECT_FALSE(ProtocolVersion::parse(bad, version)) << bad;
}

TEST(ServerSettingsText, WarnsOfLinesItCannotUseAndReadsLimits) {
    ServerSettings settings;
    settings.readText(
        "[Server]\nDisplayNam = Studio\nReadAheads = lots\n[Bogus]\nx = 1\n"
        "[Limits]\nMaxNodes = 10\nMaxFramesPerServer = 99\nMaxFrames = 3\n"
        "[HostTranslation 0]\nSrcHost = a\nSrcPth = /x\n"
        "[SelfDiscovery]\nPort = 7600\nTTL = 2\nResyncTime = 30\nScope = 224.0.0.1\n");
    EXPECT_EQ(settings.warnings,
              (std::vector<std::string>{
                  "configuration text:2: unknown key 'DisplayNam' in [Server]",
                  "configuration text:3: 'ReadAheads' needs a whole number, not 'lots'; the "
                  "line is ignored",
                  "configuration text:4: unknown section [Bogus]",
                  "configuration text:9: unknown key 'MaxFrames' in [Limits]",
                  "configuration text:12: unknown key 'SrcPth' in [HostTranslation 0]"}));
    EXPECT_EQ(settings.readAheads, 2);
    EXPECT_EQ(settings.limits.maxNodes, 10u);
    EXPECT_EQ(settings.limits.maxFramesPerServer, 99u);
    EXPECT_EQ(settings.limits.maxFramesPerNode, StoreLimits().maxFramesPerNode);
}

TEST(RequestLogBounds, KeepsTheLatestEntriesWithinItsBytes) {
    RequestLog log(100, 1000);
    for (int i = 0; i < 50; ++i) log.record("M", std::string(99, 'a' + i % 26));  // 100 bytes each
    EXPECT_EQ(log.entries().size(), 10u);
    EXPECT_EQ(log.bytes(), 1000u);
    EXPECT_EQ(log.entries().back().args, std::string(99, 'a' + 49 % 26));
    log.record("Big", std::string(5000, 'x'));  // alone over the bound: its start is kept
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(log.entries()[0].args, std::string(1000, 'x'));
    EXPECT_LE(log.bytes(), 1003u);
    RequestLog fewEntries(3, 1 << 20);
    for (int i = 0; i < 5; ++i) fewEntries.record("M", std::to_string(i));
    EXPECT_EQ(fewEntries.argsOf("M"), (std::vector<std::string>{"2", "3", "4"}));
}
