// What every subcommand shares: exit statuses with one-line errors, --help with an example;
// and vantrel ping.
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

struct ErrorCase {
    std::vector<std::string> args;
    const char* says;  // in the one line on standard error
};

// Runs each case and expects `status`, one line on standard error saying what it should, and
// nothing on standard output.
void expectFailures(const std::vector<ErrorCase>& cases, int status) {
    for (const ErrorCase& c : cases) {
        const ToolResult result = runTool(c.args);
        std::string args;
        for (const std::string& arg : c.args) args += " '" + arg + "'";
        EXPECT_EQ(result.status, status) << args << "\n" << result.err;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << args << "\n" << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.out, "") << args;
    }
}

// Every subcommand that talks to a server, against a server that is not there: status 3.
TEST(ToolErrors, MissingServerIsStatus3) {
    SampleServer gone;
    ASSERT_TRUE(gone.running());
    const std::string id = gone.id();
    gone.stop();
    const std::string node = id + ":/Volume 1";
    const std::string reach = "cannot reach server '" + id + "': Connection refused";
    expectFailures({{{"ping", id}, "vantrel ping: no answer from '127.0.0.1:"},
                    {{"info", id}, reach.c_str()},
                    {{"ls", node}, reach.c_str()},
                    {{"tree", node}, reach.c_str()},
                    {{"stat", node}, reach.c_str()},
                    {{"create", "--type", "FOLDER", node + "/X"}, reach.c_str()},
                    {{"mv", node, "Y"}, reach.c_str()},
                    {{"rm", node}, reach.c_str()},
                    {{"meta", "ls", node}, reach.c_str()},
                    {{"meta", "get", node, "comments"}, reach.c_str()},
                    {{"frames", node}, reach.c_str()},
                    {{"translate", id, "/mnt/a"}, reach.c_str()},
                    {{"watch", node}, reach.c_str()}},
                   3);
}

// A path that names no node, or a node that cannot do what was asked: status 1, naming it.
TEST(ToolErrors, WrongPathIsStatus1) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const std::string missing = server.node("/Volume 1/Commercial/Nope/Deeper");
    const std::string says = "no node named 'Nope' in " + server.node("/Volume 1/Commercial");
    const std::string volume = server.node("/Volume 1");
    expectFailures({{{"ls", missing}, says.c_str()},
                    {{"tree", missing}, says.c_str()},
                    {{"stat", missing}, says.c_str()},
                    {{"create", "--type", "FOLDER", missing + "/X"}, says.c_str()},
                    {{"mv", missing, "Y"}, says.c_str()},
                    {{"rm", missing}, says.c_str()},
                    {{"meta", "ls", missing}, says.c_str()},
                    {{"meta", "get", missing, "x"}, says.c_str()},
                    {{"meta", "set", missing, "x", "/dev/null"}, says.c_str()},
                    {{"frames", missing}, says.c_str()},
                    {{"watch", missing}, says.c_str()},
                    {{"frames", volume}, "/Volume 1 is no clip"},
                    {{"meta", "get", volume, "comments"}, "has no metadata stream 'comments'"},
                    // The server refuses: a volume holds projects only.
                    {{"create", "--type", "CLIP", volume + "/Clip"}, "vantrel create: creating "}},
                   1);
}

TEST(ToolErrors, WrongUsageIsStatus2) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const std::string id = server.id();
    const std::string volume = server.node("/Volume 1");
    expectFailures({{{}, "A subcommand is required"},
                    {{"nosuchcommand"}, "unknown subcommand 'nosuchcommand'"},
                    {{"--timeout", "soon", "ping", id}, "--timeout"},
                    {{"ping"}, "server is required"},
                    {{"ping", id, "extra"}, "not expected: extra"},
                    {{"ping", volume}, "names no server"},
                    {{"info", volume}, "names no server"},
                    {{"ls", "/Volume 1"}, "names no node (write SERVER:/display/path)"},
                    {{"ls", "--depth", "0", volume}, "--depth"},
                    {{"tree", "--depth", "x", volume}, "--depth"},
                    {{"stat"}, "path is required"},
                    {{"create", volume + "/X"}, "--type is required"},
                    {{"create", "--type", "FOLDER", id + ":"}, "the root exists already"},
                    {{"create", "--type", "FOLDER", "--frames", "2", volume + "/X"},
                     "only clips hold frames"},
                    {{"create", "--type", "CLIP", "--scan", "diagonal", volume + "/X"},
                     "unknown scan format 'diagonal'"},
                    {{"mv", volume, "a/b"}, "'a/b' is no display name"},
                    {{"mv", id + ":", "Root"}, "the root cannot be renamed"},
                    {{"rm", id + ":/"}, "the root cannot be removed"},
                    {{"meta", volume}, "vantrel meta: A subcommand is required"},
                    {{"meta", "set", volume, "s", "/nonexistent/file"},
                     "cannot read '/nonexistent/file'"},
                    {{"translate", id, "/a", "--to-os", "Plan9"}, "unknown OS type 'Plan9'"},
                    {{"watch", "--count", "-1", volume}, "--count"},
                    {{"servers", "--wait", "forever"}, "--wait"}},
                   2);
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

// Options of the tool itself: --version, `help SUBCOMMAND`, -q/--quiet and --verbose before
// or after the subcommand, and an unknown one named as the tool's, not the subcommand's.
TEST(ToolConventions, ToolOptionsAndHelp) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const ToolResult version = runTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("vantrel 2015.", 0), 0u) << version.out;

    const ToolResult help = runTool({"help", "meta", "get"});
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_NE(help.out.find("Example:\n  vantrel meta get"), std::string::npos) << help.out;

    for (const auto& args : {std::vector<std::string>{"-q", "ping", server.id()},
                             std::vector<std::string>{"ping", server.id(), "--quiet"},
                             std::vector<std::string>{"ping", "--verbose", server.id()}}) {
        const ToolResult ping = runTool(args);
        EXPECT_EQ(ping.status, 0) << ping.err;
    }
    expectFailures({{{"--bogus", "ls", server.node()}, "vantrel: unknown option '--bogus'"},
                    {{"--jsn=1", "ping", server.id()}, "vantrel: unknown option '--jsn'"}},
                   2);
}

// SERVER alone names the root; a port out of range is named as such.
TEST(ToolConventions, ServerAloneIsTheRootAndPortsAreChecked) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const ToolResult alone = runTool({"ls", server.id()});
    EXPECT_EQ(alone.status, 0) << alone.err;
    EXPECT_EQ(alone.out, runTool({"ls", server.node()}).out);
    EXPECT_EQ(alone.out, "VOLUME\tVolume 1\n");
    expectFailures({{{"ping", "127.0.0.1:70000"}, "port 70000 of '127.0.0.1:70000' is out of range"},
                    {{"ls", "127.0.0.1:-3:/Volume 1"}, "port -3 of '127.0.0.1:-3' is out of range"}},
                   2);
}

}  // namespace
