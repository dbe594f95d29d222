#include "vantrel/VantrelServerId.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(VantrelServerIdTest, ParsesTheTextForm) {
    struct Case {
        const char* text;
        const char* ipAddr;
        int port;
        const char* database;
    };
    const Case cases[] = {
        {"10.0.0.5:7549", "10.0.0.5", 7549, ""},
        {"studio:projects", "studio", 0, "projects"},
        {"10.0.0.5", "10.0.0.5", 0, ""},
        {"host:0", "host", 0, "0"},      // port 0 is no port: the rest names a database
        {"host:12ab", "host", 12, ""},   // leading digits only
        {"host:", "host", 0, ""},
        {":7549", "", 7549, ""},
        {"a:b:c", "a", 0, "b:c"},        // only the first ':' separates
        {"host:-3", "host", -3, ""},     // read as atoi() reads it
        {"host:99999999999", "host", 0, "99999999999"},  // too large for a port
        {"[::1]:7549", "::1", 7549, ""},                  // IPv6 addresses in brackets
        {"[fd00::5]", "fd00::5", 0, ""},
        {"[fd00::5]:projects", "fd00::5", 0, "projects"},
        {"[::1]x:7549", "[::1]x", 7549, ""},              // not a bracketed address
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const VantrelServerId id(c.text);
        EXPECT_STREQ(id.getIPAddr(), c.ipAddr);
        EXPECT_EQ(id.getPort(), c.port);
        EXPECT_STREQ(id.getDB(), c.database);
        // The text form is kept as written.
        EXPECT_STREQ(id.getId(), c.text);
    }
}

TEST(VantrelServerIdTest, SetIdResetsPortAndDatabaseButKeepsTheStorageId) {
    VantrelServerId id("host:7549");
    id.setStorageId("store-1");
    id.setId("other:projects");
    EXPECT_EQ(id.getPort(), 0);
    EXPECT_STREQ(id.getDB(), "projects");
    id.setId("third");
    EXPECT_STREQ(id.getIPAddr(), "third");
    EXPECT_STREQ(id.getDB(), "");
    EXPECT_STREQ(id.getStorageId(), "store-1");
    id.setId(nullptr);
    EXPECT_STREQ(id.getIPAddr(), "");
    EXPECT_STREQ(id.getStorageId(), "store-1");
}

TEST(VantrelServerIdTest, SetIdAcceptsTextsThatPointIntoTheIdItself) {
    VantrelServerId id("studio:host2:9000");
    id.setId(id.getDB());  // "host2:9000", freed while it is parsed unless copied first
    EXPECT_STREQ(id.getIPAddr(), "host2");
    EXPECT_EQ(id.getPort(), 9000);
    id.setId(id.getId());
    EXPECT_STREQ(id.getId(), "host2:9000");
    id.setId(id.getIPAddr());
    EXPECT_STREQ(id.getId(), "host2");
}

TEST(VantrelServerIdTest, BuildsTheTextFormFromItsFields) {
    struct Case {
        const char* name;
        VantrelServerId id;
        const char* text;
    };
    VantrelServerId portSetToZero(7549, "host");
    portSetToZero.setPort(0);
    VantrelServerId addressChanged("host:7549");
    addressChanged.setIPAddr("other");
    VantrelServerId databaseSet("host:7549");
    databaseSet.setDB("projects");
    VantrelServerId storageSet("host");
    storageSet.setStorageId("store-1");

    const Case cases[] = {
        {"address and port", VantrelServerId(7549, "host"), "host:7549"},
        {"address, no port", VantrelServerId(0, "host"), "host"},
        {"database", VantrelServerId("projects", "host", 0), "host:projects"},
        {"database wins over port", VantrelServerId("projects", "host", 7549), "host:projects"},
        {"neither", VantrelServerId(nullptr, "host", 0), "host"},
        {"port set to 0", portSetToZero, "host:0"},
        {"address changed", addressChanged, "other:7549"},
        {"database set", databaseSet, "host:projects"},
        {"storage id is no part of it", storageSet, "host"},
        {"IPv6 address and port", VantrelServerId(7549, "::1"), "[::1]:7549"},
        {"IPv6 address alone", VantrelServerId(0, "fd00::5"), "[fd00::5]"},
        {"IPv6 address and database", VantrelServerId("projects", "::1", 0), "[::1]:projects"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(c.id.getId(), c.text);
    }
}

TEST(VantrelServerIdTest, TheBuiltTextFormIsCutAt1023Characters) {
    const std::string longAddress(2000, 'h');
    const VantrelServerId id(7549, longAddress.c_str());
    EXPECT_EQ(std::string(id.getId()), longAddress.substr(0, 1023));
}

TEST(VantrelServerIdTest, EqualityIgnoresHowTheTextFormWasWritten) {
    VantrelServerId withStorage("host:7549");
    withStorage.setStorageId("s");
    VantrelServerId sameStorage(7549, "host");
    sameStorage.setStorageId("s");

    EXPECT_TRUE(VantrelServerId("host:12ab") == VantrelServerId("host:12"));
    EXPECT_TRUE(VantrelServerId("host:7549") == VantrelServerId(7549, "host"));
    EXPECT_TRUE(VantrelServerId("host:projects") == VantrelServerId("projects", "host", 0));
    EXPECT_TRUE(VantrelServerId("host:") == VantrelServerId("host"));
    EXPECT_TRUE(withStorage == sameStorage);

    EXPECT_FALSE(VantrelServerId("host:7549") == VantrelServerId("host:7550"));
    EXPECT_FALSE(VantrelServerId("host:7549") == VantrelServerId("HOST:7549"));
    EXPECT_FALSE(VantrelServerId("host:0") == VantrelServerId("host"));  // database "0"
    EXPECT_FALSE(withStorage == VantrelServerId("host:7549"));
}

TEST(VantrelServerIdTest, ValidWhenAnyPartNamesSomething) {
    VantrelServerId storageOnly;
    storageOnly.setStorageId("store-1");
    VantrelServerId portOnly;
    portOnly.setPort(7549);
    VantrelServerId databaseOnly;
    databaseOnly.setDB("projects");

    EXPECT_FALSE(VantrelServerId().isValid());
    EXPECT_FALSE(VantrelServerId(static_cast<const char*>(nullptr)).isValid());
    EXPECT_FALSE(VantrelServerId("").isValid());
    EXPECT_TRUE(storageOnly.isValid());
    EXPECT_TRUE(portOnly.isValid());
    EXPECT_TRUE(databaseOnly.isValid());
    EXPECT_TRUE(VantrelServerId("host").isValid());
    EXPECT_TRUE(VantrelServerId(":").isValid());  // only a text form
}

TEST(VantrelServerIdTest, CopiesTakeEveryField) {
    VantrelServerId original("host:projects");
    original.setStorageId("store-1");
    VantrelServerId copy(original);
    VantrelServerId assigned;
    assigned = original;
    original.setId("elsewhere:1");
    original.setStorageId("store-2");

    for (const VantrelServerId* id : {&copy, &assigned}) {
        EXPECT_STREQ(id->getId(), "host:projects");
        EXPECT_STREQ(id->getIPAddr(), "host");
        EXPECT_STREQ(id->getDB(), "projects");
        EXPECT_STREQ(id->getStorageId(), "store-1");
        EXPECT_EQ(id->getPort(), 0);
    }
}

}  // namespace
