#include "tcp/CoIoTcpDescriptor.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/tcp.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vantrel/CoException.h"
#include "osal/CoTime.h"
#include "tcp/TcpTestSupport.h"

namespace Vantrel {
namespace {

using testing::DebugCapture;
using testing::RawListener;
using testing::RawSocket;
using testing::ScopedEnv;
using testing::ScopedFakeResolver;

const char HOST_NOT_FOUND_TEXT[] = "Name or service not known";
const char REFUSED_TEXT[] = "Connection refused";
const char TIMED_OUT_TEXT[] = "Connection timed out";

// A loopback listener whose accept queue is full: further connects get no answer at all.
struct SilentListener {
    SilentListener() : listener(false, 0), filler(listener.connectClient()) {}
    RawListener listener;
    RawSocket filler;
};

std::string repeat(const std::string& text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i) result += text;
    return result;
}

std::string portBytes(int port) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x %02x ", (port >> 8) & 0xff, port & 0xff);
    return text;
}

// --- connecting ---------------------------------------------------------------------------

TEST(CoIoTcpDescriptorConnect, ANameThatDoesNotResolveLeavesHostNotFound) {
    ScopedFakeResolver resolver;
    const struct {
        const char* host;
        int port;
    } cases[] = {
        {"nowhere.invalid", 7549},
        {"127.0.0.1", 70000},  // the system would cut it to port 4464
    };
    for (const auto& c : cases) {
        std::unique_ptr<CoIoTcpDescriptor> io;
        EXPECT_NO_THROW(io.reset(new CoIoTcpDescriptor(c.host, c.port, 0, 0, 1)));
        EXPECT_FALSE(io->isValid()) << c.host;
        EXPECT_EQ(HOST_NOT_FOUND_TEXT, io->lastError()) << c.host;
    }
}

TEST(CoIoTcpDescriptorConnect, APortWithoutListenerIsRefused) {
    const int port = testing::closedLoopbackPort();
    CoIoTcpDescriptor io("127.0.0.1", port, 0, 0, 5);
    EXPECT_FALSE(io.isValid());
    EXPECT_EQ(CoIoDescriptor::INVALID_ID, io.id());
    EXPECT_EQ(REFUSED_TEXT, io.lastError());
}

TEST(CoIoTcpDescriptorConnect, AHostThatDoesNotAnswerTimesOutAfterTheTimeout) {
    SilentListener silent;
    const uint64_t start = CoTime::monotonicMs();
    CoIoTcpDescriptor io("127.0.0.1", silent.listener.port(), 0, 0, 1);
    const uint64_t elapsed = CoTime::monotonicMs() - start;
    EXPECT_FALSE(io.isValid());
    EXPECT_EQ(TIMED_OUT_TEXT, io.lastError());
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 10000u);
}

TEST(CoIoTcpDescriptorConnect, FallsBackToTheNextAddressAndTellsEachStepWhenDebugging) {
    ScopedFakeResolver resolver;
    ScopedEnv debug("ZR_TCP_DEBUG", "");  // present, whatever its value
    DebugCapture messages;
    RawListener listener;  // IPv4 only: the same port on ::1 refuses
    const int port = listener.port();
    resolver.add("dual.test", {"::1", "127.0.0.1"});

    CoIoTcpDescriptor io("dual.test", port, 0, 0, 5);
    ASSERT_TRUE(io.isValid()) << io.lastError();
    EXPECT_EQ("", io.lastError());
    const std::vector<std::string> expected = {
        "Calling getaddrinfo( dual.test, " + std::to_string(port) + " ).",
        "Trying family 10 with addr (len 28):",
        "0a 00 " + portBytes(port) + "00 00 00 00 " + repeat("00 ", 15) + "01 00 00 00 00 ",
        "Trying family 2 with addr (len 16):",
        "02 00 " + portBytes(port) + "7f 00 00 01 " + repeat("00 ", 8),
        "Connected to dual.test:" + std::to_string(port) + " [fd:" + std::to_string(io.id()) + "]",
    };
    EXPECT_EQ(expected, messages.texts());
}

TEST(CoIoTcpDescriptorConnect, WithoutDebugOnlyTheConnectionIsPosted) {
    ScopedEnv debug("ZR_TCP_DEBUG", nullptr);
    DebugCapture messages;
    RawListener listener;
    CoIoTcpDescriptor io("127.0.0.1", listener.port(), 0, 0, 5);
    ASSERT_TRUE(io.isValid()) << io.lastError();
    const std::string expected = "Connected to 127.0.0.1:" + std::to_string(listener.port()) +
                                 " [fd:" + std::to_string(io.id()) + "]";
    EXPECT_EQ(std::vector<std::string>{expected}, messages.texts());
}

TEST(CoIoTcpDescriptorConnect, WhenEveryAddressFailsTheLastFailureIsReported) {
    ScopedFakeResolver resolver;
    SilentListener silent;  // 127.0.0.1 times out; nobody listens on ::1 at that port
    resolver.add("v4-first.test", {"127.0.0.1", "::1"});
    resolver.add("v6-first.test", {"::1", "127.0.0.1"});

    CoIoTcpDescriptor refusedLast("v4-first.test", silent.listener.port(), 0, 0, 1);
    EXPECT_FALSE(refusedLast.isValid());
    EXPECT_EQ(REFUSED_TEXT, refusedLast.lastError());

    CoIoTcpDescriptor timedOutLast("v6-first.test", silent.listener.port(), 0, 0, 1);
    EXPECT_FALSE(timedOutLast.isValid());
    EXPECT_EQ(TIMED_OUT_TEXT, timedOutLast.lastError());
}

TEST(CoIoTcpDescriptorConnect, TheSocketIsNonBlockingWithNoDelayAndNotInherited) {
    RawListener listener;
    CoIoTcpDescriptor io("127.0.0.1", listener.port(), 65536, 65536, 5);
    ASSERT_TRUE(io.isValid()) << io.lastError();
    EXPECT_TRUE(fcntl(io.id(), F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(fcntl(io.id(), F_GETFD) & FD_CLOEXEC);
    int noDelay = 0;
    socklen_t length = sizeof noDelay;
    ASSERT_EQ(0, getsockopt(io.id(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &length));
    EXPECT_EQ(1, noDelay);
    int receiveBuffer = 0;
    length = sizeof receiveBuffer;
    ASSERT_EQ(0, getsockopt(io.id(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, &length));
    EXPECT_GE(receiveBuffer, 65536);
}

TEST(CoIoTcpDescriptorConnect, BothEndsKnowTheirNumericAddresses) {
    for (const bool ipv6 : {false, true}) {
        RawListener listener(ipv6);
        CoIoTcpDescriptor io(listener.host(), listener.port(), 0, 0, 5);
        ASSERT_TRUE(io.isValid()) << io.lastError();
        std::string local;
        std::string peer;
        io.getSocketIP(local);
        io.getPeerIP(peer);
        EXPECT_EQ(listener.host(), local);
        EXPECT_EQ(listener.host(), peer);
    }
}

TEST(CoIoTcpDescriptorConnect, AddressOfAClosedDescriptorIsPostedAsAnErrorAndLeavesTheOutput) {
    RawListener listener;
    CoIoTcpDescriptor io("127.0.0.1", listener.port(), 0, 0, 5);
    ASSERT_TRUE(io.close());
    testing::MessageCapture messages;
    std::string peer = "unchanged";
    io.getPeerIP(peer);
    EXPECT_EQ("unchanged", peer);
    ASSERT_EQ(1u, messages.messages().size());
    EXPECT_EQ(CoMsg::ERROR_LEVEL, messages.messages()[0].level());
    EXPECT_EQ("Bad file descriptor", messages.messages()[0].text());
}

// --- names and addresses ------------------------------------------------------------------

TEST(CoIoTcpDescriptorNames, HostNameIsCutAtItsFirstDotUnlessTheRestIsLocal) {
    ScopedFakeResolver resolver;
    const struct {
        const char* system;
        const char* expected;
    } cases[] = {
        {"alpha.example.org", "alpha"},
        {"alpha.local", "alpha.local"},
        {"box.localdomain", "box.localdomain"},
        {"alpha", "alpha"},
    };
    for (const auto& c : cases) {
        resolver.setLocalHostName(c.system);
        EXPECT_EQ(c.expected, CoIoTcpDescriptor::getHostName()) << c.system;
    }
}

TEST(CoIoTcpDescriptorNames, DisplayableHostNameKeepsDottedAddresses) {
    const struct {
        const char* name;
        const char* expected;
    } cases[] = {
        {"10.1.2.3", "10.1.2.3"},
        {"alpha.example.org", "alpha"},
        {"alpha", "alpha"},
        {"", ""},
        {"fe80::1", "fe80::1"},
        {"10.1.2.3.example", "10"},
    };
    for (const auto& c : cases) {
        std::string name = c.name;
        CoIoTcpDescriptor::makeDisplayableHostName(name);
        EXPECT_EQ(c.expected, name) << c.name;
    }
}

TEST(CoIoTcpDescriptorNames, AddressOfANameSkipsLoopbackAndLinkLocal) {
    ScopedFakeResolver resolver;
    const struct {
        std::vector<std::string> addresses;
        const char* expected;
    } cases[] = {
        {{"127.0.0.1", "::1", "fe80::1", "10.1.2.3"}, "10.1.2.3"},
        {{"::1", "2001:db8::5", "10.1.2.3"}, "2001:db8::5"},
        {{"127.0.1.1"}, "127.0.1.1"},
    };
    for (const auto& c : cases) {
        resolver.add("host.test", c.addresses);
        EXPECT_EQ(c.expected, CoIoTcpDescriptor::getIpAddrFromHostName("host.test"));
    }
    // the system's resolver, which needs no DNS for a numeric address
    CoNameResolver::install(nullptr);
    EXPECT_EQ("192.0.2.7", CoIoTcpDescriptor::getIpAddrFromHostName("192.0.2.7"));
}

TEST(CoIoTcpDescriptorNames, LookupFailuresThrowAndTheirTwinsSayWhy) {
    ScopedFakeResolver resolver;
    resolver.add("loopback-only.test", {"127.0.0.1", "::1", "fe80::2"});
    resolver.setLocalHostName("");
    DebugCapture messages;

    const struct {
        const char* what;
        std::function<std::string()> lookup;
        std::function<bool(std::string&)> twin;
        const char* exceptionText;
        const char* message;
    } cases[] = {
        {"unknown name", [] { return CoIoTcpDescriptor::getIpAddrFromHostName("nowhere.test"); },
         [](std::string& out) {
             return CoIoTcpDescriptor::getIpAddrFromHostName("nowhere.test", out);
         },
         HOST_NOT_FOUND_TEXT, "Could not resolve 'nowhere.test': Name or service not known"},
        {"no usable address",
         [] { return CoIoTcpDescriptor::getIpAddrFromHostName("loopback-only.test"); },
         [](std::string& out) {
             return CoIoTcpDescriptor::getIpAddrFromHostName("loopback-only.test", out);
         },
         HOST_NOT_FOUND_TEXT, "Could not resolve 'loopback-only.test': Name or service not known"},
        {"no host name", [] { return CoIoTcpDescriptor::getHostName(); },
         [](std::string& out) { return CoIoTcpDescriptor::getHostName(out); }, "No host name",
         "Could not get host name: No host name"},
        {"no name for the address",
         [] { return CoIoTcpDescriptor::getHostNameFromIpAddr("10.9.9.9", true); },
         [](std::string& out) {
             return CoIoTcpDescriptor::getHostNameFromIpAddr("10.9.9.9", out, true);
         },
         HOST_NOT_FOUND_TEXT, "Could not get host name of '10.9.9.9': Name or service not known"},
    };
    for (const auto& c : cases) {
        try {
            c.lookup();
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const CoException& e) {
            EXPECT_STREQ(c.exceptionText, e.what()) << c.what;
        }
        messages.clear();
        std::string out = "unchanged";
        EXPECT_FALSE(c.twin(out)) << c.what;
        EXPECT_EQ("unchanged", out) << c.what;
        EXPECT_EQ(std::vector<std::string>{c.message}, messages.texts()) << c.what;
    }
}

TEST(CoIoTcpDescriptorNames, HostNameOfAnAddress) {
    ScopedFakeResolver resolver;
    resolver.addName("10.1.2.3", "alpha");
    EXPECT_EQ("alpha", CoIoTcpDescriptor::getHostNameFromIpAddr("10.1.2.3", true));
    EXPECT_EQ("10.9.9.9", CoIoTcpDescriptor::getHostNameFromIpAddr("10.9.9.9", false));
    EXPECT_EQ("", CoIoTcpDescriptor::getHostNameFromIpAddr("not-an-address.test", true));
    std::string out;
    EXPECT_TRUE(CoIoTcpDescriptor::getHostNameFromIpAddr("10.1.2.3", out, true));
    EXPECT_EQ("alpha", out);
}

TEST(CoIoTcpDescriptorNames, LocalAddressIsLookedUpOnceUntilTheCacheIsReset) {
    ScopedFakeResolver resolver;
    resolver.setLocalHostName("testhost.example.org");
    resolver.add("testhost", {"10.0.0.1"});
    CoIoTcpDescriptor::resetCachedValues();

    EXPECT_EQ("10.0.0.1", CoIoTcpDescriptor::getLocalIP());
    resolver.add("testhost", {"10.0.0.2"});
    EXPECT_EQ("10.0.0.1", CoIoTcpDescriptor::getLocalIP());
    EXPECT_EQ(1, resolver.resolveCount());

    CoIoTcpDescriptor::resetCachedValues();
    std::string out;
    EXPECT_TRUE(CoIoTcpDescriptor::getLocalIP(out));
    EXPECT_EQ("10.0.0.2", out);
    EXPECT_EQ(2, resolver.resolveCount());

    CoIoTcpDescriptor::resetCachedValues();
    resolver.remove("testhost");
    EXPECT_THROW(CoIoTcpDescriptor::getLocalIP(), CoException);
    DebugCapture messages;
    EXPECT_FALSE(CoIoTcpDescriptor::getLocalIP(out));
    EXPECT_EQ(std::vector<std::string>{"Could not get host IP: Name or service not known"},
              messages.texts());
    resolver.add("testhost", {"10.0.0.3"});
    EXPECT_EQ("10.0.0.3", CoIoTcpDescriptor::getLocalIP());
    CoIoTcpDescriptor::resetCachedValues();
}

}  // namespace
}  // namespace Vantrel
