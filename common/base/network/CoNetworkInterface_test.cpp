#include "network/CoNetworkInterface.h"

#include <gtest/gtest.h>

namespace Vantrel {
namespace {

typedef CoNetworkInterface I;

TEST(CoNetworkInterface, AttributeTexts) {
    const struct {
        uint32_t value;
        const char* text;
    } cases[] = {{I::NONE, "none"},           {I::LOOPBACK, "loopback"}, {I::IPV4, "ipv4"},
                 {I::IPV6, "ipv6"},           {I::MULTICAST, "multicast"},
                 {I::GATEWAY, "gateway"},     {I::ANY, "any"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(c.text, I::getAttributeStr(c.value));
        EXPECT_EQ(c.value, static_cast<uint32_t>(I::getAttributeFromStr(c.text)));
    }
    EXPECT_EQ(nullptr, I::getAttributeStr(I::LOOPBACK | I::IPV4));
    EXPECT_EQ(I::NONE, I::getAttributeFromStr("Loopback"));
}

TEST(CoNetworkInterface, AttributeSetTexts) {
    const struct {
        uint32_t value;
        const char* text;
    } cases[] = {
        {I::NONE, "none"},
        {I::ANY, "any"},
        {I::IPV4, "ipv4"},
        {I::LOOPBACK | I::IPV4, "loopback,ipv4"},
        {I::GATEWAY | I::MULTICAST | I::IPV6, "ipv6,multicast,gateway"},
        {I::IPV4 | 0x100, "ipv4"},   // bits without a text are left out
    };
    for (const auto& c : cases) EXPECT_EQ(c.text, I::getAttributesStr(c.value)) << c.value;
}

TEST(CoNetworkInterface, EqualityComparesEveryField) {
    const I base("eth0", I::IPV4, "10.0.0.1", "255.0.0.0", 1000);
    EXPECT_EQ(base, I("eth0", I::IPV4, "10.0.0.1", "255.0.0.0", 1000));
    for (const I& other : {I("eth1", I::IPV4, "10.0.0.1", "255.0.0.0", 1000),
                           I("eth0", I::IPV6, "10.0.0.1", "255.0.0.0", 1000),
                           I("eth0", I::IPV4, "10.0.0.2", "255.0.0.0", 1000),
                           I("eth0", I::IPV4, "10.0.0.1", "255.255.0.0", 1000),
                           I("eth0", I::IPV4, "10.0.0.1", "255.0.0.0", 100)})
        EXPECT_NE(base, other) << other.getName() << " " << other.getIP();
}

}  // namespace
}  // namespace Vantrel
