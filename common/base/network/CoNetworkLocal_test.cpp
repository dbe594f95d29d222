#include "network/CoNetworkLocal.h"

#include <gtest/gtest.h>

#include "network/CoNetwork.h"
#include "network/CoNetworkConfig.h"
#include "tcp/CoNameResolver.h"
#include "testing/MessageCapture.h"

namespace Vantrel {
namespace {

// Knows only the local host name; an empty name makes that lookup fail.
class HostNameResolver : public CoNameResolver {
public:
    explicit HostNameResolver(const std::string& name) : name_(name) {}
    bool resolve(const char*, const char*, std::vector<CoSocketAddress>&,
                 std::string& error) const override {
        error = "not here";
        return false;
    }
    bool hostNameOf(const CoSocketAddress&, bool, std::string&,
                    std::string& error) const override {
        error = "not here";
        return false;
    }
    bool localHostName(std::string& out, std::string& error) const override {
        if (name_.empty()) error = "Bad address";
        else out = name_;
        return !name_.empty();
    }

private:
    const std::string name_;
};

class CoNetworkLocalTest : public ::testing::Test {
protected:
    void TearDown() override { CoNameResolver::install(nullptr); }

    // Errors posted during the test.
    std::vector<std::string> errors() const {
        std::vector<std::string> texts;
        for (const CoMsg& msg : messages_.messages())
            if (msg.level() == CoMsg::ERROR_LEVEL) texts.push_back(msg.text());
        return texts;
    }

    // Made first, so that it outlives the monitor thread, which posts too.
    testing::MessageCapture messages_;
    CoNetwork::Guard network_;
};

TEST_F(CoNetworkLocalTest, HostNameFromTheSystemOrLocalhost) {
    HostNameResolver named("edit-bay-3");
    CoNameResolver::install(&named);
    std::string name;
    EXPECT_TRUE(CoNetworkLocal::getHostName(name));
    EXPECT_EQ("edit-bay-3", name);

    HostNameResolver failing("");
    CoNameResolver::install(&failing);
    EXPECT_TRUE(CoNetworkLocal::getHostName(name));
    EXPECT_EQ("localhost", name);
    EXPECT_EQ(std::vector<std::string>{"Could not retrieve host name: Bad address"},
              errors());
}

TEST_F(CoNetworkLocalTest, DisplayNameFallsBackToTheHostName) {
    HostNameResolver named("edit-bay-3");
    CoNameResolver::install(&named);
    std::string configured;
    CoNetworkConfig::getInstance().getDisplayName(configured);
    std::string name;
    EXPECT_TRUE(CoNetworkLocal::getDisplayName(name));
    EXPECT_EQ(configured.empty() ? "edit-bay-3" : configured, name);
}

}  // namespace
}  // namespace Vantrel
