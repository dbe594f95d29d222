#include "vantrel/server/VantreldServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "rcApi/rcAPI.h"
#include "rcApi/rcAttrStream.h"
#include "rcApi/rcTestSupport.h"
#include "tcp/TcpTestSupport.h"
#include "tcp/CoIoTcpDescriptor.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
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

bool accepts(const char* host, int port) {
    return Vantrel::CoIoTcpDescriptor(host, port, 0, 0, 5).isValid();
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
    Vantrel::testing::PeerSocket hostile = Vantrel::testing::PeerSocket::connectTo(thread.nodePort());
    ASSERT_TRUE(hostile.send("sync 0 GetChildren \"host\\\n"));
    EXPECT_FALSE(hostile.readLine().empty());
    EXPECT_TRUE(hostile.closedByPeer());

    Vantrel::rcAPI client;
    ASSERT_TRUE(client.connect("127.0.0.1", thread.nodePort(), 5000)) << client.lastError();
    std::string reply;
    EXPECT_TRUE(client.call(0, "Ping", "", true, reply, 5000)) << reply;
}

// Before a login only "_ping" runs: any other first request is refused and changes nothing.
TEST(VantreldServer, OnlyPingRunsBeforeALogin) {
    TempDir dir;
    VantreldThread thread(inProcess(dir / "tree"));
    const std::pair<const char*, const char*> cases[] = {
        {"sync 0 Shutdown \n", "error Not logged in\n"},
        {"sync 0 CreateNode \"host\" 2 \"Volume 9\"\n", "error Not logged in\n"},
        {"sync 0 _ping \n", "ok \n"},
    };
    for (const auto& c : cases) {
        Vantrel::testing::PeerSocket peer = Vantrel::testing::PeerSocket::connectTo(thread.nodePort());
        ASSERT_TRUE(peer.send(c.first));
        EXPECT_EQ(c.second, peer.readLine()) << c.first;
        EXPECT_TRUE(peer.closedByPeer()) << c.first;
    }
    EXPECT_TRUE(thread.server().requestLog().entries().empty()) << "nothing reached the methods";
    Vantrel::rcAPI client;
    ASSERT_TRUE(client.connect("127.0.0.1", thread.nodePort(), 5000)) << client.lastError();
    std::string reply;
    EXPECT_TRUE(client.call(0, "GetChildren", "\"host\"", true, reply, 5000)) << reply;
    EXPECT_EQ(std::string::npos, reply.find("Volume 9"));
}

// Connects to ADDRESS:PORT and tells whether the server closes the connection unasked
// (within `waitMs`).
bool closedByServer(const char* address, int port, int waitMs) {
    addrinfo hints = {};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address, std::to_string(port).c_str(), &hints, &found) != 0) return false;
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = fd >= 0 && ::connect(fd, found->ai_addr, found->ai_addrlen) == 0;
    ::freeaddrinfo(found);
    char byte;
    pollfd ready{fd, POLLIN, 0};
    const bool closed = connected && ::poll(&ready, 1, waitMs) == 1 && ::recv(fd, &byte, 1, 0) <= 0;
    if (fd >= 0) ::close(fd);
    return closed;
}

// With allowed networks, a client from elsewhere is closed at accept, on both ports.
TEST(VantreldServer, OnlyClientsFromAllowedNetworksAreServed) {
    TempDir dir;
    const struct {
        const char* allowed;
        const char* servedFrom;
        const char* refusedFrom;
    } cases[] = {{"::1/128", "::1", "127.0.0.1"}, {"127.0.0.0/8", "127.0.0.1", "::1"}};
    for (const auto& c : cases) {
        VantreldServer::Options options = inProcess(dir / "tree");
        options.listenAddress = "::";
        std::string error;
        ASSERT_TRUE(AddressFilter::parse(c.allowed, options.allowed, error)) << error;
        VantreldThread thread(options);
        Vantrel::rcAPI served, refused;
        EXPECT_TRUE(served.connect(c.servedFrom, thread.nodePort(), 5000)) << served.lastError();
        EXPECT_FALSE(refused.connect(c.refusedFrom, thread.nodePort(), 5000)) << c.allowed;
        const int framePort = thread.server().framePort();
        EXPECT_TRUE(closedByServer(c.refusedFrom, framePort, 5000)) << c.allowed;
        EXPECT_FALSE(closedByServer(c.servedFrom, framePort, 300)) << c.allowed;
    }
}

// A data connection to the frame port on 127.0.0.1, from the address `from`.
Vantrel::testing::RawSocket frameConnection(int port, const char* from = "127.0.0.1") {
    Vantrel::testing::RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &address.sin_addr);
    EXPECT_EQ(0, ::bind(socket.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_EQ(0, ::connect(socket.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address));
    return socket;
}

// The text of a status reply (up to its NUL byte); "<closed>" when the connection ends first.
std::string status(const Vantrel::testing::RawSocket& socket) {
    std::string text;
    for (;;) {
        const std::string byte = socket.receive(1);
        if (byte.empty()) return "<closed>";
        if (byte[0] == '\0') return text;
        text += byte;
    }
}

bool closedByServer(const Vantrel::testing::RawSocket& socket, int waitMs) {
    pollfd ready{socket.fd(), POLLIN, 0};
    char byte;
    return ::poll(&ready, 1, waitMs) == 1 && ::recv(socket.fd(), &byte, 1, 0) <= 0;
}

using namespace std::string_literals;

// The frame protocol has no login: changes are taken only from addresses that hold a
// logged-in node connection, as long as they hold one.
TEST(VantreldServer, FramePortChangesOnlyForPeersLoggedInOnTheNodePort) {
    TempDir dir;
    VantreldThread thread(inProcess(dir / "tree"));
    const int port = thread.server().framePort();
    const std::string push = "PushFile\0f.bin\0" "3\0"s;
    const std::string write = "WriteFrame\0" "9.9\0" "3\0" "xyz"s;
    const std::string refused = FrameServer::NOT_LOGGED_IN;
    Vantrel::testing::RawSocket data = frameConnection(port);
    data.sendAll(push);
    EXPECT_EQ(refused, status(data));
    data.sendAll(write);
    EXPECT_EQ(refused, status(data));  // and its bytes were dropped: the stream is in step
    {
        Vantrel::rcAPI client;
        ASSERT_TRUE(client.connect("127.0.0.1", thread.nodePort(), 5000)) << client.lastError();
        data.sendAll(write);
        EXPECT_EQ("Unknown frame id: '9.9'", status(data));
        data.sendAll(push);
        EXPECT_EQ("", status(data));
        data.sendAll("abc");
        EXPECT_EQ("", status(data));
        Vantrel::testing::RawSocket elsewhere = frameConnection(port, "127.0.0.2");
        elsewhere.sendAll(push);
        EXPECT_EQ(refused, status(elsewhere));
    }
    // The node connection has closed: the loop notices it on its next pass.
    std::string answer;
    for (int i = 0; i < 200 && answer != refused; ++i) {
        if (i > 0) ::usleep(50 * 1000);
        data.sendAll(write);
        answer = status(data);
    }
    EXPECT_EQ(refused, answer);
    EXPECT_EQ("abc", ServerFiles::readFile(dir / "tree/files/f.bin"));
}

// One peer cannot hold every data connection; another peer is served meanwhile.
TEST(VantreldServer, OnePeerHoldsAtMostItsShareOfDataConnections) {
    TempDir dir;
    VantreldThread thread(inProcess(dir / "tree"));
    const int port = thread.server().framePort();
    std::vector<Vantrel::testing::RawSocket> held;
    for (int i = 0; i < FrameServer::MAX_CONNECTIONS_PER_PEER; ++i) {
        held.push_back(frameConnection(port));
        held.back().sendAll("InvalidateCache\0"s);
        ASSERT_EQ("", status(held.back())) << i;
    }
    EXPECT_TRUE(closedByServer(frameConnection(port), 5000));
    Vantrel::testing::RawSocket other = frameConnection(port, "127.0.0.2");
    other.sendAll("InvalidateCache\0"s);
    EXPECT_EQ("", status(other));
}

// A data connection on which nothing moves is closed, between requests and within one.
TEST(VantreldServer, IdleDataConnectionsAreClosed) {
    TempDir dir;
    VantreldServer::Options options = inProcess(dir / "tree");
    options.frameIdleLimitMs = 500;
    VantreldThread thread(options);
    for (const std::string& sent : {""s, "ReadFrame\0" "1.0\0"s, "PushFile\0x\0" "9\0" "ab"s}) {
        Vantrel::rcAPI client;
        ASSERT_TRUE(client.connect("127.0.0.1", thread.nodePort(), 5000)) << client.lastError();
        Vantrel::testing::RawSocket data = frameConnection(thread.server().framePort());
        data.sendAll(sent);
        if (sent.compare(0, 8, "PushFile") == 0) {
            EXPECT_EQ("", status(data));
        }
        EXPECT_TRUE(closedByServer(data, 60000)) << sent.substr(0, 9);
    }
    EXPECT_EQ(std::vector<std::string>{}, ServerFiles::list(dir / "tree/files"));
}

TEST(VantreldServer, ConstructionFailsClearly) {
    TempDir dir;
    VantreldServer::Options badConfig = inProcess(dir / "tree");
    badConfig.configFile = dir / "missing.cfg";
    EXPECT_THROW(VantreldServer{badConfig}, ServerError);

    VantreldThread first(inProcess(dir / "one"));
    VantreldServer::Options taken = inProcess(dir / "two");
    taken.port = first.nodePort();
    try {
        VantreldServer server(taken);
        ADD_FAILURE() << "listens on a port taken already";
    } catch (const ServerError& error) {  // names the port it tried
        EXPECT_EQ("Cannot listen on node port " + std::to_string(taken.port) +
                      " at 127.0.0.1: Address already in use",
                  error.what());
    }

    VantreldServer::Options elsewhere = inProcess(dir / "three");
    elsewhere.listenAddress = "192.0.2.1";  // not an address of this host
    try {
        VantreldServer server(elsewhere);
        ADD_FAILURE() << "listens on an address the host does not have";
    } catch (const ServerError& error) {
        EXPECT_STREQ("Cannot listen on a free node port at 192.0.2.1: Cannot assign requested address",
                     error.what());
    }
}

// The node port listens on loopback unless told otherwise, and the record announces where it
// listens unless the addresses to announce are given.
TEST(VantreldServer, ListensWhereItIsToldAndAnnouncesIt) {
    struct Case {
        const char* listen;  // null: the default
        std::vector<std::string> announce;
        const char* bound;
        const char* clientHost;
        std::vector<const char*> refused;
        const char* ip0;
    } cases[] = {
        {nullptr, {}, "127.0.0.1", "127.0.0.1", {"127.0.0.2", "::1"}, "127.0.0.1"},
        {"::1", {}, "::1", "::1", {"127.0.0.1"}, "::1"},
        {"0.0.0.0", {}, "0.0.0.0", "127.0.0.2", {"::1"}, "127.0.0.1"},
        {"::1", {"10.1.1.1"}, "::1", "::1", {}, "10.1.1.1"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string label = c.listen != nullptr ? c.listen : "default";
        VantreldServer::Options options = inProcess(dir / "tree");
        if (c.listen != nullptr) options.listenAddress = c.listen;
        options.addresses = c.announce;
        VantreldThread thread(options);
        EXPECT_EQ(c.bound, thread.server().listenAddress()) << label;
        for (const char* host : c.refused)
            EXPECT_FALSE(accepts(host, thread.nodePort())) << label << " from " << host;

        Vantrel::rcAPI client;
        ASSERT_TRUE(client.connect(c.clientHost, thread.nodePort(), 5000))
            << label << ": " << client.lastError();
        std::string record;
        ASSERT_TRUE(client.call(0, "GetDaemonInfo", "\"\"", true, record, 5000)) << record;
        const VantrelDaemonInfo info{Vantrel::rcAttrStream(record)};
        EXPECT_EQ(1, info.getNumIPAddrs()) << label;
        EXPECT_STREQ(c.ip0, info.getIPAddr(0)) << label;
        EXPECT_STREQ(c.ip0, info.getFrameIPAddr(0)) << label;
    }
}

TEST(CommandLine, ReadsEveryOption) {
    const CommandLine defaults = CommandLine::parse({"tree"});
    EXPECT_EQ(defaults.options.listenAddress, "127.0.0.1");
    EXPECT_TRUE(defaults.options.addresses.empty());
    EXPECT_TRUE(defaults.options.discovery);
    EXPECT_EQ(defaults.options.udpPort, 0u);
    const CommandLine quiet = CommandLine::parse({"--udp-port", "7600", "--no-discovery", "tree"});
    EXPECT_EQ(quiet.options.udpPort, 7600u);
    EXPECT_FALSE(quiet.options.discovery);

    const CommandLine line = CommandLine::parse({"--port", "0", "--listen", "::1", "--address",
                                                 "10.1.1.1,127.0.0.1",
                                                 "--protocol-version", "2012.0.0.5133", "--config",
                                                 "a.cfg", "--trace", "t.log", "--no-sync",
                                                 "--allow", "10.0.0.0/8,fd00::/8",
                                                 "--frame-idle-timeout", "5", "tree"});
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.options.port, 0);
    EXPECT_EQ(line.options.listenAddress, "::1");
    EXPECT_EQ(line.options.addresses, (std::vector<std::string>{"10.1.1.1", "127.0.0.1"}));
    EXPECT_EQ(line.options.version.text(), "2012.0.0.5133");
    EXPECT_EQ(line.options.configFile, "a.cfg");
    EXPECT_EQ(line.options.traceFile, "t.log");
    EXPECT_EQ(line.options.sync, ServerFiles::Sync::FAST);
    EXPECT_EQ(line.options.directory, "tree");
    EXPECT_TRUE(line.options.allowed.allows("10.2.3.4"));
    EXPECT_FALSE(line.options.allowed.allows("192.168.0.1"));
    EXPECT_TRUE(defaults.options.allowed.empty());
    EXPECT_EQ(line.options.frameIdleLimitMs, 5000u);
    EXPECT_EQ(defaults.options.frameIdleLimitMs, FrameServer::DEFAULT_IDLE_LIMIT_MS);
    EXPECT_EQ(CommandLine::parse({"--frame-idle-timeout", "0", "t"}).options.frameIdleLimitMs,
              0u);
    EXPECT_FALSE(line.initSample);
    EXPECT_TRUE(CommandLine::parse({"--init-sample", "dir"}).initSample);
    EXPECT_TRUE(CommandLine::parse({"--help"}).help);
    EXPECT_TRUE(CommandLine::parse({"--version"}).version);
    EXPECT_EQ(CommandLine::parse({"--log", "v.log", "tree"}).logFile, "v.log");
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
        {{"--listen", "localhost", "t"},
         "Invalid listen address 'localhost' (expected a numeric IPv4 or IPv6 address)"},
        {{"--listen"}, "Option --listen needs a value"},
        {{"--udp-port", "0", "t"}, "Invalid UDP port '0'"},
        {{"--udp-port", "x", "t"}, "Invalid UDP port 'x'"},
        {{"--frobnicate", "t"}, "Unknown option '--frobnicate'"},
        {{"--frame-idle-timeout", "-1", "t"}, "Invalid value '-1' for --frame-idle-timeout"},
        {{"--allow", "10.0.0.0/40", "t"},
         "Invalid network '10.0.0.0/40' (expected ADDRESS/PREFIX, e.g. 10.0.0.0/8 or fd00::/8)"},
    };
    for (const Case& c : cases) EXPECT_EQ(CommandLine::parse(c.args).error, c.error);
    // Every option is explained.
    for (const char* option : {"--port", "--listen", "--address", "--protocol-version", "--config", "--trace",
                               "--no-sync", "--init-sample", "--help", "--version", "--log",
                               "SIGHUP", "--udp-port", "--no-discovery", "--allow",
                               "--frame-idle-timeout",
                               "authentication"})
        EXPECT_NE(std::string(CommandLine::usage()).find(option), std::string::npos) << option;
}
