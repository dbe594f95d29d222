#include "vantrel/server/VantreldServer.h"

#include <gtest/gtest.h>

#include "rcApi/rcAPI.h"
#include "rcApi/rcTestSupport.h"
#include "vantrel/server/CommandLine.h"
#include "vantrel/server/ServerError.h"
#include "vantrel/server/ServerTestSupport.h"

using namespace vantreld;
using vantreld::testing::TempDir;

namespace {

VantreldServer::Options inProcess(const std::string& directory) {
    VantreldServer::Options options;
    options.directory = directory;
    options.port = 0;
    options.sync = ServerFiles::Sync::FAST;
    return options;
}

}  // namespace

TEST(VantreldServer, ServesOnItsOwnThreadAndLogsRequestsInProcess) {
    TempDir dir;
    VantreldThread thread(inProcess(dir / "tree"));
    ASSERT_GT(thread.nodePort(), 0);
    Vantrel::rcAPI client;
    ASSERT_TRUE(client.connect("127.0.0.1", thread.nodePort(), 5000)) << client.lastError();
    std::string reply;
    EXPECT_TRUE(client.call(0, "GetRootNode", "", true, reply, 5000));
    EXPECT_EQ(reply, "host");
    EXPECT_FALSE(client.call(0, "GetChildren", "\"clip 3\"", true, reply, 5000));
    EXPECT_EQ(reply, "Unknown node id: 'clip 3'");
    const auto entries = thread.server().requestLog().entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].method, "GetChildren");
    EXPECT_EQ(entries[1].args, "\"clip 3\"");

    EXPECT_TRUE(client.call(0, "Shutdown", "", true, reply, 5000)) << reply;
    EXPECT_TRUE(thread.waitUntilStopped(5000));
}

// A peer that sends garbage before logging in is answered and dropped; others are served on.
TEST(VantreldServer, GarbageFromOnePeerDoesNotDisturbTheOthers) {
    TempDir dir;
    VantreldThread thread(inProcess(dir / "tree"));
    Vantrel::testing::RawSocket hostile = Vantrel::testing::RawSocket::connectTo(thread.nodePort());
    ASSERT_TRUE(hostile.send("sync 0 GetChildren \"host\\\n"));
    EXPECT_FALSE(hostile.readLine().empty());
    EXPECT_TRUE(hostile.closedByPeer());

    Vantrel::rcAPI client;
    ASSERT_TRUE(client.connect("127.0.0.1", thread.nodePort(), 5000)) << client.lastError();
    std::string reply;
    EXPECT_TRUE(client.call(0, "Ping", "", true, reply, 5000)) << reply;
}

TEST(VantreldServer, ConstructionFailsClearly) {
    TempDir dir;
    VantreldServer::Options badConfig = inProcess(dir / "tree");
    badConfig.configFile = dir / "missing.cfg";
    EXPECT_THROW(VantreldServer{badConfig}, ServerError);

    VantreldThread first(inProcess(dir / "one"));
    VantreldServer::Options taken = inProcess(dir / "two");
    taken.port = first.nodePort();
    EXPECT_THROW(VantreldServer{taken}, ServerError);
}

TEST(CommandLine, ReadsEveryOption) {
    const CommandLine line = CommandLine::parse({"--port", "0", "--address", "10.1.1.1,127.0.0.1",
                                                 "--protocol-version", "2012.0.0.5133", "--config",
                                                 "a.cfg", "--trace", "t.log", "--no-sync", "tree"});
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.options.port, 0);
    EXPECT_EQ(line.options.addresses, (std::vector<std::string>{"10.1.1.1", "127.0.0.1"}));
    EXPECT_EQ(line.options.version.text(), "2012.0.0.5133");
    EXPECT_EQ(line.options.configFile, "a.cfg");
    EXPECT_EQ(line.options.traceFile, "t.log");
    EXPECT_EQ(line.options.sync, ServerFiles::Sync::FAST);
    EXPECT_EQ(line.options.directory, "tree");
    EXPECT_FALSE(line.initSample);
    EXPECT_TRUE(CommandLine::parse({"--init-sample", "dir"}).initSample);
    EXPECT_TRUE(CommandLine::parse({"--help"}).help);
}

TEST(CommandLine, ExplainsWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{}, "No tree directory given"},
        {{"a", "b"}, "Give one tree directory"},
        {{"--port"}, "Option --port needs a value"},
        {{"--port", "70000", "t"}, "Invalid port '70000'"},
        {{"--port", "-1", "t"}, "Invalid port '-1'"},
        {{"--protocol-version", "2012.0", "t"},
         "Invalid protocol version '2012.0' (expected A.B.C.D)"},
        {{"--address", "", "t"}, "Give 1 to 5 addresses, not ''"},
        {{"--frobnicate", "t"}, "Unknown option '--frobnicate'"},
    };
    for (const Case& c : cases) EXPECT_EQ(CommandLine::parse(c.args).error, c.error);
    // Every option is explained.
    for (const char* option : {"--port", "--address", "--protocol-version", "--config", "--trace",
                               "--no-sync", "--init-sample", "--help"})
        EXPECT_NE(std::string(CommandLine::usage()).find(option), std::string::npos) << option;
}
