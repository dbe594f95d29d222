#include "network/CoNetworkConfig.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/MessageCapture.h"

namespace Vantrel {
namespace {

const char VARIABLE[] = "VANTREL_NETWORK_CFG";
const char VALID_UUID[] = "1b4e28ba-2fa1-11d2-883f-0016d3cca427";

// A configuration of its own for each test, reading `defaultFile` unless the variable names
// another file.
class TestNetworkConfig : public CoNetworkConfig {
public:
    explicit TestNetworkConfig(const std::string& defaultFile)
        : CoNetworkConfig(defaultFile.c_str()) {}
};

class CoNetworkConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* value = getenv(VARIABLE)) savedVariable_ = value, hadVariable_ = true;
        unsetenv(VARIABLE);
        ASSERT_NE(nullptr, mkdtemp(dir_));
    }

    void TearDown() override {
        for (const std::string& path : files_) std::remove(path.c_str());
        rmdir(dir_);
        if (hadVariable_) setenv(VARIABLE, savedVariable_.c_str(), 1);
        else unsetenv(VARIABLE);
    }

    std::string path(const char* name) const { return std::string(dir_) + "/" + name; }

    std::string writeFile(const char* name, const std::string& contents) {
        const std::string filePath = path(name);
        std::ofstream(filePath, std::ios::binary) << contents;
        files_.push_back(filePath);
        return filePath;
    }

    testing::MessageCapture messages_;

private:
    char dir_[32] = "/tmp/CoNetworkConfigTest.XXXXXX";
    std::vector<std::string> files_;
    std::string savedVariable_;
    bool hadVariable_ = false;
};

// The example configuration of the documentation, with the usual mistakes in it.
const char SAMPLE[] =
    "Port = 1\n"
    "# discovery of servers\n"
    "[SelfDiscovery]\n"
    "Port = 7600\n"
    "Scope = 239.1.2.3\n"
    "TTL = 4\n"
    "\n"
    "; interfaces by use\n"
    "[Interfaces]\n"
    "Data = eth0 , , lo\n"
    "Metadata=eth1\n"
    "[Local]\n"
    "DisplayName = Edit Bay 3\n";

TEST_F(CoNetworkConfigTest, WithoutAFileEveryGetterGivesItsDefault) {
    TestNetworkConfig config(path("absent.cfg"));

    unsigned int port = 7555, ttl = 1;
    std::string scope = "224.0.0.1", name = "stale";
    std::vector<std::string> data = {"stale"}, metadata = {"stale"}, multicast = {"stale"};
    EXPECT_TRUE(config.getSelfDiscoveryPort(port));
    EXPECT_TRUE(config.getSelfDiscoveryScope(scope));
    EXPECT_TRUE(config.getSelfDiscoveryTTL(ttl));
    EXPECT_TRUE(config.getDataInterfaces(data));
    EXPECT_TRUE(config.getMetadataInterfaces(metadata));
    EXPECT_TRUE(config.getMulticastInterfaces(multicast));
    EXPECT_TRUE(config.getDisplayName(name));
    EXPECT_EQ(7555u, port);
    EXPECT_EQ("224.0.0.1", scope);
    EXPECT_EQ(1u, ttl);
    EXPECT_TRUE(data.empty());
    EXPECT_TRUE(metadata.empty());
    EXPECT_TRUE(multicast.empty());
    EXPECT_EQ("", name);
    EXPECT_TRUE(messages_.messages().empty());
}

TEST_F(CoNetworkConfigTest, MissingUUIDIsAQuietFailure) {
    TestNetworkConfig config(path("absent.cfg"));
    std::string uuid = "kept";
    EXPECT_FALSE(config.getUUID(uuid));
    EXPECT_EQ("kept", uuid);
    EXPECT_EQ("No host UUID configured. Please check " + path("absent.cfg") + ".",
              config.getLastError());
    EXPECT_TRUE(messages_.messages().empty());
    EXPECT_FALSE(config.getSilentMode());  // restored

    config.setSilentMode(true);
    EXPECT_FALSE(config.getUUID(uuid));
    EXPECT_TRUE(config.getSilentMode());
}

TEST_F(CoNetworkConfigTest, ProcessWideInstanceReadsTheSystemFile) {
    if (access(CFG_FILE_NAME, F_OK) == 0) GTEST_SKIP() << CFG_FILE_NAME << " exists here";
    CoNetworkConfig& config = CoNetworkConfig::getInstance();
    EXPECT_EQ(&config, &CoNetworkConfig::getInstance());
    unsigned int port = 7555;
    EXPECT_TRUE(config.getSelfDiscoveryPort(port));
    EXPECT_EQ(7555u, port);
    std::string uuid;
    EXPECT_FALSE(config.getUUID(uuid));
    EXPECT_EQ("No host UUID configured. Please check /usr/maltrove/cfg/network.cfg.",
              config.getLastError());
}

TEST_F(CoNetworkConfigTest, ReadsTheFileAndWarnsAboutBadLines) {
    const std::string file = writeFile("network.cfg", SAMPLE);
    TestNetworkConfig config(file);

    unsigned int port = 7555, ttl = 1;
    std::string scope = "224.0.0.1", name;
    std::vector<std::string> data, metadata, multicast = {"stale"};
    config.getSelfDiscoveryPort(port);
    config.getSelfDiscoveryScope(scope);
    config.getSelfDiscoveryTTL(ttl);
    config.getDataInterfaces(data);
    config.getMetadataInterfaces(metadata);
    config.getMulticastInterfaces(multicast);
    config.getDisplayName(name);

    EXPECT_EQ(7600u, port);
    EXPECT_EQ("239.1.2.3", scope);
    EXPECT_EQ(4u, ttl);
    EXPECT_EQ((std::vector<std::string>{"eth0", "", "lo"}), data);
    EXPECT_EQ(std::vector<std::string>{"eth1"}, metadata);
    EXPECT_TRUE(multicast.empty());
    EXPECT_EQ("Edit Bay 3", name);

    // Posted once, when the file is read, at warning level.
    const std::vector<CoMsg> posted = messages_.messages();
    ASSERT_EQ(1u, posted.size());
    EXPECT_EQ(CoMsg::WARNING_LEVEL, posted[0].level());
    EXPECT_EQ("Invalid syntax: Not in section. Ignoring line 1 of '" + file + "'",
              posted[0].text());
}

TEST_F(CoNetworkConfigTest, PortThatIsNotANumberKeepsTheDefault) {
    TestNetworkConfig config(writeFile("network.cfg", "[SelfDiscovery]\nPort = any\nTTL = -2\n"));
    unsigned int port = 7555, ttl = 1;
    config.getSelfDiscoveryPort(port);
    config.getSelfDiscoveryTTL(ttl);
    EXPECT_EQ(7555u, port);
    EXPECT_EQ(1u, ttl);
}

TEST_F(CoNetworkConfigTest, UUIDMustBeValid) {
    struct Case {
        const char* configured;
        bool accepted;
        const char* posted;  // null: nothing
    };
    const Case cases[] = {
        {VALID_UUID, true, nullptr},
        {"1b4e28ba-2fa1-11d2-883f", false, "Invalid UUID '1b4e28ba-2fa1-11d2-883f'"},
        {"{1b4e28ba-2fa1-11d2-883f-0016d3cca427}", false,
         "Invalid UUID '{1b4e28ba-2fa1-11d2-883f-0016d3cca427}'"},
        {"%s%n", false, "Invalid UUID '%s%n'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.configured);
        messages_.clear();
        TestNetworkConfig config(
            writeFile("uuid.cfg", std::string("[Local]\nUUID = ") + c.configured + "\n"));
        std::string uuid = "kept";
        EXPECT_EQ(c.accepted, config.getUUID(uuid));
        EXPECT_EQ(c.accepted ? c.configured : "kept", uuid);
        if (c.posted == nullptr) {
            EXPECT_TRUE(messages_.messages().empty());
            continue;
        }
        EXPECT_EQ(c.posted, config.getLastError());
        const std::vector<CoMsg> posted = messages_.messages();
        ASSERT_EQ(1u, posted.size());
        EXPECT_EQ(CoMsg::ERROR_LEVEL, posted[0].level());
        EXPECT_EQ(c.posted, posted[0].text());
    }
}

TEST_F(CoNetworkConfigTest, VariableNamesTheFileToRead) {
    const std::string systemFile = writeFile("system.cfg", "[Local]\nDisplayName = system\n");
    const std::string ownFile =
        writeFile("own.cfg", std::string("[Local]\nDisplayName = own\nUUID = ") + VALID_UUID);
    setenv(VARIABLE, ownFile.c_str(), 1);
    TestNetworkConfig config(systemFile);
    std::string name, uuid;
    config.getDisplayName(name);
    EXPECT_EQ("own", name);
    EXPECT_TRUE(config.getUUID(uuid));
    EXPECT_EQ(VALID_UUID, uuid);
}

TEST_F(CoNetworkConfigTest, VariableNamingAMissingFileWarnsAndGivesDefaults) {
    const std::string systemFile = writeFile("system.cfg", "[Local]\nDisplayName = system\n");
    const std::string missing = path("missing.cfg");
    setenv(VARIABLE, missing.c_str(), 1);
    TestNetworkConfig config(systemFile);
    std::string name, uuid;
    config.getDisplayName(name);
    EXPECT_EQ("", name);
    EXPECT_TRUE(messages_.contains("Can't read the network configuration '" + missing + "'"));
    EXPECT_FALSE(config.getUUID(uuid));
    EXPECT_EQ("No host UUID configured. Please check " + missing + ".", config.getLastError());
}

TEST_F(CoNetworkConfigTest, ConcurrentFirstUseReadsTheFileOnce) {
    TestNetworkConfig config(writeFile("network.cfg", SAMPLE));
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&config, &wrong, t] {
            for (int i = 0; i < 200; ++i) {
                unsigned int ttl = 1;
                std::vector<std::string> data;
                config.getSelfDiscoveryTTL(ttl);
                config.getDataInterfaces(data);
                if (ttl != 4 || data.size() != 3) ++wrong[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(std::vector<int>(4, 0), wrong);
    // The file's one warning was posted once, not once per thread.
    EXPECT_EQ(1u, messages_.messages().size());
}

}  // namespace
}  // namespace Vantrel
