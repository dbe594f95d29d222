#include "vantrel/VantrelServerHandle.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "vantrel/VantrelClientAPI.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/VantrelServerInfo.h"

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

// A copy of an initialised object holds an initialisation of its own: whichever goes first,
// the other still finds the library initialised, and the last one uninitialises it.
TEST(VantrelClientInit, CopiesHoldTheirOwnInitialisation) {
    FilterLevelScope filterLevel;
    for (const bool copyGoesFirst : {true, false}) {
        SCOPED_TRACE(copyGoesFirst ? "copy destroyed first" : "original destroyed first");
        std::unique_ptr<VantrelClient> original(new VantrelClient);
        ASSERT_TRUE(original->init());
        std::unique_ptr<VantrelClient> copy(new VantrelClient(*original));
        (copyGoesFirst ? copy : original).reset();
        EXPECT_TRUE(libraryInitialised());
        (copyGoesFirst ? original : copy).reset();
        EXPECT_FALSE(libraryInitialised());
    }
}

TEST(VantrelClientInit, AssignmentTakesOrGivesUpAnInitialisation) {
    FilterLevelScope filterLevel;
    {
        VantrelClient initialised, plain, target;
        ASSERT_TRUE(initialised.init());
        EXPECT_TRUE(initialised.init()) << "a second init() of one object counts once";
        target = initialised;  // takes one of its own
        initialised = plain;   // gives its own up
        EXPECT_TRUE(libraryInitialised());
        const VantrelClient& itself = target;
        target = itself;
        EXPECT_TRUE(libraryInitialised());
        target = plain;
        EXPECT_FALSE(libraryInitialised());
        target = initialised;  // neither holds one: nothing to take
        EXPECT_FALSE(libraryInitialised());
    }
    EXPECT_FALSE(libraryInitialised());
    VantrelClientUninit();  // nothing left to undo
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
