#include "vantrel/protocol/VantrelDiscoveryPacket.h"

#include <gtest/gtest.h>

#include <string>

namespace {

typedef VantrelDiscoveryPacket Packet;

TEST(DiscoveryPacketTest, EncodesVersionTypeAndDataInOrder) {
    EXPECT_EQ("Version 1 1Type 2 74Data 0 ", Packet::encode(Packet::FIND_SERVERS, ""));
    EXPECT_EQ("Version 1 1Type 2 74Data 16 Database 5 QLXFS",
              Packet::encode(Packet::FIND_SERVERS, Packet::findServersPayload("QLXFS")));
    EXPECT_EQ("Version 1 1Type 2 73Data 7 IP0 1 x",
              Packet::encode(Packet::REMOVE_SERVER, "IP0 1 x"));
    EXPECT_EQ("", Packet::findServersPayload(nullptr));
    EXPECT_EQ("", Packet::findServersPayload(""));
}

TEST(DiscoveryPacketTest, NamesTheTypes) {
    EXPECT_STREQ("INVALID", Packet::typeName(0));
    EXPECT_STREQ("START_OF_SERVICES", Packet::typeName(70));
    EXPECT_STREQ("DISCOVER_SERVERS", Packet::typeName(71));
    EXPECT_STREQ("DISCOVER_SERVERS_REPLY", Packet::typeName(72));
    EXPECT_STREQ("REMOVE_SERVER", Packet::typeName(73));
    EXPECT_STREQ("FIND_SERVERS", Packet::typeName(74));
    EXPECT_STREQ("END_OF_SERVICES", Packet::typeName(75));
    EXPECT_STREQ("UNKNOWN", Packet::typeName(76));
    EXPECT_STREQ("UNKNOWN", Packet::typeName(-1));
}

TEST(DiscoveryPacketTest, DecodesAnyVersionButZero) {
    const std::string text = "Version 1 2Type 2 71Data 8 IP0 1 x";
    Packet::Decoded packet;
    std::string error;
    ASSERT_TRUE(Packet::decode(text.data(), text.size(), packet, error)) << error;
    EXPECT_EQ(2, packet.version);
    EXPECT_EQ(Packet::DISCOVER_SERVERS, packet.type);
    EXPECT_EQ("IP0 1 x", packet.payload);
}

TEST(DiscoveryPacketTest, RefusesMalformedPacketsWithTheReason) {
    struct Case {
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        {"Type 2 71Data 0 ", "Request is lacking a version tag: Type 2 71Data 0 ."},
        {"Version 1 0Type 2 71Data 0 ", "Request's version is incompatible: 0"},
        {"Version 1 xType 2 71Data 0 ", "Request's version is incompatible: 0"},
        {"Version 1 1Data 0 ", "Request is lacking a type tag: Version 1 1Data 0 ."},
        {"Version 1 1Type 2 69Data 0 ", "Unknown request type: 69."},
        {"Version 1 1Type 2 76Data 0 ", "Unknown request type: 76."},
        {"Version 1 1Type 2 71", "Request is lacking data: Version 1 1Type 2 71."},
        {"", "Request is lacking a version tag: ."},
        {"Version 99999999999 1", "Request is lacking a version tag: Version 99999999999 1."},
    };
    for (const Case& c : cases) {
        Packet::Decoded packet;
        std::string error;
        EXPECT_FALSE(Packet::decode(c.text.data(), c.text.size(), packet, error)) << c.text;
        EXPECT_EQ(c.error, error) << c.text;
    }
}

TEST(DiscoveryPacketTest, TruncatedDataIsCutAtTheEnd) {
    const std::string text = "Version 1 1Type 2 72Data 500 IP0 1 x";
    Packet::Decoded packet;
    std::string error;
    ASSERT_TRUE(Packet::decode(text.data(), text.size(), packet, error));
    EXPECT_EQ("IP0 1 x", packet.payload);
}

}  // namespace
