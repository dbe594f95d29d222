// vantreld run as a service: what it prints and where, how it starts, refuses and stops.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <iterator>
#include <cstdlib>
#include <string>
#include <vector>

#include "VantreldProcess.h"
#include "rcApi/rcAPI.h"
#include "tcp/CoIoTcpDescriptor.h"
#include "vantrel/server/ServerTestSupport.h"

using vantreld::testing::TempDir;
using vantreld::testing::VantreldProcess;
typedef VantreldProcess::Errors Errors;

namespace {

bool pings(int port) {
    Vantrel::rcAPI client;
    std::string reply;
    return client.connect("127.0.0.1", port, 5000) &&
           client.call(0, "Ping", "", true, reply, 5000);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

// The ready line alone on standard output, naming where and what it serves; SIGHUP changes
// nothing; SIGTERM stops it with a line saying why.
TEST(VantreldService, ReadyLineStandsAloneAndTheStopIsLogged) {
    TempDir dir;
    VantreldProcess server({"--port", "0", dir / "my tree"}, Errors::PIPE);
    const int port = server.waitUntilReady();
    ASSERT_GT(port, 0) << server.printed() << server.errors(1000);
    EXPECT_EQ(server.readyField("listen"), "127.0.0.1");
    EXPECT_EQ(server.readyField("tree"), dir / "my tree");
    EXPECT_EQ(server.readyField("nodes"), "1");
    EXPECT_EQ(server.readyField("protocol"), "2015.0.0.5858");
    EXPECT_GT(std::atoi(server.readyField("frame_port").c_str()), 0);
    EXPECT_EQ(server.printed(), "vantreld ready: node_port=" + std::to_string(port) +
                                    " listen=127.0.0.1 tree=" + dir / "my tree" +
                                    " nodes=1 protocol=2015.0.0.5858 frame_port=" +
                                    server.readyField("frame_port") + "\n");

    server.kill(SIGHUP);
    EXPECT_TRUE(pings(port));
    server.kill(SIGTERM);
    EXPECT_EQ(server.waitForExit(5000), 0);
    EXPECT_TRUE(contains(server.errors(), "vantreld stopped: signal SIGTERM")) << server.errors();
}

TEST(VantreldService, ReadyFieldsParseAsKeyValueWords) {
    const auto fields =
        VantreldProcess::parseFields("node_port=5 tree=/a b/c nodes=3 frame_port=6");
    EXPECT_EQ(fields.at("node_port"), "5");
    EXPECT_EQ(fields.at("tree"), "/a b/c");
    EXPECT_EQ(fields.at("frame_port"), "6");
    EXPECT_EQ(fields.size(), 4u);
}

// What stops it at once, with one line that says why.
TEST(VantreldService, RefusesAtOnceWithTheReason) {
    TempDir dir;
    VantreldProcess first({"--port", "0", dir / "tree"});
    ASSERT_GT(first.waitUntilReady(), 0);
    vantreld::ServerFiles::makeDirectory(dir / "photos");
    std::ofstream(dir / "photos/holiday.jpg") << "jpeg";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says;
    } cases[] = {
        {{"--port", "0", dir / "tree"},
         1,
         "vantreld: Tree directory '" + dir / "tree" + "' is in use by another vantreld (process " +
             std::to_string(first.pid()) + ")\n"},
        {{"--port", "0", dir / "photos"},
         1,
         "vantreld: '" + dir / "photos" +
             "' is neither empty nor a vantreld tree (it holds 'holiday.jpg' and no "
             "vantreld.attr): give a new or empty directory\n"},
        {{"--bogus", dir / "tree"}, 2, "vantreld: Unknown option '--bogus'\nsee 'vantreld --help'\n"},
        {{"--port"}, 2, "vantreld: Option --port needs a value\nsee 'vantreld --help'\n"},
    };
    for (const auto& c : cases) {
        VantreldProcess server(c.args, Errors::PIPE);
        EXPECT_EQ(server.waitForExit(10000), c.status) << c.says;
        EXPECT_EQ(server.errors(1000), c.says);
        EXPECT_EQ(server.waitUntilReady(100), -1);
    }
    EXPECT_TRUE(pings(first.waitUntilReady()));  // the first server is unharmed
}

TEST(VantreldService, VersionAndWarnings) {
    TempDir dir;
    VantreldProcess version({"--version"});
    EXPECT_EQ(version.waitForExit(5000), 0);
    version.waitUntilReady(500);
    EXPECT_EQ(version.printed(), "vantreld 1.0 (protocol 2015.0.0.5858)\n");

    const std::string config = dir / "typos.cfg";
    std::ofstream(config) << "[Server]\nDisplayNam = Studio\nReadAheads = lots\n[Bogus]\nx = 1\n";
    VantreldProcess server({"--listen", "0.0.0.0", "--config", config, "--port", "0", dir / "tree"},
                           Errors::PIPE);
    ASSERT_GT(server.waitUntilReady(), 0);
    const std::string& errors = server.errors(500);
    EXPECT_TRUE(contains(errors, config + ":2: unknown key 'DisplayNam' in [Server]")) << errors;
    EXPECT_TRUE(contains(errors, config + ":3: 'ReadAheads' needs a whole number, not 'lots'"))
        << errors;
    EXPECT_TRUE(contains(errors, config + ":4: unknown section [Bogus]")) << errors;
    EXPECT_TRUE(contains(errors, "listening on 0.0.0.0: every host that reaches port " +
                                     server.readyField("node_port") +
                                     " may create and destroy nodes"))
        << errors;
}

// Nobody reads its standard output after the ready line, nor its standard error: requests
// that each make it log a line still get answers.
TEST(VantreldService, AnUnreadLogNeverStopsTheServer) {
    TempDir dir;
    VantreldProcess server({"--port", "0", dir / "tree"}, Errors::PIPE);
    const int port = server.waitUntilReady();
    ASSERT_GT(port, 0);
    Vantrel::rcAPI client;
    ASSERT_TRUE(client.connect("127.0.0.1", port, 5000));
    // Each malformed attribute stream logs a line: far more than a pipe holds.
    for (int i = 0; i < 5000; ++i) {
        std::string reply;
        ASSERT_FALSE(client.call(0, "CreateNodeEx", "Parent x host", true, reply, 5000));
        ASSERT_EQ(reply.compare(0, 19, "Malformed argument:"), 0)
            << "request " << i << " got no answer: " << reply;
    }
    EXPECT_TRUE(pings(port));
    EXPECT_TRUE(contains(server.errors(), "Error parsing attribute stream")) << server.errors();
}

TEST(VantreldService, LogFileTakesTheLogInsteadOfStandardError) {
    TempDir dir;
    VantreldProcess server({"--log", dir / "vantreld.log", "--port", "0", dir / "tree"},
                           Errors::PIPE);
    ASSERT_GT(server.waitUntilReady(), 0);
    server.kill(SIGTERM);
    EXPECT_EQ(server.waitForExit(5000), 0);
    EXPECT_EQ(server.errors(), "");
    std::ifstream log(dir / "vantreld.log");
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(contains(text, "vantreld stopped: signal SIGTERM")) << text;
}
