#include "network/CoNetworkDispatcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "network/NetworkTestSupport.h"
#include "testing/MessageCapture.h"

namespace Vantrel {
namespace {

using testing::FakeEnumerator;
using testing::GATEWAY;
using testing::LOOPBACK;
using testing::MULTICAST;
using testing::rawInterface;
using testing::ScratchNetworkConfig;
using testing::UP;
typedef CoNetworkDispatcher D;

// The host of most tests, listed out of order on purpose: an IPv6-only multicast interface,
// a plain interface, loopback, the gateway's interface, one that is down and one address of
// another family.
std::vector<CoRawInterface> sampleHost() {
    return {
        rawInterface("eth2", "fe80::2", UP | MULTICAST, CoAddressFamily::IPV6, "ffff:ffff::"),
        rawInterface("eth1", "10.0.1.1", UP),
        rawInterface("lo", "127.0.0.1", UP | LOOPBACK, CoAddressFamily::IPV4, "255.0.0.0"),
        rawInterface("eth0", "10.0.0.1", UP | MULTICAST | GATEWAY),
        rawInterface("down0", "10.0.9.1", MULTICAST),
        rawInterface("pkt0", "", UP, CoAddressFamily::OTHER),
    };
}

std::string namesOf(const std::vector<CoNetworkInterface>& interfaces) {
    std::string names;
    for (const CoNetworkInterface& networkInterface : interfaces)
        names += (names.empty() ? "" : " ") + networkInterface.getName();
    return names;
}

class DispatcherTest : public ::testing::Test {
protected:
    // A dispatcher (without monitoring) over the fake host, reading `configText`.
    D& dispatcherWith(const std::string& configText) {
        config_.reset(new ScratchNetworkConfig(configText));
        dispatcher_.reset(new D(0, &enumerator_, config_->get()));
        return *dispatcher_;
    }

    std::string listed(D::Type type, const D::Filter& filter = D::Filter()) {
        std::vector<CoNetworkInterface> interfaces;
        EXPECT_TRUE(dispatcher_->getInterfaces(interfaces, type, filter));
        return namesOf(interfaces);
    }

    // The first address of `name` in the ALL list.
    CoNetworkInterface find(const std::string& name) {
        std::vector<CoNetworkInterface> all;
        dispatcher_->getInterfaces(all, D::ALL);
        for (const CoNetworkInterface& networkInterface : all)
            if (networkInterface.getName() == name) return networkInterface;
        ADD_FAILURE() << name << " is not listed";
        return CoNetworkInterface();
    }

    testing::MessageCapture messages_;
    FakeEnumerator enumerator_;
    std::unique_ptr<ScratchNetworkConfig> config_;
    std::unique_ptr<D> dispatcher_;
};

TEST_F(DispatcherTest, ListsFollowTheConfiguredNames) {
    enumerator_.set(sampleHost());
    const struct {
        const char* config;
        D::Type type;
        const char* expected;
    } cases[] = {
        // Nothing configured: every address that is up, loopback and the gateway first.
        {"", D::ALL, "eth2 eth1 lo eth0"},
        {"", D::METADATA, "lo eth0 eth1 eth2"},
        {"", D::DATA, "lo eth0 eth1 eth2"},
        {"", D::MULTICAST, "eth0 eth2"},
        // A configured list takes the names it holds, in its order, and always loopback.
        {"[Interfaces]\nData = eth1, bogus0\n", D::DATA, "lo eth1"},
        {"[Interfaces]\nData = eth1, bogus0\n", D::ALL, "eth2 eth1 lo eth0"},
        {"[Interfaces]\nData = eth1, bogus0\n", D::METADATA, "lo eth0 eth1 eth2"},
        {"[Interfaces]\nMetadata = eth2, eth0\n", D::METADATA, "lo eth2 eth0"},
        // Named loopback takes its place in the list.
        {"[Interfaces]\nData = eth1, lo\n", D::DATA, "eth1 lo"},
        // Multicast: named and multicast-capable.
        {"[Interfaces]\nMulticast = eth1, eth2\n", D::MULTICAST, "eth2"},
    };
    for (const auto& c : cases) {
        dispatcherWith(c.config);
        EXPECT_EQ(c.expected, listed(c.type))
            << "config '" << c.config << "' list " << D::getTypeStr(c.type);
    }
}

TEST_F(DispatcherTest, AttributesAddressesAndFilter) {
    enumerator_.set(sampleHost());
    dispatcherWith("");
    typedef CoNetworkInterface I;
    const struct {
        const char* name;
        uint32_t attributes;
        const char* ip;
        const char* netmask;
    } cases[] = {
        {"lo", I::LOOPBACK | I::IPV4, "127.0.0.1", "255.0.0.0"},
        {"eth0", I::IPV4 | I::MULTICAST | I::GATEWAY, "10.0.0.1", "255.255.255.0"},
        {"eth1", I::IPV4, "10.0.1.1", "255.255.255.0"},
        {"eth2", I::IPV6 | I::MULTICAST, "fe80::2", "ffff:ffff::"},
    };
    for (const auto& c : cases) {
        const CoNetworkInterface found = find(c.name);
        EXPECT_EQ(CoNetworkInterface(c.name, c.attributes, c.ip, c.netmask, 1000), found)
            << c.name << ": " << CoNetworkInterface::getAttributesStr(found.getAttributes());
    }
    EXPECT_EQ("lo eth0 eth1", listed(D::DATA, D::IPv4Filter));
}

TEST_F(DispatcherTest, ConfiguredListLimitsMulticastAttribute) {
    enumerator_.set(sampleHost());
    dispatcherWith("[Interfaces]\nMulticast = eth2\n");
    EXPECT_EQ("eth2", listed(D::MULTICAST));
    EXPECT_FALSE(find("eth0").hasAttributes(CoNetworkInterface::MULTICAST));
}

TEST_F(DispatcherTest, NamesMatchingNoInterfaceThatIsUpAreReported) {
    enumerator_.set(sampleHost());
    dispatcherWith("[Interfaces]\nData = eth1, bogus0\nMetadata = down0\nMulticast = eth2\n");
    ASSERT_TRUE(dispatcher_->refresh(false));
    std::vector<std::string> warnings;
    for (const CoMsg& msg : messages_.messages())
        if (msg.text().find("is invalid or down") != std::string::npos)
            warnings.push_back(msg.text());
    EXPECT_EQ((std::vector<std::string>{"Metadata interface 'down0' is invalid or down",
                                        "Data interface 'bogus0' is invalid or down"}),
              warnings);
}

TEST(DispatcherOrder, BothSortsDecideByTheFirstDifference) {
    const auto entry = [](const char* name, uint32_t attributes, uint32_t throughput,
                          unsigned preference) {
        const auto networkInterface = std::make_shared<const CoNetworkInterface>(
            name, attributes | CoNetworkInterface::IPV4, "10.0.0.1", "", throughput);
        return D::Entry{networkInterface, preference};
    };
    const uint32_t LO = CoNetworkInterface::LOOPBACK, GW = CoNetworkInterface::GATEWAY;
    const struct {
        const char* what;
        D::Entry a, b;
        bool metadataFirst, dataFirst;   // a before b
    } cases[] = {
        {"preference beats loopback", entry("eth9", 0, 1000, 0), entry("lo", LO, 1000, 1),
         true, true},
        {"loopback beats throughput", entry("lo", LO, 10, 0), entry("eth0", 0, 1000, 0),
         true, true},
        {"lower throughput for metadata, higher for data", entry("eth9", 0, 10, 0),
         entry("eth0", GW, 1000, 0), true, false},
        {"throughput beats gateway", entry("eth9", GW, 1000, 0), entry("eth0", 0, 10, 0),
         false, true},
        {"gateway beats name", entry("eth9", GW, 1000, 0), entry("eth0", 0, 1000, 0),
         true, true},
        {"name breaks the tie", entry("eth0", 0, 1000, 0), entry("eth1", 0, 1000, 0),
         true, true},
        {"byte order of names", entry("Eth9", 0, 1000, 0), entry("eth0", 0, 1000, 0),
         true, true},
        {"equal is not before", entry("eth0", 0, 1000, 0), entry("eth0", 0, 1000, 0),
         false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.metadataFirst, D::metadataSort(c.a, c.b)) << c.what;
        EXPECT_EQ(c.dataFirst, D::dataSort(c.a, c.b)) << c.what;
        // Strictness: never both ways round.
        EXPECT_FALSE(D::metadataSort(c.a, c.b) && D::metadataSort(c.b, c.a)) << c.what;
        EXPECT_FALSE(D::dataSort(c.a, c.b) && D::dataSort(c.b, c.a)) << c.what;
    }
}

// Records what observers hear, as "+name ip" and "-name ip".
class Recorder : public D::Observer {
public:
    void notify(D::Event event, const CoNetworkInterface& networkInterface) override {
        events.push_back((event == D::INTERFACE_ADDED ? "+" : "-") + networkInterface.getName() +
                         " " + networkInterface.getIP());
    }
    std::vector<std::string> events;
};

TEST_F(DispatcherTest, ObserversHearRemovalsBeforeAdditions) {
    enumerator_.set({rawInterface("lo", "127.0.0.1", UP | LOOPBACK),
                     rawInterface("eth0", "10.0.0.1", UP), rawInterface("eth1", "10.0.1.1", UP)});
    dispatcherWith("");
    Recorder recorder;
    dispatcher_->addObserver(&recorder);
    ASSERT_TRUE(dispatcher_->refresh(false));
    EXPECT_EQ((std::vector<std::string>{"+lo 127.0.0.1", "+eth0 10.0.0.1", "+eth1 10.0.1.1"}),
              recorder.events);

    // eth1 went, eth3 came and eth0 changed its address.
    enumerator_.set({rawInterface("eth3", "10.0.3.1", UP),
                     rawInterface("lo", "127.0.0.1", UP | LOOPBACK),
                     rawInterface("eth0", "10.0.0.2", UP)});
    recorder.events.clear();
    ASSERT_TRUE(dispatcher_->refresh(true));
    EXPECT_EQ((std::vector<std::string>{"-eth0 10.0.0.1", "-eth1 10.0.1.1", "+eth3 10.0.3.1",
                                        "+eth0 10.0.0.2"}),
              recorder.events);

    // Nothing changed, or not forced: nothing heard; a removed observer hears nothing.
    recorder.events.clear();
    const int calls = enumerator_.calls();
    ASSERT_TRUE(dispatcher_->refresh(false));
    EXPECT_EQ(calls, enumerator_.calls());
    ASSERT_TRUE(dispatcher_->refresh(true));
    dispatcher_->removeObserver(&recorder);
    enumerator_.set({});
    ASSERT_TRUE(dispatcher_->refresh(true));
    EXPECT_TRUE(recorder.events.empty());
}

TEST_F(DispatcherTest, ObserverMayRemoveItselfWhileBeingTold) {
    class Leaver : public Recorder {
    public:
        explicit Leaver(D& dispatcher) : dispatcher_(dispatcher) {}
        void notify(D::Event event, const CoNetworkInterface& networkInterface) override {
            Recorder::notify(event, networkInterface);
            dispatcher_.removeObserver(this);
        }
        D& dispatcher_;
    };
    enumerator_.set({rawInterface("eth0", "10.0.0.1", UP), rawInterface("eth1", "10.0.1.1", UP)});
    D& dispatcher = dispatcherWith("");
    Leaver leaver(dispatcher);
    Recorder stayer;
    dispatcher.addObserver(&leaver);
    dispatcher.addObserver(&stayer);
    ASSERT_TRUE(dispatcher.refresh(false));
    EXPECT_EQ(1u, leaver.events.size());
    EXPECT_EQ(2u, stayer.events.size());
}

TEST_F(DispatcherTest, FailedEnumerationIsReportedAndKeepsTheLists) {
    enumerator_.failWith("Cannot allocate memory");
    dispatcherWith("");
    std::vector<CoNetworkInterface> interfaces;
    EXPECT_FALSE(dispatcher_->getInterfaces(interfaces, D::ALL));
    EXPECT_TRUE(interfaces.empty());
    EXPECT_EQ("Could not retrieve interfaces list: Cannot allocate memory",
              dispatcher_->getLastError());

    enumerator_.failWith("");
    enumerator_.set({rawInterface("eth0", "10.0.0.1", UP)});
    EXPECT_EQ("eth0", listed(D::DATA));
    enumerator_.failWith("Cannot allocate memory");
    EXPECT_FALSE(dispatcher_->refresh(true));
    EXPECT_EQ("eth0", listed(D::DATA));
}

TEST(DispatcherTypes, TypeTexts) {
    const struct {
        D::Type type;
        const char* text;
    } cases[] = {{D::ALL, "all"}, {D::METADATA, "metadata"}, {D::DATA, "data"},
                 {D::MULTICAST, "multicast"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(c.text, D::getTypeStr(c.type));
        EXPECT_EQ(c.type, D::getTypeFromStr(c.text));
    }
    EXPECT_EQ(nullptr, D::getTypeStr(static_cast<D::Type>(4)));
    EXPECT_EQ(D::ALL, D::getTypeFromStr("Data"));
}

}  // namespace
}  // namespace Vantrel
