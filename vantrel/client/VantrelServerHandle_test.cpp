#include "vantrel/client/VantrelServerHandle.h"

#include <string>

#include <gtest/gtest.h>

#include "vantrel/client/VantrelClientAPI.h"
#include "vantrel/client/VantrelClientTestSupport.h"
#include "vantrel/client/VantrelDaemonInfo.h"
#include "vantrel/client/VantrelServerInfo.h"

namespace {

using vantrel_testing::ClientScope;
using vantrel_testing::FilterLevelScope;

const char NOT_INITIALISED[] = "Vantrel client library not initialised.";

// Whether the library is initialised, seen from a handle: binding needs the cache.
bool libraryInitialised() {
    VantrelServerHandle handle("");  // no address: a call fails at once, without traffic
    int count = 0;
    handle.getNumHostTranslations(count);
    return std::string(handle.lastError()) != NOT_INITIALISED;
}

TEST(VantrelClientInit, VersionIs2015) {
    int major = 0, minor = -1, maint = -1;
    VantrelClientGetVersion(major, minor, maint);
    EXPECT_EQ(2015, major);
    EXPECT_EQ(0, minor);
    EXPECT_EQ(0, maint);
}

TEST(VantrelClientInit, CallsAreCounted) {
    FilterLevelScope filterLevel;
    EXPECT_FALSE(libraryInitialised());
    VantrelClientUninit();  // unpaired: nothing happens
    ASSERT_TRUE(VantrelClientInit());
    if (!Vantrel::coEnvExists("ZR_MSG_LEVEL")) {
        EXPECT_EQ(Vantrel::CoMsg::USER_LEVEL, Vantrel::CoMsg::filterLevel());
    }
    ASSERT_TRUE(VantrelClientInit());
    VantrelClientUninit();
    EXPECT_TRUE(libraryInitialised());
    VantrelClientUninit();
    EXPECT_FALSE(libraryInitialised());
}

TEST(VantrelClientInit, ScopeObjectUninitialisesOnlyAfterItsOwnInit) {
    FilterLevelScope filterLevel;
    ASSERT_TRUE(VantrelClientInit());
    { VantrelClient never; }
    EXPECT_TRUE(libraryInitialised()) << "an object without init() must not uninitialise";
    {
        VantrelClient client;
        EXPECT_TRUE(client.init());
    }
    EXPECT_TRUE(libraryInitialised());
    VantrelClientUninit();
    EXPECT_FALSE(libraryInitialised());
}

TEST(VantrelServerHandle, NamesItsServerWithoutContactingIt) {
    VantrelServerHandle byDefault;
    EXPECT_STREQ("localhost", byDefault.getIdStr());
    VantrelServerHandle byId(VantrelServerId("10.0.0.1:7549"));
    EXPECT_STREQ("10.0.0.1", byId.getId().getIPAddr());
    EXPECT_EQ(7549, byId.getId().getPort());
    EXPECT_FALSE(byId.isConnected());
    VantrelServerHandle copy(byId);
    EXPECT_STREQ("10.0.0.1:7549", copy.getIdStr());
}

TEST(VantrelServerHandle, WithoutTheLibraryEveryCallFailsClearly) {
    VantrelServerHandle handle("10.0.0.1:7549");
    VantrelStr name;
    EXPECT_FALSE(handle.getDisplayName(name));
    EXPECT_STREQ(NOT_INITIALISED, handle.lastError());
    EXPECT_EQ(nullptr, handle.getHostName());
    EXPECT_FALSE(handle.ping(100));
    EXPECT_STREQ(NOT_INITIALISED, handle.lastError());
    EXPECT_STREQ("10.0.0.1:7549", handle.getIdStr()) << "the id still answers";
}

TEST(VantrelServerHandle, TranslationChecksHostNamesBeforeAnyCall) {
    ClientScope client;
    VantrelServerHandle handle("10.0.0.1:7549");  // nothing listens there: no call may be made
    VantrelStr out = "untouched";
    EXPECT_FALSE(handle.translatePath("/a", out, "", "beta", VantrelOS::Linux, VantrelOS::Linux));
    EXPECT_STREQ("Invalid source host name given", handle.lastError());
    EXPECT_FALSE(handle.translatePath("/a", out, "alpha", "", VantrelOS::Linux, VantrelOS::Linux));
    EXPECT_STREQ("Invalid destination host name given", handle.lastError());
    EXPECT_STREQ("untouched", out);
    EXPECT_FALSE(handle.isConnected());
}

TEST(VantrelServerHandle, EventsAreNotAvailableYet) {
    ClientScope client;
    VantrelServerHandle handle("10.0.0.1:7549");

    struct Handler : VantrelNodeEvent::Handler {
        void handleEvent(const VantrelNodeEvent&) override {}
    } handler;
    EXPECT_FALSE(handle.registerEventHandler(VantrelNodeId("n"), &handler));
    EXPECT_STREQ("Node events are not available in this version of the library.",
                 handle.lastError());
    EXPECT_TRUE(handle.unregisterEventHandler(VantrelNodeId("n"), &handler));
}

TEST(VantrelServerInfo, WrapsACopyOfTheRecord) {
    VantrelDaemonInfo record;
    record.setIPAddr(0, "10.0.0.5");
    record.setNodePort(7549);
    record.setDatabase("projects");
    record.setStorageId("store-9");
    record.setDisplayName("Studio A");
    VantrelServerInfo info(record);
    record.setDisplayName("changed");
    EXPECT_STREQ("Studio A", info.getDisplayName());

    const VantrelServerId id = info.getId();
    EXPECT_STREQ("10.0.0.5", id.getIPAddr());
    EXPECT_EQ(7549, id.getPort());
    EXPECT_STREQ("projects", id.getDB());
    EXPECT_STREQ("store-9", id.getStorageId());
    EXPECT_TRUE(info.isSameServer(id));

    VantrelServerInfo copy(info);
    EXPECT_TRUE(copy == info);
    copy.setProduct(nullptr);
    copy.setProductBuild(7);
    EXPECT_STREQ("", copy.getProduct());
    EXPECT_EQ(7, copy.getProductBuild());
    EXPECT_FALSE(copy == info);
    copy = info;
    EXPECT_TRUE(copy == info);
}

}  // namespace
