// Where vantreld, run as a separate process, listens: loopback only unless --listen says
// otherwise, and the record it hands out names that address.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VantreldProcess.h"
#include "rcApi/rcAPI.h"
#include "rcApi/rcAttrStream.h"
#include "tcp/CoIoTcpDescriptor.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/server/ServerTestSupport.h"

using vantreld::testing::TempDir;
using vantreld::testing::VantreldProcess;

namespace {

bool accepts(const char* host, int port) {
    return Vantrel::CoIoTcpDescriptor(host, port, 0, 0, 5).isValid();
}

std::vector<std::string> withTree(std::vector<std::string> args, const std::string& tree) {
    args.insert(args.end(), {"--port", "0", tree});
    return args;
}

TEST(VantreldListen, TheNodePortListensOnLoopbackOnlyUnlessToldOtherwise) {
    const struct {
        std::vector<std::string> options;
        std::vector<const char*> reachable;  // the first one is used for the record
        std::vector<const char*> refused;
        const char* ip0;
    } cases[] = {
        {{}, {"127.0.0.1"}, {"127.0.0.2", "::1"}, "127.0.0.1"},
        {{"--listen", "0.0.0.0"}, {"127.0.0.1", "127.0.0.2"}, {"::1"}, "127.0.0.1"},
        {{"--listen", "::"}, {"::1"}, {}, "127.0.0.1"},
        {{"--listen", "::1"}, {"::1"}, {"127.0.0.1"}, "::1"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string label = c.options.empty() ? "default" : c.options[1];
        VantreldProcess server(withTree(c.options, dir / "tree"));
        const int port = server.waitUntilReady();
        ASSERT_GT(port, 0) << label << ": " << server.printed();
        for (const char* host : c.reachable)
            EXPECT_TRUE(accepts(host, port)) << label << " from " << host;
        for (const char* host : c.refused)
            EXPECT_FALSE(accepts(host, port)) << label << " from " << host;

        Vantrel::rcAPI client;
        ASSERT_TRUE(client.connect(c.reachable[0], port, 5000)) << label << ": "
                                                                << client.lastError();
        std::string record;
        ASSERT_TRUE(client.call(0, "GetDaemonInfo", "\"\"", true, record, 5000)) << record;
        const VantrelDaemonInfo info{Vantrel::rcAttrStream(record)};
        EXPECT_STREQ(c.ip0, info.getIPAddr(0)) << label;
        EXPECT_STREQ(c.ip0, info.getFrameIPAddr(0)) << label;
    }
}

TEST(VantreldListen, AnAddressItCannotListenOnStopsItAtOnce) {
    const struct {
        const char* address;
        int status;
    } cases[] = {
        {"localhost", 2},  // not numeric: a command-line error
        {"192.0.2.1", 1},  // not an address of this host
    };
    TempDir dir;
    for (const auto& c : cases) {
        VantreldProcess server(withTree({"--listen", c.address}, dir / "tree"));
        EXPECT_EQ(-1, server.waitUntilReady(5000)) << c.address;
        EXPECT_EQ(c.status, server.waitForExit(5000)) << c.address;
    }
}

}  // namespace
