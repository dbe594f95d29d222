// vantrel ping, and what every subcommand shares: exit statuses, one-line errors, --help.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ToolTestSupport.h"

namespace {

using tool_testing::runTool;
using tool_testing::SampleServer;
using tool_testing::ToolResult;

TEST(ToolPing, AnswersForPeopleAndAsJson) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const ToolResult human = runTool({"ping", server.id()});
    EXPECT_EQ(human.status, 0) << human.err;
    EXPECT_NE(human.out.find(server.id() + " answers in "), std::string::npos) << human.out;
    EXPECT_EQ(human.err, "");

    // --json before or after the subcommand; SERVER: names the same server.
    for (const auto& args : {std::vector<std::string>{"--json", "ping", server.node()},
                             std::vector<std::string>{"ping", server.node("/"), "--json"}}) {
        const ToolResult json = runTool(args);
        ASSERT_EQ(json.status, 0) << json.err;
        const nlohmann::json doc = nlohmann::json::parse(json.out);
        EXPECT_EQ(doc["server"], server.id());
        EXPECT_EQ(doc["alive"], true);
        EXPECT_GE(doc["milliseconds"].get<double>(), 0.0);
    }
}

TEST(ToolPing, MissingServerWrongUsageAndHelp) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const std::string id = server.id();
    server.stop();
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;  // in the one line on standard error
    } cases[] = {
        {{"ping", id}, 3, "vantrel ping: no answer from '127.0.0.1:"},
        {{"ping"}, 2, "server is required"},
        {{"ping", id, "extra"}, 2, "not expected: extra"},
        {{"ping", id + ":/Volume 1"}, 2, "names no server"},
        {{}, 2, "A subcommand is required"},
        {{"nosuchcommand"}, 2, "nosuchcommand"},
        {{"--timeout", "soon", "ping", id}, 2, "--timeout"},
    };
    for (const auto& c : cases) {
        const ToolResult result = runTool(c.args);
        EXPECT_EQ(result.status, c.status) << c.says << "\n" << result.err;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.out, "") << c.says;
    }
}

TEST(ToolHelp, ToolAndEverySubcommandShowAnExample) {
    const ToolResult tool = runTool({"--help"});
    EXPECT_EQ(tool.status, 0);
    EXPECT_NE(tool.out.find("Exit status"), std::string::npos) << tool.out;
    const size_t listed = tool.out.find("Subcommands:");
    ASSERT_NE(listed, std::string::npos) << tool.out;
    // Every subcommand the tool lists answers --help with an example.
    std::istringstream lines(tool.out.substr(listed));
    std::string line;
    std::getline(lines, line);
    int seen = 0;
    while (std::getline(lines, line) && line.rfind("  ", 0) == 0) {
        const std::string name = line.substr(2, line.find(' ', 2) - 2);
        const ToolResult help = runTool({name, "--help"});
        EXPECT_EQ(help.status, 0) << name;
        EXPECT_NE(help.out.find("Example:\n  vantrel " + name), std::string::npos) << help.out;
        ++seen;
    }
    EXPECT_GT(seen, 0);
}

}  // namespace
