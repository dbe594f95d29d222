#include "vantrel/server/AddressFilter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using vantreld::AddressFilter;

namespace {

AddressFilter filterOf(const std::string& text) {
    AddressFilter filter;
    std::string error;
    EXPECT_TRUE(AddressFilter::parse(text, filter, error)) << text << ": " << error;
    return filter;
}

TEST(AddressFilter, AllowsExactlyTheAddressesOfItsNetworks) {
    const struct {
        const char* networks;
        std::vector<const char*> allowed;
        std::vector<const char*> refused;
    } cases[] = {
        {"10.0.0.0/8", {"10.0.0.1", "10.255.1.2", "::ffff:10.1.2.3"}, {"11.0.0.1", "::1", "fd00::1"}},
        {"192.168.1.17", {"192.168.1.17"}, {"192.168.1.18"}},
        {"192.168.1.16/29", {"192.168.1.16", "192.168.1.23"}, {"192.168.1.24", "192.168.1.15"}},
        {"0.0.0.0/0", {"1.2.3.4", "127.0.0.1"}, {"::1"}},
        {"fd00::/8,127.0.0.1/32", {"fd12:3456::1", "127.0.0.1", "::ffff:127.0.0.1"}, {"fe80::1", "127.0.0.2"}},
        {"::1/128", {"::1"}, {"::2", "127.0.0.1", "::ffff:127.0.0.1"}},
        {"2001:db8::/33", {"2001:db8:7fff::1"}, {"2001:db8:8000::1"}},
        {"10.0.0.0/8", {}, {"", "not an address", "10.0.0"}},
    };
    for (const auto& c : cases) {
        const AddressFilter filter = filterOf(c.networks);
        for (const char* address : c.allowed) EXPECT_TRUE(filter.allows(address)) << c.networks << " " << address;
        for (const char* address : c.refused) EXPECT_FALSE(filter.allows(address)) << c.networks << " " << address;
    }
    EXPECT_TRUE(AddressFilter().allows("203.0.113.9")) << "an empty filter lets everyone in";
}

TEST(AddressFilter, RefusesWhatIsNoNetwork) {
    for (const char* text : {"", "10.0.0.0/33", "::/129", "10.0.0.0/", "10.0.0.0/-1", "10.0.0.0/8x",
                             "host.example/8", "10.0.0.0/8,,", "10.0.0.0/0008"}) {
        AddressFilter filter = filterOf("127.0.0.1");
        std::string error;
        EXPECT_FALSE(AddressFilter::parse(text, filter, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_TRUE(filter.allows("127.0.0.1")) << "left alone: " << text;
    }
}

}  // namespace
