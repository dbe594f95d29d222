#include "vantrel/protocol/VantrelServerListPayload.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/MessageCapture.h"

namespace {

typedef VantrelServerListPayload Payload;
typedef std::vector<std::string> Records;

TEST(ServerListPayloadTest, EncodesCountThenNodesByIndex) {
    EXPECT_EQ("Count 1 0", Payload::encode({}));
    EXPECT_EQ("Count 1 1Node0 0 ", Payload::encode({""}));
    EXPECT_EQ("Count 1 2Node0 7 IP0 1 aNode1 7 IP0 1 b", Payload::encode({"IP0 1 a", "IP0 1 b"}));
}

TEST(ServerListPayloadTest, DecodesWhatItEncodes) {
    const Records records = {"IP0 1 a", "", "Database 5 QLXFS"};
    EXPECT_EQ(records, Payload::decode(Payload::encode(records)));
}

TEST(ServerListPayloadTest, NoCountOrZeroMeansNoNodes) {
    Vantrel::testing::MessageCapture capture;
    for (const char* text : {"", "Node0 1 x", "Count 1 0Node0 1 x", "Count 2 -1Node0 1 x"})
        EXPECT_TRUE(Payload::decode(text).empty()) << text;
}

TEST(ServerListPayloadTest, AMissingNodeIsReportedAndSkipped) {
    Vantrel::testing::MessageCapture capture;
    const Records records = Payload::decode("Count 1 3Node0 1 aNode2 1 c");
    EXPECT_EQ((Records{"a", "c"}), records);
    EXPECT_TRUE(capture.contains("Stream is missing node 1 of 3."));
}

TEST(ServerListPayloadTest, MissingRunsAreReportedOnceWhateverTheCount) {
    Vantrel::testing::MessageCapture capture;
    const Records records = Payload::decode("Count 10 2147483647Node5 1 fNode01 1 xNode-1 1 y");
    EXPECT_EQ((Records{"f"}), records);
    EXPECT_TRUE(capture.contains("Stream is missing nodes 0 to 4 of 2147483647."));
    EXPECT_TRUE(capture.contains("Stream is missing nodes 6 to 2147483646 of 2147483647."));
}

TEST(ServerListPayloadTest, NodesAtOrPastTheCountAreIgnored) {
    Vantrel::testing::MessageCapture capture;
    EXPECT_EQ((Records{"a"}), Payload::decode("Count 1 1Node0 1 aNode1 1 b"));
}

}  // namespace
