// The frame client against a scripted peer on loopback: the bytes of every request, the
// replies it accepts and refuses, and what a failure does to the data connection.
#include "vantrel/client/frames/VantrelFrameClientAPI.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "vantrel/CoException.h"
#include "tcp/TcpTestSupport.h"
#include "vantrel/client/connection/VantrelCallTimeout.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"
#include "vantrel/client/frames/VantrelFrameConnection.h"
#include "vantrel/client/frames/VantrelRedirectionsCache.h"

namespace {

using namespace std::string_literals;
using Vantrel::testing::RawListener;
using Vantrel::testing::RawSocket;

// Supplies a fixed record and counts invalidations.
class FixedProvider : public VantrelDaemonInfoMgr {
public:
    explicit FixedProvider(int framePort, const char* address = "127.0.0.1") {
        record.setFrameIPAddr(0, address);
        record.setFramePort(framePort);
    }
    const VantrelDaemonInfo* getDaemonInfo() override { return &record; }
    void invalidateDaemonInfo() override { ++invalidations; }
    const char* lastError() const override { return "no record"; }

    VantrelDaemonInfo record;
    int invalidations = 0;
};

// A listening socket on `address`:`port` (0: a port the system picks).
RawSocket listenOn(const char* address, int port, int backlog = 16) {
    RawSocket listener(::socket(AF_INET, SOCK_STREAM, 0));
    const int on = 1;
    ::setsockopt(listener.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address, &at.sin_addr);
    EXPECT_EQ(0, ::bind(listener.fd(), reinterpret_cast<sockaddr*>(&at), sizeof at))
        << address << ":" << port << ": " << std::strerror(errno);
    EXPECT_EQ(0, ::listen(listener.fd(), backlog));
    return listener;
}

int boundPort(int fd) {
    sockaddr_in at{};
    socklen_t length = sizeof at;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
    return ntohs(at.sin_port);
}

// A peer on the frame port: accepts one connection, writes `reply` at once, then records
// everything the client sends until the client closes (or, with `hangUp`, closes at once).
class ScriptedPeer {
public:
    // On `address`:`port` (0: a port the system picks).
    explicit ScriptedPeer(std::string reply, bool hangUp = false,
                          const char* address = "127.0.0.1", int port = 0)
        : listener_(listenOn(address, port)), reply_(std::move(reply)) {
        thread_ = std::thread([this, hangUp] {
            pollfd waiting{listener_.fd(), POLLIN, 0};
            if (::poll(&waiting, 1, 20000) != 1) return;  // never reached: nothing received
            RawSocket socket(::accept(listener_.fd(), nullptr, nullptr));
            socket.sendAll(reply_);
            if (hangUp) return;
            char byte[4096];
            for (;;) {
                const ssize_t n = ::recv(socket.fd(), byte, sizeof byte, 0);
                if (n <= 0) break;
                received_.append(byte, static_cast<size_t>(n));
            }
        });
    }
    ~ScriptedPeer() {
        if (thread_.joinable()) thread_.join();
    }
    int port() const { return boundPort(listener_.fd()); }
    // What the client sent; call after the client closed its connection.
    const std::string& received() {
        thread_.join();
        return received_;
    }

private:
    RawSocket listener_;
    std::string reply_;
    std::string received_;
    std::thread thread_;
};

std::string failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Vantrel::CoException& e) {
        return e.what();
    }
    return "(no failure)";
}

// One frame client on a scripted peer, for a server of the given version.
struct Rig {
    explicit Rig(const std::string& reply, int major = 2015, int minor = 0, int maint = 0,
                 bool hangUp = false)
        : peer(reply, hangUp), provider(peer.port()), connection(&provider) {
        VantrelDaemonInfo info;
        info.setVersion(major, minor, maint, 0);
        client.reset(new VantrelFrameClientAPI(&connection, info));
    }
    // Closes the connection and gives what the peer received.
    const std::string& sent() {
        connection.disconnect();
        return peer.received();
    }

    ScriptedPeer peer;
    FixedProvider provider;
    VantrelFrameConnection connection;
    std::unique_ptr<VantrelFrameClientAPI> client;
};

TEST(FrameClientWire, EveryRequestFormByteForByte) {
    char buffer[4096];
    int count = 2;
    struct Case {
        const char* label;
        int major, minor, maint;
        std::string reply;
        std::function<void(VantrelFrameClientAPI&)> call;
        std::string request;
    };
    const std::vector<Case> cases = {
        {"acknowledged read", 2015, 0, 0, "\0"s + std::string(10, 'f'),
         [&](VantrelFrameClientAPI& c) {
             c.readFrame("3.1", buffer, 10, nullptr, 0, nullptr, nullptr, false);
         },
         "ReadFrame\0"
         "3.1\0"
         "10\0"s},
        {"read with parameters", 2015, 0, 0, "\0"s + std::string(10, 'f'),
         [&](VantrelFrameClientAPI& c) {
             c.readFrame("3.1", buffer, 10, "pq", 2, nullptr, nullptr, true);
         },
         "ReadFrameParams\0"
         "3.1\0"
         "10\0"
         "2\0"
         "pq"s},
        {"no acknowledgement", 2015, 0, 0, std::string(4096, 'f'),
         [&](VantrelFrameClientAPI& c) {
             c.readFrame("3.1", buffer, 4096, nullptr, 0, nullptr, nullptr, true);
         },
         "ReadFrameNoAck\0"
         "3.1\0"
         "4096\0"s},
        {"no acknowledgement with parameters", 2015, 0, 0, std::string(4096, 'f'),
         [&](VantrelFrameClientAPI& c) {
             c.readFrame("3.1", buffer, 4096, "p", 1, nullptr, nullptr, true);
         },
         "ReadFrameParamsNoAck\0"
         "3.1\0"
         "4096\0"
         "1\0"
         "p"s},
        {"4095 bytes stay acknowledged", 2015, 0, 0, "\0"s + std::string(4095, 'f'),
         [&](VantrelFrameClientAPI& c) {
             c.readFrame("3.1", buffer, 4095, nullptr, 0, nullptr, nullptr, true);
         },
         "ReadFrame\0"
         "3.1\0"
         "4095\0"s},
        {"read-ahead only, old server", 2010, 1, 2, "",
         [&](VantrelFrameClientAPI& c) {
             c.readFrame("", buffer, 10, nullptr, 0, "3.2", nullptr, false);
         },
         "ReadAhead\0"
         "3.2\0"
         "10\0"s},
        {"read-ahead with parameters, old server", 2010, 1, 2, "",
         [&](VantrelFrameClientAPI& c) {
             c.readFrame(nullptr, buffer, 10, "x", 1, "3.2", "3.3", false);
         },
         "ReadAheadParams\0"
         "3.2\0"
         "10\0"
         "1\0"
         "x"
         "ReadAheadParams\0"
         "3.3\0"
         "10\0"
         "1\0"
         "x"s},
        {"read-ahead asking for a redirection", 2010, 1, 1, "0\0"s,
         [&](VantrelFrameClientAPI& c) {
             c.readFrame(nullptr, buffer, 10, nullptr, 0, "3.2", nullptr, false);
         },
         "ReadAheadRedirect\0"
         "3.2\0"
         "10\0"
         "0\0"s},
        {"write", 2015, 0, 0, "\0"s,
         [&](VantrelFrameClientAPI& c) { c.writeFrame("3.1", "abc", 3); },
         "WriteFrame\0"
         "3.1\0"
         "3\0"
         "abc"s},
        {"stream", 2015, 0, 0,
         "\0"
         "2\0"
         "abcd"s,
         [&](VantrelFrameClientAPI& c) { c.readStream("stream-3", buffer, 4, 5, 2, count); },
         "ReadStream\0"
         "stream-3\0"
         "4\0"
         "5\0"
         "2\0"
         "2\0"s},
        {"invalidate", 2015, 0, 0, "\0"s, [&](VantrelFrameClientAPI& c) { c.invalidateCache(); },
         "InvalidateCache\0"s},
        {"no-op", 2015, 0, 0, "", [&](VantrelFrameClientAPI& c) { c.noOp(); }, "NoOp\0"s},
    };
    for (const Case& c : cases) {
        Rig rig(c.reply, c.major, c.minor, c.maint);
        EXPECT_EQ("(no failure)", failureOf([&] { c.call(*rig.client); })) << c.label;
        EXPECT_EQ(c.request, rig.sent()) << c.label;
    }
    EXPECT_EQ(2, count);
}

TEST(FrameClientWire, TraceNamesEachRequestAndEachCompletedOperation) {
    vantrel_testing::DebugLog log;
    Vantrel::CoEnvBoolSetting& trace = VantrelFrameClientAPI::traceSetting();
    const bool saved = trace.value();
    trace.set(true);
    {
        Rig rig("\0"s + "0123456789\0"s);
        char buffer[10];
        rig.client->readFrame("3.1", buffer, 10, nullptr, 0, nullptr, nullptr, false);
        rig.client->invalidateCache();
    }
    trace.set(saved);
    EXPECT_EQ(1, log.count("Calling ReadFrame(3.1, 10)"));
    EXPECT_EQ(1, log.count("Finished ReadFrame()"));
    EXPECT_EQ(1, log.count("Calling InvalidateCache()"));
    EXPECT_EQ(1, log.count("Finished InvalidateCache()"));
}

TEST(FrameClientWire, FrameLandsInTheCallersBuffer) {
    Rig rig("\0"s + "0123456789");
    char buffer[10];
    rig.client->readFrame("3.1", buffer, 10, nullptr, 0, nullptr, nullptr, false);
    EXPECT_EQ("0123456789", std::string(buffer, 10));
}

TEST(FrameClientWire, ErrorRepliesAndTheirEffectOnTheConnection) {
    std::vector<char> buffer(8192);
    const std::string noAckError = std::string(VantrelFrameWire::ERROR_PREFIX) +
                                   "Unknown frame id: '9.9'" + std::string(8192 - 82 - 23, '\0');
    const std::string longStatus(1100, 'e');
    const std::string digits63(63, '7');
    struct Case {
        const char* label;
        std::string reply;
        std::function<void(VantrelFrameClientAPI&)> call;
        std::string error;
        bool dropped;  // the data connection is closed afterwards
    };
    int count = 1000;
    const std::vector<Case> cases = {
        {"status", "Unknown frame id: '9.9'\0"s,
         [&](VantrelFrameClientAPI& c) {
             c.readFrame("9.9", buffer.data(), 100, nullptr, 0, nullptr, nullptr, true);
         },
         "Unknown frame id: '9.9'", false},
        {"error prefix", noAckError,
         [&](VantrelFrameClientAPI& c) {
             c.readFrame("9.9", buffer.data(), 8192, nullptr, 0, nullptr, nullptr, true);
         },
         "Unknown frame id: '9.9'", false},
        {"status cut at 1023 bytes", longStatus + '\0',
         [&](VantrelFrameClientAPI& c) { c.writeFrame("1.1", "", 0); }, std::string(1023, 'e'),
         true},
        {"number of 63 digits", digits63 + '\0',
         [&](VantrelFrameClientAPI& c) {
             c.readFrame(nullptr, nullptr, 0, nullptr, 0, "1.1", nullptr, false);
         },
         "Invalid number reply from the server", true},
        {"redirect record over the cap", "100000\0"s,
         [&](VantrelFrameClientAPI& c) {
             c.readFrame(nullptr, nullptr, 0, nullptr, 0, "1.1", nullptr, false);
         },
         "Invalid redirect record size: 100000", true},
        {"stream count overflowing the buffer",
         "\0"
         "2147483647\0"s,
         [&](VantrelFrameClientAPI& c) { c.readStream("s", buffer.data(), 8192, 0, 4096, count); },
         "Buffer too small.", true},
        {"peer hangs up", "",
         [&](VantrelFrameClientAPI& c) {
             c.readFrame("1.1", buffer.data(), 100, nullptr, 0, nullptr, nullptr, false);
         },
         "", true},
    };
    for (const Case& c : cases) {
        Rig rig(c.reply, 2015, 0, 0, c.reply.empty());
        const std::string error = failureOf([&] { c.call(*rig.client); });
        if (c.error.empty()) {
            EXPECT_NE("(no failure)", error) << c.label;
        } else {
            EXPECT_EQ(c.error, error) << c.label;
        }
        EXPECT_EQ(!c.dropped, rig.connection.isConnected()) << c.label;
        EXPECT_EQ(c.dropped ? 1 : 0, rig.provider.invalidations) << c.label;
    }
    EXPECT_EQ(2147483647, count);
}

TEST(FrameConnection, ConnectFailuresInvalidateTheRecord) {
    FixedProvider none(7550, "");
    VantrelFrameConnection withoutAddress(&none);
    EXPECT_EQ("No data interface found", failureOf([&] { withoutAddress.send("x", 1); }));
    EXPECT_EQ(1, none.invalidations);

    FixedProvider refused(Vantrel::testing::closedLoopbackPort());
    refused.record.setFrameIPAddr(1, "127.0.0.1");
    VantrelFrameConnection refusing(&refused);
    EXPECT_EQ(std::strerror(ECONNREFUSED), failureOf([&] { refusing.send("x", 1); }));
    EXPECT_EQ(1, refused.invalidations);
    EXPECT_FALSE(refusing.isConnected());
}

TEST(FrameConnection, SocketBufferSizesComeFromTheEnvironment) {
    FixedProvider provider(7550);
    {
        Vantrel::testing::ScopedEnv size("KQ_VANTREL_TCP_BUF_SIZE", "262144");
        VantrelFrameConnection connection(&provider);
        EXPECT_EQ(262144, connection.sendBufferSize());
        EXPECT_EQ(262144, connection.receiveBufferSize());
    }
    Vantrel::testing::ScopedEnv unset("KQ_VANTREL_TCP_BUF_SIZE", nullptr);
    EXPECT_EQ(0, VantrelFrameConnection(&provider).sendBufferSize());
}

TEST(FrameConnection, PortZeroMeansTheDefaultFramePort) {
    RawListener listener;  // only to learn that loopback works; 7550 is taken below
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(7550);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        GTEST_SKIP() << "port 7550 is in use here";
    }
    ::listen(fd, 1);
    FixedProvider provider(0);
    VantrelFrameConnection connection(&provider);
    EXPECT_EQ("(no failure)", failureOf([&] { connection.send("NoOp", 5); }));
    EXPECT_TRUE(connection.isConnected());
    ::close(fd);
}

// The reply to "ReadAheadRedirect": frame held by the server at `address`:`framePort`.
std::string redirectTo(const char* address, int framePort) {
    VantrelDaemonInfo record;
    record.setIPAddr(0, address);
    record.setFrameIPAddr(0, address);
    record.setFramePort(framePort);
    const std::string stream = record.toAttrStream().getStreamStr();
    return VantrelFrameWire::numberField(static_cast<long>(stream.size())) + stream;
}

VantrelDaemonInfo targetRecord(const char* address, int framePort) {
    VantrelDaemonInfo record;
    record.setFrameIPAddr(0, address);
    record.setFramePort(framePort);
    return record;
}

// A listener whose accept queue is full: it drops further connection requests, so a connect
// to it waits.
class FullListener {
public:
    FullListener() : listener_(listenOn("127.0.0.1", 0, 0)) {
        for (int i = 0; i < 3; ++i) {
            queued_.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            sockaddr_in at{};
            at.sin_family = AF_INET;
            at.sin_port = htons(static_cast<uint16_t>(port()));
            at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::connect(queued_.back().fd(), reinterpret_cast<sockaddr*>(&at), sizeof at);
        }
    }
    int port() const { return boundPort(listener_.fd()); }

private:
    RawSocket listener_;
    std::vector<RawSocket> queued_;
};

// The failure of `action`, run on a thread of its own while `stop` is called again and again.
std::string failureWhileStopping(const std::function<void()>& action,
                                 const std::function<void()>& stop) {
    std::atomic<bool> done{false};
    std::string error;
    std::thread running([&] {
        error = failureOf(action);
        done = true;
    });
    while (!done) {
        stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    running.join();
    return error;
}

TEST(FrameConnection, StopGivesUpAConnectUnderWay) {
    FullListener full;
    FixedProvider provider(full.port());
    VantrelFrameConnection connection(&provider);
    const std::string error = failureWhileStopping(
        [&] {
            connection.beginRequest();
            connection.send("NoOp", 5);
        },
        [&] { connection.stop(); });
    EXPECT_EQ(std::strerror(ECONNABORTED), error);
    EXPECT_FALSE(connection.unreachable());  // stopped, not unreachable
}

// A stop that reaches a read-ahead connecting to a redirect target ends the whole read: the
// frame is not read from the primary afterwards.
TEST(FrameClient, StopDuringARedirectTargetsConnectEndsTheRead) {
    FullListener full;
    Rig rig(redirectTo("127.0.0.1", full.port()) + "\0"s + "3333");
    rig.client->readFrame(nullptr, nullptr, 0, nullptr, 0, "f4", nullptr, false);
    char buffer[4];
    const std::string error = failureWhileStopping(
        [&] { rig.client->readFrame("f3", buffer, 4, nullptr, 0, "f4", nullptr, false); },
        [&] {
            rig.connection.stop();
            rig.client->redirections().stopAll();
        });
    EXPECT_EQ(std::strerror(ECONNABORTED), error);
    EXPECT_NE(nullptr, rig.client->redirections().connectionFor("f4"));  // not forgotten
}

TEST(RedirectionsCache, LeastRecentlyUsedSlotMakesRoom) {
    uint64_t now = 0;
    VantrelRedirectionsCache cache(32, [&] { return ++now; });
    VantrelDaemonInfo record;
    for (int i = 0; i < 32; ++i) cache.store("f" + std::to_string(i), record);
    ASSERT_NE(nullptr, cache.connectionFor("f0"));  // a hit refreshes slot 0
    cache.store("f32", record);
    EXPECT_EQ("f0", cache.entry(0).key);
    EXPECT_EQ("f32", cache.entry(1).key);
    EXPECT_EQ(nullptr, cache.connectionFor("f1"));
    cache.store("f5", record);  // a known key keeps its slot
    EXPECT_EQ("f5", cache.entry(5).key);
    EXPECT_EQ("f2", cache.entry(2).key);

    VantrelRedirectionsCache none(0, nullptr);
    none.store("f0", record);
    EXPECT_EQ(nullptr, none.connectionFor("f0"));
}

TEST(RedirectionsCache, SizeComesFromTheEnvironment) {
    struct Case {
        const char* value;
        size_t slots;
    };
    const Case cases[] = {{nullptr, 32}, {"3", 3}, {"0", 0}, {"-4", 0}};
    for (const Case& c : cases) {
        Vantrel::testing::ScopedEnv size("ZR_VANTREL_REDIRECTION_CACHE_SIZE", c.value);
        EXPECT_EQ(c.slots, VantrelRedirectionsCache().size()) << (c.value ? c.value : "unset");
    }
}

TEST(RedirectionsCache, ConnectionsAreKeyedByAddressAndPort) {
    VantrelRedirectionsCache cache(4, nullptr);
    cache.store("x", targetRecord("127.0.0.2", 7001));
    cache.store("y", targetRecord("127.0.0.2", 7001));
    cache.store("z", targetRecord("127.0.0.3", 7001));
    cache.store("w", targetRecord("127.0.0.2", 7002));
    EXPECT_EQ(cache.connectionFor("x"), cache.connectionFor("y"));
    EXPECT_NE(cache.connectionFor("x"), cache.connectionFor("z"));
    EXPECT_NE(cache.connectionFor("x"), cache.connectionFor("w"));
    EXPECT_EQ(3u, cache.connectionCount());
    // Slots moved to another server leave their connection: the last one leaving closes it.
    cache.store("x", targetRecord("127.0.0.3", 7001));
    EXPECT_EQ(cache.connectionFor("x"), cache.connectionFor("z"));
    EXPECT_EQ(3u, cache.connectionCount());
    cache.store("y", targetRecord("127.0.0.2", 7002));
    EXPECT_EQ(2u, cache.connectionCount());
    // A server forgotten frees its slots: their frames have no redirect any more.
    cache.forget(cache.connectionFor("z"));
    EXPECT_EQ(nullptr, cache.connectionFor("x"));
    EXPECT_EQ(nullptr, cache.connectionFor("z"));
    EXPECT_NE(nullptr, cache.connectionFor("y"));
    EXPECT_EQ(1u, cache.connectionCount());
}

// Targets on different hosts that listen on the same frame port each send their own frames.
TEST(FrameClient, RedirectTargetsOnTheSameFramePortKeepTheirOwnConnections) {
    VantrelCallTimeout::set(5000);  // a read sent to the wrong peer waits for nothing
    ScriptedPeer first("\0"s + "BBBB" + "\0"s + "BBBB", false, "127.0.0.2");
    const int port = first.port();
    ScriptedPeer second("\0"s + "CCCC" + "\0"s + "CCCC", false, "127.0.0.3", port);
    Rig rig(redirectTo("127.0.0.2", port) + redirectTo("127.0.0.3", port));
    char buffer[4];
    rig.client->readFrame(nullptr, nullptr, 0, nullptr, 0, "B1", "C1", false);
    for (const char* frame : {"B1", "C1", "B1", "C1"}) {
        EXPECT_EQ("(no failure)", failureOf([&] {
                      rig.client->readFrame(frame, buffer, sizeof buffer, nullptr, 0, nullptr,
                                            nullptr, false);
                  }));
        EXPECT_EQ(std::string(4, frame[0]), std::string(buffer, 4)) << frame;
    }
    rig.client.reset();  // closes the targets' connections
    EXPECT_EQ("ReadFrame\0B1\0" "4\0ReadFrame\0B1\0" "4\0"s, first.received());
    EXPECT_EQ("ReadFrame\0C1\0" "4\0ReadFrame\0C1\0" "4\0"s, second.received());
    VantrelCallTimeout::set(0);
}

// A redirect to a port where nothing listens: the read-ahead's failure does not fail the frame
// the primary sends, and the redirected frame is then asked of the primary.
TEST(FrameClient, UnreachableRedirectTargetIsForgotten) {
    int deadPort = 0;
    {
        const RawSocket closed = listenOn("127.0.0.1", 0);
        deadPort = boundPort(closed.fd());
    }
    Rig rig(redirectTo("127.0.0.1", deadPort) + "\0"s + "3333" + "\0"s + "4444");
    char buffer[4];
    rig.client->readFrame(nullptr, nullptr, 0, nullptr, 0, "f4", nullptr, false);
    ASSERT_NE(nullptr, rig.client->redirections().connectionFor("f4"));
    EXPECT_EQ("(no failure)", failureOf([&] {
                  rig.client->readFrame("f3", buffer, 4, nullptr, 0, "f4", nullptr, false);
              }));
    EXPECT_EQ("3333", std::string(buffer, 4));
    EXPECT_EQ(nullptr, rig.client->redirections().connectionFor("f4"));
    rig.client->readFrame("f4", buffer, 4, nullptr, 0, nullptr, nullptr, false);
    EXPECT_EQ("4444", std::string(buffer, 4));
    EXPECT_EQ("ReadAheadRedirect\0f4\0" "0\0" "0\0ReadFrame\0f3\0" "4\0ReadFrame\0f4\0" "4\0"s,
              rig.sent());
}

size_t openDescriptors() {
    size_t count = 0;
    DIR* fds = ::opendir("/proc/self/fd");
    while (fds != nullptr && ::readdir(fds) != nullptr) ++count;
    if (fds != nullptr) ::closedir(fds);
    return count;
}

// A primary naming a new server for every frame cannot make the client hold a socket per
// server: connections no slot names are closed.
TEST(RedirectionsCache, ConnectionsAreBoundedByTheSlots) {
    std::vector<RawListener> targets(12);
    VantrelRedirectionsCache cache(3, nullptr);
    const size_t before = openDescriptors();
    for (size_t i = 0; i < targets.size(); ++i) {
        const std::string frame = "f" + std::to_string(i);
        cache.store(frame, targetRecord("127.0.0.1", targets[i].port()));
        cache.connectionFor(frame)->send("NoOp", 5);
    }
    EXPECT_LE(openDescriptors(), before + 3);
    EXPECT_EQ(3u, cache.connectionCount());
}

TEST(FrameClient, RedirectionRuleOfVersions) {
    struct Case {
        int major, minor, maint;
        bool enabled;
    };
    const Case cases[] = {{2010, 1, 0, false}, {2010, 1, 1, true},  {2010, 1, 2, false},
                          {2010, 2, 0, true},  {2009, 9, 9, false}, {2011, 0, 0, true}};
    for (const Case& c : cases) {
        VantrelDaemonInfo info;
        info.setVersion(c.major, c.minor, c.maint, 0);
        EXPECT_EQ(c.enabled, VantrelFrameClientAPI::redirectionsEnabledFor(info))
            << c.major << "." << c.minor << "." << c.maint;
    }
}

}  // namespace
