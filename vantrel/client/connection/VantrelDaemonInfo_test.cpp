#include "vantrel/client/connection/VantrelDaemonInfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "vantrel/CoMsg.h"
#include "osal/CoTime.h"
#include "tcp/TcpTestSupport.h"
#include "testing/MessageCapture.h"
#include "vantrel/client/connection/VantrelLocalHostProvider.h"

using namespace std::string_literals;
using Vantrel::CoMsg;
using Vantrel::rcAttrStream;

namespace {

VantrelDaemonInfo decode(const std::string& text) { return VantrelDaemonInfo(rcAttrStream(text)); }

// A description on node port 7549 of database "QLXFS".
VantrelDaemonInfo describe(std::vector<const char*> ipAddrs, std::vector<const char*> frameIpAddrs = {},
                           const char* hostUUID = "", const char* storageId = "") {
    VantrelDaemonInfo info;
    for (size_t i = 0; i < ipAddrs.size(); ++i) info.setIPAddr(static_cast<int>(i), ipAddrs[i]);
    for (size_t i = 0; i < frameIpAddrs.size(); ++i) info.setFrameIPAddr(static_cast<int>(i), frameIpAddrs[i]);
    info.setHostUUID(hostUUID);
    info.setStorageId(storageId);
    info.setNodePort(7549);
    info.setDatabase("QLXFS");
    return info;
}

VantrelDaemonInfo inDatabase(VantrelDaemonInfo info, const char* database) {
    info.setDatabase(database);
    return info;
}

// This machine as the tests see it: named studio-7, with loopback and 192.168.4.20 up, and a
// host UUID when the test gives one.
class FakeLocalHost : public VantrelLocalHostProvider {
public:
    std::string hostName() const override { return "studio-7"; }
    std::vector<std::string> interfaceAddresses() const override {
        return {"127.0.0.1", "::1", "192.168.4.20"};
    }
    bool hostUUID(std::string& uuid) const override {
        if (uuid_.empty()) return false;
        uuid = uuid_;
        return true;
    }

    std::string uuid_;  // empty: unknown
};

// Installs the fake host and a resolver that knows "render" (10.0.0.9) and "studio-7"
// (192.168.4.20) and nothing else, so no rule ever reaches the real network.
class DaemonInfoRulesTest : public ::testing::Test {
protected:
    void SetUp() override {
        VantrelLocalHostProvider::install(&host_);
        resolver_.add("render", {"10.0.0.9"});
        resolver_.add("studio-7", {"192.168.4.20"});
    }
    void TearDown() override { VantrelLocalHostProvider::install(nullptr); }

    FakeLocalHost host_;
    Vantrel::testing::ScopedFakeResolver resolver_;
};

TEST(VantrelDaemonInfoTest, DecodingFallsBackOnTheOldHostnameKey) {
    struct Case {
        const char* stream;
        const char* ipAddr0;
        const char* hostName;
        const char* displayName;
        const char* frameIpAddr0;
    };
    const Case cases[] = {
        {"Hostname 8 10.0.0.5", "10.0.0.5", "10.0.0.5", "10.0.0.5", "10.0.0.5"},
        {"IP0 8 10.0.0.7Hostname 5 alphaHostName 4 beta", "10.0.0.7", "beta", "beta", "10.0.0.7"},
        {"IP0 8 10.0.0.7FrameIP0 8 10.1.0.7Hostname 5 alphaDisplayName 4 Beta", "10.0.0.7", "alpha",
         "Beta", "10.1.0.7"},
        // An empty address read does not count as an address.
        {"IP0 0 Hostname 5 alpha", "alpha", "alpha", "alpha", "alpha"},
        {"", "", "", "", ""},
    };
    for (const Case& c : cases) {
        const VantrelDaemonInfo info = decode(c.stream);
        EXPECT_STREQ(info.getIPAddr(0), c.ipAddr0) << c.stream;
        EXPECT_STREQ(info.getHostName(), c.hostName) << c.stream;
        EXPECT_STREQ(info.getDisplayName(), c.displayName) << c.stream;
        EXPECT_STREQ(info.getFrameIPAddr(0), c.frameIpAddr0) << c.stream;
        EXPECT_EQ(info.getOSType(), VantrelOS::Unknown) << c.stream;
        EXPECT_EQ(info.getNodePort(), 0) << c.stream;
    }
}

TEST(VantrelDaemonInfoTest, ReadsAddressListsUpToTheFirstMissingKeyAndAtMostFive) {
    const VantrelDaemonInfo gap = decode("IP0 1 aIP2 1 cFrameIP1 1 x");
    EXPECT_STREQ(gap.getIPAddr(0), "a");
    EXPECT_STREQ(gap.getIPAddr(2), "");
    EXPECT_STREQ(gap.getFrameIPAddr(0), "a");  // no FrameIP0: the node address stands in
    EXPECT_STREQ(gap.getFrameIPAddr(1), "");

    // An empty address ends its list as a missing key does (the lists are dense), so a list
    // that starts empty is no list, and the record equals its own encoding decoded again.
    const VantrelDaemonInfo hole = decode("IP0 0 IP1 1 bHostname 1 hFrameIP0 0 FrameIP1 1 x");
    EXPECT_STREQ(hole.getIPAddr(0), "h");
    EXPECT_STREQ(hole.getIPAddr(1), "");
    EXPECT_STREQ(hole.getFrameIPAddr(0), "h");
    EXPECT_STREQ(hole.getFrameIPAddr(1), "");
    EXPECT_TRUE(VantrelDaemonInfo(hole.toAttrStream()) == hole);
    const VantrelDaemonInfo shortList = decode("IP0 1 aIP1 0 IP2 1 c");
    EXPECT_EQ(shortList.getNumIPAddrs(), 1);
    EXPECT_STREQ(shortList.getIPAddr(2), "");

    const VantrelDaemonInfo many = decode("IP0 1 aIP1 1 bIP2 1 cIP3 1 dIP4 1 eIP5 1 fIP6 1 g");
    EXPECT_EQ(many.getNumIPAddrs(), 5);
    EXPECT_STREQ(many.getIPAddr(4), "e");
    EXPECT_STREQ(many.getIPAddr(5), "");
}

TEST(VantrelDaemonInfoTest, StorageIdIsTakenFromProtocolVersion3On) {
    struct Case {
        const char* major;
        const char* storageId;
    };
    const Case cases[] = {{"2", ""}, {"3", "sid-1"}, {"4", "sid-1"}, {"-3", ""}};
    for (const Case& c : cases) {
        rcAttrStream stream;
        stream.addStringValue("VersionMajor", c.major);
        stream.addStringValue("StorageId", "sid-1");
        EXPECT_STREQ(VantrelDaemonInfo(stream).getStorageId(), c.storageId) << c.major;
    }
}

TEST(VantrelDaemonInfoTest, ProductDefaultsAndVersionText) {
    struct Case {
        const char* stream;
        const char* product;
        const char* vendor;
        const char* versionText;
    };
    const Case cases[] = {
        {"", "unknown", "unknown", "0.0.0"},
        {"ProductVersionMajor 1 1ProductVersionMinor 1 2ProductVersionMaint 1 3", "unknown", "unknown",
         "1.2.3"},
        {"Product 5 vdiskVendor 0 ProductVersionMajor 1 1ProductVersionStr 10 4.2.1 (r7)", "vdisk", "",
         "4.2.1 (r7)"},
        {"ProductVersionMajor 11 -2147483648ProductVersionMinor 10 2147483647", "unknown", "unknown",
         "-2147483648.2147483647.0"},
    };
    for (const Case& c : cases) {
        const VantrelDaemonInfo info = decode(c.stream);
        EXPECT_STREQ(info.getProduct(), c.product) << c.stream;
        EXPECT_STREQ(info.getVendor(), c.vendor) << c.stream;
        EXPECT_STREQ(info.getProductVersionStr(), c.versionText) << c.stream;
    }
}

TEST(VantrelDaemonInfoTest, PlainAndDecodedRecordsStartFromDifferentVersions) {
    auto version = [](const VantrelDaemonInfo& info) {
        return std::to_string(info.getVersionMajor()) + "." + std::to_string(info.getVersionMinor()) + "." +
               std::to_string(info.getVersionMaint()) + "." + std::to_string(info.getVersionBuild());
    };
    const uint64_t before = Vantrel::CoTime::getTime();
    const VantrelDaemonInfo plain;
    const VantrelDaemonInfo decoded = decode("NodePort 4 7549");
    EXPECT_EQ(version(plain), "2015.0.0.5858");
    EXPECT_EQ(version(decoded), "0.0.0.0");
    EXPECT_STREQ(plain.getProduct(), "");
    EXPECT_STREQ(plain.getProductVersionStr(), "");
    EXPECT_GE(plain.getLastSeen(), before);
    EXPECT_GE(decoded.getLastSeen(), before);
}

// Every key, in order, byte for byte.
const char FULL_RECORD_TEXT[] =
    "IP0 8 10.0.0.5"
    "IP1 8 10.0.0.9"
    "FrameIP0 8 10.1.0.5"
    "Hostname 8 10.0.0.5"
    "HostName 10 render.lab"
    "DisplayName 11 Render Farm"
    "OSType 5 Linux"
    "Database 5 QLXFS"
    "NodePort 4 7549"
    "FramePort 4 7550"
    "VersionMajor 1 3"
    "VersionMinor 1 1"
    "VersionMaint 1 0"
    "VersionBuild 2 42"
    "Product 5 vdisk"
    "Vendor 7 Vantrel"
    "ProductVersionMajor 1 4"
    "ProductVersionMinor 1 2"
    "ProductVersionMaint 1 1"
    "ProductVersionStr 10 4.2.1 (r7)"
    "ProductBuild 2 99"
    "StorageId 5 sid-1"
    "HostUUID 7 6f1c-77";

VantrelDaemonInfo fullRecord() {
    VantrelDaemonInfo info = describe({"10.0.0.5", "10.0.0.9"}, {"10.1.0.5"}, "6f1c-77", "sid-1");
    info.setHostName("render.lab");
    info.setDisplayName("Render Farm");
    info.setOSType(VantrelOS::Linux);
    info.setFramePort(7550);
    info.setVersion(3, 1, 0, 42);
    info.setProduct("vdisk");
    info.setVendor("Vantrel");
    info.setProductVersionMajor(4);
    info.setProductVersionMinor(2);
    info.setProductVersionMaint(1);
    info.setProductVersionStr("4.2.1 (r7)");
    info.setProductBuild(99);
    return info;
}

TEST(VantrelDaemonInfoTest, EncodesEveryKeyInOrder) {
    VantrelDaemonInfo info = fullRecord();
    EXPECT_EQ(info.toAttrStream().getStreamStr(), FULL_RECORD_TEXT);
    EXPECT_EQ(decode(FULL_RECORD_TEXT), info);

    // The lists are dense: an address after an empty slot is not sent.
    info.setIPAddr(3, "10.9.9.9");
    EXPECT_EQ(info.toAttrStream().getStreamStr(), FULL_RECORD_TEXT);

    // "Hostname" is written even when there is no address.
    EXPECT_EQ(VantrelDaemonInfo().toAttrStream().getStreamStr(),
              "Hostname 0 HostName 0 DisplayName 0 OSType 7 UnknownDatabase 0 NodePort 1 0FramePort 1 0"
              "VersionMajor 4 2015VersionMinor 1 0VersionMaint 1 0VersionBuild 4 5858Product 0 Vendor 0 "
              "ProductVersionMajor 1 0ProductVersionMinor 1 0ProductVersionMaint 1 0ProductVersionStr 0 "
              "ProductBuild 1 0StorageId 0 HostUUID 0 ");
}

TEST(VantrelDaemonInfoTest, RefusesAddressesBeyondTheFifth) {
    const CoMsg::Level savedLevel = CoMsg::filterLevel();
    CoMsg::setFilterLevel(CoMsg::NOTICE_LEVEL);
    Vantrel::testing::MessageCapture capture;

    VantrelDaemonInfo info = describe({"a", "b", "c", "d", "e"}, {"f"});
    const VantrelDaemonInfo before = info;
    info.setIPAddr(5, "10.0.0.6");
    info.setFrameIPAddr(-1, "10.0.0.7");
    info.setIPAddr(7, nullptr);
    CoMsg::setFilterLevel(savedLevel);

    EXPECT_EQ(info, before);
    EXPECT_EQ(info.toAttrStream().getStreamStr(), before.toAttrStream().getStreamStr());
    const std::vector<CoMsg> messages = capture.messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].text(), "Exceding maximum number of IPs allowed, ignoring 10.0.0.6");
    EXPECT_EQ(messages[0].level(), CoMsg::WARNING_LEVEL);
    EXPECT_EQ(messages[1].text(), "Exceding maximum number of IPs allowed, ignoring 10.0.0.7");
    EXPECT_EQ(messages[2].text(), "Exceding maximum number of IPs allowed, ignoring ");
    for (int index : {5, 6, -1, 1000}) {
        EXPECT_STREQ(info.getIPAddr(index), "") << index;
        EXPECT_STREQ(info.getFrameIPAddr(index), "") << index;
    }
}

TEST(VantrelDaemonInfoTest, EqualityWeighsEveryFieldButTheLastSeenTime) {
    const VantrelDaemonInfo base = fullRecord();
    VantrelDaemonInfo later = base;
    later.setLastSeen(base.getLastSeen() + 600000000u);
    EXPECT_EQ(later, base);

    const std::vector<std::function<void(VantrelDaemonInfo&)>> changes = {
        [](VantrelDaemonInfo& i) { i.setIPAddr(4, "10.0.0.4"); },
        [](VantrelDaemonInfo& i) { i.setFrameIPAddr(0, "10.1.0.6"); },
        [](VantrelDaemonInfo& i) { i.setFrameIPAddr(3, "10.1.0.3"); },
        [](VantrelDaemonInfo& i) { i.setHostName("render"); },
        [](VantrelDaemonInfo& i) { i.setDisplayName("render farm"); },
        [](VantrelDaemonInfo& i) { i.setOSType(VantrelOS::MacOSX); },
        [](VantrelDaemonInfo& i) { i.setDatabase("archive"); },
        [](VantrelDaemonInfo& i) { i.setNodePort(7600); },
        [](VantrelDaemonInfo& i) { i.setFramePort(7601); },
        [](VantrelDaemonInfo& i) { i.setVersion(4, 1, 0, 42); },
        [](VantrelDaemonInfo& i) { i.setVersion(3, 2, 0, 42); },
        [](VantrelDaemonInfo& i) { i.setVersion(3, 1, 1, 42); },
        [](VantrelDaemonInfo& i) { i.setVersion(3, 1, 0, 43); },
        [](VantrelDaemonInfo& i) { i.setProduct("vtape"); },
        [](VantrelDaemonInfo& i) { i.setVendor("Other"); },
        [](VantrelDaemonInfo& i) { i.setProductVersionMajor(5); },
        [](VantrelDaemonInfo& i) { i.setProductVersionMinor(5); },
        [](VantrelDaemonInfo& i) { i.setProductVersionMaint(5); },
        [](VantrelDaemonInfo& i) { i.setProductBuild(100); },
        [](VantrelDaemonInfo& i) { i.setProductVersionStr("4.2.1"); },
        [](VantrelDaemonInfo& i) { i.setStorageId("sid-2"); },
        [](VantrelDaemonInfo& i) { i.setHostUUID("6f1c-78"); },
    };
    for (size_t n = 0; n < changes.size(); ++n) {
        VantrelDaemonInfo changed = base;
        changes[n](changed);
        EXPECT_NE(changed, base) << "change " << n;
        EXPECT_FALSE(changed == base) << "change " << n;
    }
}

TEST(VantrelDaemonInfoTest, ListsSortByDisplayNameThenDatabaseBytewise) {
    auto named = [](const char* displayName, const char* database) {
        VantrelDaemonInfo info;
        info.setDisplayName(displayName);
        info.setDatabase(database);
        return info;
    };
    std::vector<VantrelDaemonInfo> list = {named("alpha", "b"), named("\xc3\xa9t\xc3\xa9", ""),
                                           named("alpha", "a"), named("Zulu", "z"), named("", "q")};
    std::sort(list.begin(), list.end());
    std::vector<std::string> order;
    for (const VantrelDaemonInfo& info : list)
        order.push_back(std::string(info.getDisplayName()) + "/" + info.getDatabase());
    EXPECT_EQ(order, (std::vector<std::string>{"/q", "Zulu/z", "alpha/a", "alpha/b", "\xc3\xa9t\xc3\xa9/"}));
    EXPECT_FALSE(named("alpha", "a") < named("alpha", "a"));
}

TEST(VantrelDaemonInfoTest, HostileStreamsDecodeWithoutHarm) {
    Vantrel::testing::MessageCapture capture;  // keeps the parse errors off the test output
    const std::string hostile[] = {
        "VersionMajor 40 9999999999999999999999999999999999999999",
        "NodePort 0 FramePort 0 VersionMajor 0 StorageId 0 ",
        "ProductVersionMajor 20 -9999999999999999999ProductVersionMinor 3 1e9",
        "IP0 99999999999 10.0.0.5",
        "IP0 -1 10.0.0.5Hostname 1 x",
        "IP0 50 10.0.0.5",
        "IP0 ",
        "Hostname 5 a\0bcdProduct 3 \0\0\0"s,
        "OSType 3 \xff\xfe\xfd" "DisplayName 2 \r\n",
        std::string(100000, ' ') + "IP0 1 a",
        "IP0 1 aIP0 1 bIP0 1 cIP1 1 d",
    };
    for (const std::string& text : hostile) {
        const VantrelDaemonInfo info = decode(text);
        EXPECT_LE(std::strlen(info.getProductVersionStr()), 127u);
        EXPECT_LE(info.getNumIPAddrs(), VantrelDaemonInfo::MAX_IPS);
        const VantrelDaemonInfo again(info.toAttrStream());
        EXPECT_STREQ(again.getIPAddr(0), info.getIPAddr(0));
    }
    EXPECT_STREQ(decode(hostile[7]).getHostName(), "a");

    // Streams built from the real keys with random lengths and values.
    const char* keys[] = {"IP0", "IP1", "IP4", "FrameIP0", "FrameIP2", "Hostname", "HostName", "DisplayName",
                          "OSType", "NodePort", "VersionMajor", "ProductVersionMaint", "StorageId", "HostUUID"};
    std::mt19937 rng(20240611);
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        for (int n = rng() % 8; n > 0; --n) {
            const std::string value(rng() % 12, static_cast<char>(rng() % 256));
            const long length = static_cast<long>(value.size()) + static_cast<long>(rng() % 5) - 2;
            text += std::string(keys[rng() % (sizeof keys / sizeof keys[0])]) + " " +
                    std::to_string(length) + " " + value;
        }
        const VantrelDaemonInfo info = decode(text);
        EXPECT_LE(info.getNumFrameIPAddrs(), VantrelDaemonInfo::MAX_IPS);
        decode(info.toAttrStream().getStreamStr());
    }
}

TEST_F(DaemonInfoRulesTest, ServerIdRule) {
    const VantrelDaemonInfo remote = describe({"10.0.0.5", "10.0.0.9"}, {"10.1.0.5"}, "", "sid-A");
    const VantrelDaemonInfo local = describe({"192.168.4.20", "127.0.0.1"});
    struct Case {
        const char* what;
        const char* id;
        const char* idStorageId;
        VantrelDaemonInfo record;
        const char* machineUUID;  // "" when this machine's UUID is unknown
        bool same;
    };
    const Case cases[] = {
        {"storage ids equal, address differs", "10.7.7.7:1", "sid-A", remote, "", true},
        {"storage ids differ, address matches", "10.0.0.5:7549", "sid-B", remote, "", false},
        {"storage id in the id only", "10.0.0.5", "sid-A", describe({"10.0.0.5"}), "", false},
        {"address and port", "10.0.0.5:7549", "", remote, "", true},
        {"second node address", "10.0.0.9", "", remote, "", true},
        {"data address", "10.1.0.5", "", remote, "", true},
        {"other port", "10.0.0.5:7600", "", remote, "", false},
        {"same database", "10.0.0.5:QLXFS", "", remote, "", true},
        {"other database", "10.0.0.5:archive", "", remote, "", false},
        {"other address", "10.0.0.7", "", remote, "", false},
        {"host name resolved to a node address", "render:7549", "", remote, "", true},
        // A record seeded from an id by name holds the name, and that id must find it again.
        {"resolvable name held as written", "render:7549", "", describe({"render"}), "", true},
        {"unresolvable name held as written", "ghost:7549", "", describe({"ghost"}), "", true},
        {"unresolvable name", "ghost", "", remote, "", false},
        {"no address", ":QLXFS", "", remote, "", false},
        {"local address that is not loopback", "192.168.4.20", "", remote, "", false},
        {"loopback, record of this machine", "127.0.0.1", "", local, "", true},
        {"localhost, record of this machine", "localhost:7549", "", local, "", true},
        {"loopback, record of another machine", "127.0.0.1", "", remote, "", false},
        {"loopback, record without addresses", "127.0.0.1", "", describe({}), "", true},
        {"loopback, record named by this host's name", "127.0.0.1", "", describe({"studio-7"}), "", true},
        {"loopback, equal UUIDs, foreign addresses", "127.0.0.1", "",
         describe({"10.0.0.5"}, {}, "uuid-here"), "uuid-here", true},
        {"loopback, other UUID, local addresses", "127.0.0.1", "",
         describe({"192.168.4.20"}, {}, "uuid-there"), "uuid-here", false},
        {"loopback, this machine's UUID unknown", "127.0.0.1", "",
         describe({"192.168.4.20"}, {}, "uuid-there"), "", true},
        {"loopback, record without UUID", "127.0.0.1", "", describe({"10.0.0.5"}), "uuid-here", false},
    };
    for (const Case& c : cases) {
        host_.uuid_ = c.machineUUID;
        VantrelServerId id(c.id);
        id.setStorageId(c.idStorageId);
        EXPECT_EQ(c.record.isSameServer(id), c.same) << c.what;
    }
}

TEST_F(DaemonInfoRulesTest, RecordRule) {
    struct Case {
        const char* what;
        VantrelDaemonInfo mine;
        VantrelDaemonInfo other;
        bool same;
    };
    const Case cases[] = {
        {"same storage id, other addresses", describe({"10.0.0.5"}, {}, "", "sid-A"),
         describe({"10.0.0.6"}, {}, "", "sid-A"), true},
        {"other storage ids, same addresses", describe({"10.0.0.5"}, {}, "", "sid-A"),
         describe({"10.0.0.5"}, {}, "", "sid-B"), false},
        {"storage id on one side", describe({"10.0.0.5"}), describe({"10.0.0.5"}, {}, "", "sid-A"), false},
        {"other databases", describe({"10.0.0.5"}), inDatabase(describe({"10.0.0.5"}), "archive"), false},
        {"same UUID, other addresses", describe({"10.0.0.5"}, {}, "u-1"), describe({"10.0.0.6"}, {}, "u-1"),
         true},
        {"other UUIDs, same addresses", describe({"10.0.0.5"}, {}, "u-1"), describe({"10.0.0.5"}, {}, "u-2"),
         false},
        {"UUID on one side", describe({"10.0.0.5"}), describe({"10.0.0.5"}, {}, "u-1"), false},
        {"other's node address is my data address", describe({"10.0.0.5"}, {"10.1.0.5"}),
         describe({"10.0.0.8", "10.1.0.5"}), true},
        {"other's data address is my node address", describe({"10.0.0.5"}),
         describe({"10.0.0.7"}, {"10.0.0.5"}), true},
        {"disjoint addresses", describe({"10.0.0.5"}, {"10.1.0.5"}), describe({"10.0.0.6"}, {"10.1.0.6"}),
         false},
        {"other names a host that resolves to mine", describe({"10.0.0.9"}), describe({"render"}), true},
        {"other's loopback, I am on this machine", describe({"192.168.4.20"}), describe({"127.0.0.1"}), true},
        {"other's loopback, I am elsewhere", describe({"10.0.0.5"}), describe({"127.0.0.1"}), false},
        {"any local address counts, not only loopback", describe({"127.0.0.1"}), describe({"192.168.4.20"}),
         true},
        {"addresses after an empty slot do not count", describe({"10.0.0.5"}), describe({"", "10.0.0.5"}),
         false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.mine.isSameServer(c.other), c.same) << c.what;
}

TEST_F(DaemonInfoRulesTest, IsLocal) {
    struct Case {
        const char* what;
        VantrelDaemonInfo record;
        const char* machineUUID;
        bool local;
    };
    const Case cases[] = {
        {"no addresses", describe({}), "", true},
        {"all addresses of this machine", describe({"192.168.4.20", "127.0.0.1", "studio-7"}), "", true},
        {"one foreign address", describe({"192.168.4.20", "10.0.0.5"}), "", false},
        {"foreign data address only", describe({"127.0.0.1"}, {"10.1.0.5"}), "", true},
        {"equal UUIDs decide over foreign addresses", describe({"10.0.0.5"}, {}, "u-1"), "u-1", true},
        {"other UUID decides over local addresses", describe({"127.0.0.1"}, {}, "u-2"), "u-1", false},
        {"machine UUID unknown: addresses decide", describe({"127.0.0.1"}, {}, "u-2"), "", true},
        {"record without UUID: addresses decide", describe({"10.0.0.5"}), "u-1", false},
    };
    for (const Case& c : cases) {
        host_.uuid_ = c.machineUUID;
        EXPECT_EQ(c.record.isLocal(), c.local) << c.what;
    }
}

}  // namespace
