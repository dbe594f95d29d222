#include "rcApi/rcConnectionInfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "rcApi/rcLocalFacts.h"
#include "testing/MessageCapture.h"

namespace Vantrel {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

const char CHECKSUM_FAILED[] = "checksum failed";

// The example record: user, host and address "abc", no group, no UUID, empty password, time
// stamp 0, serial 0.
Fields exampleFields(const char* crc) {
    return {{"StrUserName", "abc"},  {"StrPassword", ""},      {"StrProcessName", "p"},
            {"IntProcessId", "1"},   {"StrHostName", "abc"},   {"StrIpAddr", "abc"},
            {"IntSerial", "0"},      {"IntTimestamp", "0"},    {"IntCRC", crc}};
}

std::string streamOf(const Fields& fields) {
    rcAttrStream stream;
    for (const auto& field : fields) stream.addStringValue(field.first.c_str(), field.second.c_str());
    return stream.getStreamStr();
}

// Facts of a made-up process, so that the tests do not depend on the machine.
class FixedFacts : public rcLocalFacts {
public:
    bool getUserName(std::string& out) const override { return set(out, "editor"); }
    bool getGroupName(std::string& out) const override { return set(out, "post"); }
    bool getHostName(std::string& out) const override { return set(out, "suite-3"); }
    bool getHostUUID(std::string& out) const override {
        return set(out, "1b4e28ba-2fa1-11d2-883f-0016d3cca427");
    }
    bool getProcessName(std::string& out) const override { return set(out, "grader"); }
    bool getProcessId(int& out) const override {
        out = 4242;
        return true;
    }

private:
    static bool set(std::string& out, const char* value) {
        out = value;
        return true;
    }
};

class ConnectionInfo : public ::testing::Test {
protected:
    void SetUp() override {
        CoMsg::setFilterLevel(CoMsg::NOTICE_LEVEL);
        rcLocalFacts::install(&facts);
    }
    void TearDown() override { rcLocalFacts::install(nullptr); }

    // A record filled from the fixed facts, as its attribute-stream fields.
    Fields filledFields() {
        rcConnectionInfo info;
        info.fillInfo(nullptr);
        return fieldsOf(info.toAttrStream());
    }

    static Fields fieldsOf(const std::string& text) {
        rcAttrStream::ConstIterator it{rcAttrStream(text)};
        const std::string& data = it.getData();
        Fields fields;
        unsigned int namePos, nameLen, valuePos, valueLen;
        while (it.next(namePos, nameLen, valuePos, valueLen))
            fields.emplace_back(data.substr(namePos, nameLen), data.substr(valuePos, valueLen));
        return fields;
    }

    static void replace(Fields& fields, const std::string& name, const std::string& value) {
        for (auto& field : fields)
            if (field.first == name) field.second = value;
    }

    FixedFacts facts;
    testing::MessageCapture capture;
};

TEST_F(ConnectionInfo, ChecksumOfTheExampleRecordIs0x4A219138) {
    EXPECT_TRUE(rcConnectionInfo(streamOf(exampleFields("1243713848")).c_str(), nullptr).isValid());
    EXPECT_FALSE(capture.contains(CHECKSUM_FAILED));

    EXPECT_FALSE(rcConnectionInfo(streamOf(exampleFields("1243713849")).c_str(), nullptr).isValid());
    EXPECT_TRUE(capture.contains("Unable to establish connection [0]: checksum failed."));
}

TEST_F(ConnectionInfo, WritesItsKeysInOrderWithOptionalGroupAndUUID) {
    const Fields fields = filledFields();
    std::vector<std::string> names;
    for (const auto& field : fields) names.push_back(field.first);
    EXPECT_EQ((std::vector<std::string>{"StrUserName", "StrGroupName", "StrHostUUID",
                                        "StrPassword", "StrProcessName", "IntProcessId",
                                        "StrHostName", "StrIpAddr", "IntSerial", "IntTimestamp",
                                        "IntCRC"}),
              names);

    rcConnectionInfo bare;  // nothing filled: group and UUID unknown and not written
    const Fields bareFields = fieldsOf(bare.toAttrStream());
    EXPECT_EQ(9u, bareFields.size());
    EXPECT_STREQ(bare.toAttrStream(), bare.toAttrStream()) << "the cache is emptied first";
}

TEST_F(ConnectionInfo, FilledRecordIsAcceptedWhateverTheOrderOfItsKeys) {
    Fields fields = filledFields();
    for (int round = 0; round < 3; ++round) {
        const rcConnectionInfo parsed(streamOf(fields).c_str(), nullptr);
        EXPECT_TRUE(parsed.isValid()) << "round " << round;
        EXPECT_STREQ("editor", parsed.getUserName());
        EXPECT_STREQ("post", parsed.getGroupName());
        EXPECT_STREQ("suite-3", parsed.getHostName());
        EXPECT_STREQ("1b4e28ba-2fa1-11d2-883f-0016d3cca427", parsed.getHostUUID());
        EXPECT_STREQ("grader", parsed.getProcessName());
        EXPECT_EQ(4242, parsed.getProcessId());
        std::reverse(fields.begin(), fields.end());
        if (round == 1) std::rotate(fields.begin(), fields.begin() + 4, fields.end());
    }
}

TEST_F(ConnectionInfo, ChecksumCoversTheAddressButNotTheProcess) {
    Fields process = filledFields();
    replace(process, "StrProcessName", "impostor");
    replace(process, "IntProcessId", "1");
    EXPECT_TRUE(rcConnectionInfo(streamOf(process).c_str(), nullptr).isValid());

    Fields address = filledFields();
    replace(address, "StrIpAddr", "10.9.9.9");
    EXPECT_FALSE(rcConnectionInfo(streamOf(address).c_str(), nullptr).isValid());
    EXPECT_TRUE(capture.contains(CHECKSUM_FAILED));
}

TEST_F(ConnectionInfo, ChecksumAbove0x7FFFFFFFTravelsAsANegativeNumber) {
    rcConnectionInfo info;
    info.fillInfo(nullptr);
    std::string crc;
    for (unsigned int serial = 0; serial < 64; ++serial) {
        info.setSerial(serial);
        crc = fieldsOf(info.toAttrStream()).back().second;
        if (crc[0] == '-') break;
    }
    ASSERT_EQ('-', crc[0]) << "some serial gives a checksum with its top bit set";
    EXPECT_TRUE(rcConnectionInfo(info.toAttrStream(), nullptr).isValid());
}

TEST_F(ConnectionInfo, MissingFieldsKeepEmptyValuesAndGroupUndefined) {
    capture.clear();
    CoMsg::setFilterLevel(CoMsg::DEBUGGING_LEVEL);
    const rcConnectionInfo parsed("StrUserName 3 abc", nullptr);
    EXPECT_FALSE(parsed.isValid());
    EXPECT_STREQ("undefined", parsed.getGroupName());
    EXPECT_STREQ("", parsed.getHostName());
    EXPECT_TRUE(capture.contains("Syntax error while parsing connection information"));

    const rcConnectionInfo garbage("\xff junk 99999999999 x", nullptr);
    EXPECT_FALSE(garbage.isValid());
}

TEST_F(ConnectionInfo, SerialsAreFreshAndClientInfoKeepsTheOwnSerial) {
    rcConnectionInfo first, second;
    EXPECT_EQ(first.getSerial() + 1, second.getSerial());

    rcConnectionInfo sender;
    sender.fillInfo(nullptr);
    rcConnectionInfo received(sender.toAttrStream(), nullptr);
    rcConnectionInfo kept;
    kept.setTimestamp(1700000000);
    kept.setClientInfo(received, nullptr);
    EXPECT_TRUE(kept.isValid());
    EXPECT_EQ(second.getSerial() + 2, kept.getSerial());
    EXPECT_EQ(1700000000, kept.getTimestamp());
    EXPECT_STREQ("editor", kept.getUserName());

    capture.clear();
    kept.logConnection();
    EXPECT_EQ((std::vector<std::string>{"Connection [" + std::to_string(kept.getSerial()) +
                                        "] [editor/post] [suite-3/0.0.0.0] [grader/4242] "}),
              capture.texts());
}

TEST(ConnectionInfoDefaults, FillsFromTheRealProcess) {
    rcConnectionInfo info;
    info.fillInfo(nullptr);
    EXPECT_TRUE(info.isValid());
    EXPECT_GT(info.getProcessId(), 0);
    EXPECT_STRNE("undefined", info.getHostName());
    EXPECT_TRUE(rcConnectionInfo(info.toAttrStream(), nullptr).isValid());
}

}  // namespace
}  // namespace Vantrel
