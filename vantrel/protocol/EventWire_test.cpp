// The event wire forms, pinned byte for byte, and their readers on hostile text.
#include "vantrel/protocol/EventWire.h"

#include <gtest/gtest.h>

#include <string>

#include "rcApi/rcMessage.h"

namespace {

using VantrelEventWire::NodeEvent;
using VantrelEventWire::Registration;

TEST(EventWire, RegistrationIsPortConnectionSubjectInThatOrder) {
    EXPECT_EQ("Port 5 41000Connection 1 7Subject 6 clip 3",
              VantrelEventWire::encodeRegistration({41000, 7, "clip 3"}));
    EXPECT_EQ("Port 4 7549Connection 2 12Subject 0 ",
              VantrelEventWire::encodeRegistration({7549, 12, ""}));
}

TEST(EventWire, NodeEventStreamAndItsRequestLine) {
    const std::string stream =
        VantrelEventWire::encodeNodeEvent({"host", "ChildCreated", "Child 6 clip 3"});
    EXPECT_EQ("NodeId 4 hostType 12 ChildCreatedDetails 14 Child 6 clip 3", stream);

    // The whole request a server sends to connection 3 of a client's event port.
    Vantrel::rcCommand request;
    request.setMode(0);
    request.setObjectId(3);
    request.setMethod(VantrelEventWire::NODE_EVENT_METHOD);
    request.setArgs(stream.c_str());
    EXPECT_EQ("sync 3 NodeEvent NodeId 4 hostType 12 ChildCreatedDetails 14 Child 6 clip 3\n",
              request.toString());
}

TEST(EventWire, DetailsAreAttributesInOrder) {
    EXPECT_EQ("Child 6 clip 3Name 8 Reel One",
              VantrelEventWire::encodeDetails({{"Child", "clip 3"}, {"Name", "Reel One"}}));
    EXPECT_EQ("", VantrelEventWire::encodeDetails({}));
}

TEST(EventWire, ValuesKeepEveryByte) {
    const std::string details("Name 3 a\0b", 10);
    const std::string stream = VantrelEventWire::encodeNodeEvent({"n", "T", details});
    EXPECT_EQ(std::string("NodeId 1 nType 1 TDetails 10 Name 3 a\0b", 39), stream);
    NodeEvent read;
    std::string missing;
    ASSERT_TRUE(VantrelEventWire::decodeNodeEvent(stream, read, missing));
    EXPECT_EQ(details, read.details);
}

TEST(EventWire, NodeEventReadsWhatAServerWrote) {
    NodeEvent read;
    std::string missing;
    ASSERT_TRUE(VantrelEventWire::decodeNodeEvent(
        "Type 7 RenamedNodeId 6 clip 3Details 11 Name 4 Beta", read, missing));
    EXPECT_EQ("clip 3", read.nodeId);
    EXPECT_EQ("Renamed", read.type);
    EXPECT_EQ("Name 4 Beta", read.details);
}

TEST(EventWire, NodeEventNamesTheFirstMissingKey) {
    const struct {
        const char* text;
        const char* missing;
    } cases[] = {
        {"", "NodeId"},
        {"Type 1 TDetails 0 ", "NodeId"},
        {"NodeId 1 nDetails 0 ", "Type"},
        {"NodeId 1 nType 1 T", "Details"},
        {"NodeId 1 nType 1 TDetails -3 x", "Details"},  // malformed length: the stream ends
        {"NodeId 999999999999 n", "NodeId"},
    };
    for (const auto& c : cases) {
        NodeEvent read;
        std::string missing;
        EXPECT_FALSE(VantrelEventWire::decodeNodeEvent(c.text, read, missing)) << c.text;
        EXPECT_EQ(c.missing, missing) << c.text;
    }
}

TEST(EventWire, RegistrationReadingRefusesWhatIsNotANumber) {
    const struct {
        const char* text;
        const char* error;  // null: accepted
    } cases[] = {
        {"Port 5 41000Connection 1 7Subject 6 clip 3", nullptr},
        {"Port 5 41000Connection 2 -1Subject 0 ", nullptr},
        {"Connection 1 7Subject 0 ", "Missing 'Port' parameter"},
        {"Port 1 1Subject 0 ", "Missing 'Connection' parameter"},
        {"Port 1 1Connection 1 1", "Missing 'Subject' parameter"},
        {"Port 3 12xConnection 1 1Subject 0 ", "Invalid 'Port' value: '12x'"},
        {"Port 0 Connection 1 1Subject 0 ", "Invalid 'Port' value: ''"},
        {"Port 1 1Connection 11 99999999999Subject 0 ",
         "Invalid 'Connection' value: '99999999999'"},
        {"Port 1 1Connection 1 -Subject 0 ", "Invalid 'Connection' value: '-'"},
    };
    for (const auto& c : cases) {
        Registration read;
        std::string error;
        EXPECT_EQ(c.error == nullptr, VantrelEventWire::decodeRegistration(c.text, read, error))
            << c.text;
        EXPECT_EQ(c.error == nullptr ? "" : c.error, error) << c.text;
    }
    Registration read;
    std::string error;
    ASSERT_TRUE(VantrelEventWire::decodeRegistration(
        VantrelEventWire::encodeRegistration({65535, 2147483647, "a b"}), read, error));
    EXPECT_EQ(65535, read.port);
    EXPECT_EQ(2147483647, read.connection);
    EXPECT_EQ("a b", read.subject);
}

}  // namespace
