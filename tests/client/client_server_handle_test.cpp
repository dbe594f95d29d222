// Server handles against a real server: description, node-service identity, root node, path
// translation and the translation tables, and several threads sharing one server.
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ServerHandleTestSupport.h"
#include "vantrel/VantrelClientAPI.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"

namespace {

using client_testing::TestServer;
using vantrel_testing::ClientScope;

const char CONFIG[] =
    "[Server]\n"
    "DisplayName = Studio A\n"
    "\n"
    "[HostTranslation 0]\n"
    "SrcHost = alpha\n"
    "SrcPath = /mnt/media\n"
    "DstHost = beta\n"
    "DstPath = /Volumes/media\n"
    "\n"
    "[HostTranslation 1]\n"
    "SrcHost = *\n"
    "SrcPath = /projects\n"
    "DstHost = gamma\n"
    "DstPath = /srv/projects\n"
    "\n"
    "[OsTypeTranslation 0]\n"
    "SrcType = Linux\n"
    "SrcPath = /mnt\n"
    "DstType = WindowsNT\n"
    "DstPath = M:\n"
    "\n"
    "[TranslationGroup 0]\n"
    "Name = studio\n"
    "Number = 2\n"
    "Hosts = alpha, beta\n"
    "\n"
    "[TranslationGroup 1]\n"
    "Name = render\n"
    "Number = 5\n"
    "Hosts = farm1\n";

// CONFIG and a rule from the display name to the host name the server will report.
std::string configWithHostRule() {
    return std::string(CONFIG) +
           "\n[HostTranslation 2]\n"
           "SrcHost = Studio A\n"
           "SrcPath = /studio\n"
           "DstHost = " + VantrelOS::getHostName().c_str() + "\n"
           "DstPath = /local\n";
}

std::vector<std::string> items(const VantrelStrList& list) {
    std::vector<std::string> out;
    for (unsigned i = 0; i < list.size(); ++i) out.push_back(list[i]);
    return out;
}

class ServerHandleTest : public ::testing::Test {
protected:
    ServerHandleTest() : server_({"--protocol-version", "2013.1.0.6115"}, configWithHostRule()) {}

    TestServer server_;
    vantrel_testing::DebugLog log_;
    ClientScope client_;
};

TEST_F(ServerHandleTest, DescribesTheServer) {
    ASSERT_TRUE(server_.running());
    VantrelServerHandle handle(server_.id().c_str());
    VantrelServerInfo info;
    ASSERT_TRUE(handle.getInfo(info)) << handle.lastError();
    EXPECT_STREQ("Studio A", info.getDisplayName());
    EXPECT_STREQ("QLXFS", info.getDatabase());
    EXPECT_EQ(2013, info.getVersionMajor());
    EXPECT_EQ(1, info.getVersionMinor());
    EXPECT_TRUE(info.isSameServer(handle.getId()));

    VantrelStr name, storageId;
    EXPECT_TRUE(handle.getDisplayName(name));
    EXPECT_STREQ("Studio A", name);
    EXPECT_TRUE(handle.getStorageId(storageId));
    EXPECT_STREQ(info.getStorageId(), storageId);
    ASSERT_NE(nullptr, handle.getHostName());
    EXPECT_STREQ(info.getHostname(), handle.getHostName());
    ASSERT_NE(nullptr, handle.getHostUUID());
    int major = 0, minor = 0;
    EXPECT_TRUE(handle.getProtocolVersion(major, minor));
    EXPECT_EQ(2013, major);
    EXPECT_EQ(1, minor);
}

TEST_F(ServerHandleTest, AsksTheNodeServiceForItsIdentityAndRoot) {
    ASSERT_TRUE(server_.running());
    VantrelServerHandle handle(server_.id().c_str());
    VantrelStr vendor, product;
    EXPECT_TRUE(handle.getVendor(vendor)) << handle.lastError();
    EXPECT_STREQ("Vantrel", vendor);
    EXPECT_TRUE(handle.getProduct(product)) << handle.lastError();
    EXPECT_STREQ("vantreld", product);
    int major = -1, minor = -1;
    EXPECT_TRUE(handle.getVersion(major, minor)) << handle.lastError();
    EXPECT_EQ(1, major);
    EXPECT_EQ(0, minor);

    VantrelNodeHandle root;
    ASSERT_TRUE(handle.getRootNode(root)) << handle.lastError();
    EXPECT_STRNE("", root.getNodeId().id());
    EXPECT_EQ(&handle, &root.getServer());
}

TEST_F(ServerHandleTest, DescriptionOfAServerThatIsDownFails) {
    VantrelServerHandle handle(
        ("127.0.0.1:" + std::to_string(client_testing::freeLoopbackPort())).c_str());
    VantrelServerInfo info;
    EXPECT_FALSE(handle.getInfo(info));
    EXPECT_STRNE("", handle.lastError());
    EXPECT_EQ(nullptr, handle.getHostName());
    EXPECT_EQ(nullptr, handle.getHostUUID());
    VantrelNodeHandle root;
    EXPECT_FALSE(handle.getRootNode(root));
}

TEST_F(ServerHandleTest, TranslatesPathsByTheServersRules) {
    ASSERT_TRUE(server_.running());
    VantrelServerHandle handle(server_.id().c_str());
    VantrelStr out;
    EXPECT_TRUE(handle.translatePath("/mnt/media/reel1", out, "alpha", "beta", VantrelOS::Linux,
                                     VantrelOS::Linux))
        << handle.lastError();
    EXPECT_STREQ("/Volumes/media/reel1", out);
    EXPECT_TRUE(handle.translatePath("/mnt/other/a", out, "delta", "epsilon", VantrelOS::Linux,
                                     VantrelOS::WindowsNT));
    EXPECT_STREQ("M:\\other\\a", out);

    VantrelStrList in, translated;
    in.push_back("/projects/x");
    in.push_back("/elsewhere");
    in.push_back("/mnt/media/y");
    EXPECT_TRUE(handle.translatePaths(in, translated, "alpha", "gamma", VantrelOS::Linux,
                                      VantrelOS::Linux));
    EXPECT_EQ((std::vector<std::string>{"/srv/projects/x", "/elsewhere", "/mnt/media/y"}),
              items(translated));

    // No hosts given: from the display name to the server's host name.
    EXPECT_TRUE(handle.translatePath("/studio/z", out, nullptr, nullptr, VantrelOS::Linux,
                                     VantrelOS::Linux))
        << handle.lastError();
    EXPECT_STREQ("/local/z", out);
}

TEST_F(ServerHandleTest, ReadsTheTranslationTables) {
    ASSERT_TRUE(server_.running());
    VantrelServerHandle handle(server_.id().c_str());
    int hosts = 0, types = 0, groups = 0;
    ASSERT_TRUE(handle.getNumHostTranslations(hosts)) << handle.lastError();
    ASSERT_TRUE(handle.getNumOsTypeTranslations(types)) << handle.lastError();
    ASSERT_TRUE(handle.getNumTranslationGroups(groups)) << handle.lastError();
    EXPECT_EQ(3, hosts);
    EXPECT_EQ(1, types);
    EXPECT_EQ(2, groups);

    VantrelServerHandle::HostTranslation host;
    ASSERT_TRUE(handle.getHostTranslation(1, host));
    EXPECT_STREQ("*", host.srcHost);
    EXPECT_STREQ("/projects", host.srcPath);
    EXPECT_STREQ("gamma", host.dstHost);
    EXPECT_STREQ("/srv/projects", host.dstPath);

    VantrelServerHandle::OsTypeTranslation type;
    ASSERT_TRUE(handle.getOsTypeTranslation(0, type));
    EXPECT_STREQ("Linux", type.srcType);
    EXPECT_STREQ("/mnt", type.srcPath);
    EXPECT_STREQ("WindowsNT", type.dstType);
    EXPECT_STREQ("M:", type.dstPath);

    VantrelServerHandle::TranslationGroup group;
    ASSERT_TRUE(handle.getTranslationGroup(0, group));
    EXPECT_STREQ("studio", group.name);
    EXPECT_EQ(2, group.number);
    EXPECT_EQ((std::vector<std::string>{"alpha", "beta"}), items(group.entries));
}

TEST_F(ServerHandleTest, TableIndexErrors) {
    ASSERT_TRUE(server_.running());
    VantrelServerHandle handle(server_.id().c_str());
    VantrelServerHandle::HostTranslation host;
    VantrelServerHandle::OsTypeTranslation type;
    VantrelServerHandle::TranslationGroup group;
    const struct {
        std::function<bool()> call;
        const char* error;
    } cases[] = {
        {[&] { return handle.getHostTranslation(-1, host); }, "Host Translation index out of range"},
        {[&] { return handle.getHostTranslation(3, host); }, "Host Translation index out of range"},
        {[&] { return handle.getOsTypeTranslation(-1, type); },
         "OS Type Translation index out of range"},
        {[&] { return handle.getOsTypeTranslation(1, type); },
         "OS Type Translation index out of range"},
        {[&] { return handle.getTranslationGroup(-1, group); },
         "Translation group index out of range"},
        {[&] { return handle.getTranslationGroup(2, group); },
         "Translation group index out of range"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.call()) << c.error;
        EXPECT_STREQ(c.error, handle.lastError());
    }
}

TEST_F(ServerHandleTest, TablesAreFetchedOncePerHandle) {
    ASSERT_TRUE(server_.running());
    VantrelServerHandle handle(server_.id().c_str());
    int count = 0;
    ASSERT_TRUE(handle.getNumHostTranslations(count));
    server_.kill();
    VantrelServerHandle::HostTranslation host;
    EXPECT_TRUE(handle.getHostTranslation(0, host)) << "answered from the handle's copy";
    EXPECT_STREQ("alpha", host.srcHost);
    VantrelServerHandle fresh(server_.id().c_str());
    EXPECT_FALSE(fresh.getNumHostTranslations(count)) << "a new handle asks the server";
}

// Handles of one server on several threads: their calls take turns on the one link, and each
// gets the reply to its own request.
TEST_F(ServerHandleTest, ThreadsShareTheLinkWithoutLosingReplies) {
    ASSERT_TRUE(server_.running());
    constexpr int THREADS = 6;
    constexpr int CALLS = 40;
    std::vector<int> good(THREADS, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            VantrelServerHandle handle(server_.id().c_str());
            for (int k = 0; k < CALLS; ++k) {
                const std::string tail = "/t" + std::to_string(t) + "/c" + std::to_string(k);
                VantrelStr out;
                VantrelNodeHandle root;
                if (handle.translatePath(("/mnt/media" + tail).c_str(), out, "alpha", "beta",
                                         VantrelOS::Linux, VantrelOS::Linux) &&
                    out == ("/Volumes/media" + tail).c_str() && handle.ping(10000) &&
                    handle.getRootNode(root))
                    ++good[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < THREADS; ++t) EXPECT_EQ(CALLS, good[t]) << "thread " << t;
    EXPECT_EQ(1, log_.count("Connected to server ["));
}

}  // namespace
