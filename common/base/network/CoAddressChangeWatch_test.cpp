#include "network/CoAddressChangeWatch.h"

#include <gtest/gtest.h>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstring>
#include <string>
#include <vector>

namespace Vantrel {
namespace {

// A routing message: its header (claiming `claimedLength` bytes, or its true length when 0)
// and `payload` zero bytes, the first of a route payload being its prefix length.
std::string message(unsigned short type, std::size_t payload, unsigned claimedLength = 0,
                    unsigned char prefixLength = 0) {
    std::string bytes(NLMSG_ALIGN(NLMSG_LENGTH(payload)), '\0');
    nlmsghdr header{};
    header.nlmsg_len = claimedLength != 0 ? claimedLength : NLMSG_LENGTH(payload);
    header.nlmsg_type = type;
    std::memcpy(&bytes[0], &header, sizeof header);
    if (payload >= sizeof(rtmsg)) {
        rtmsg route{};
        route.rtm_dst_len = prefixLength;
        route.rtm_table = RT_TABLE_MAIN;
        std::memcpy(&bytes[NLMSG_HDRLEN], &route, sizeof route);
    }
    return bytes;
}

TEST(CoAddressChangeWatch, RecognisesChangesInsideTheReceivedBytesOnly) {
    const std::string newAddress = message(RTM_NEWADDR, sizeof(ifaddrmsg));
    const std::string neighbour = message(RTM_NEWNEIGH, 12);
    const struct {
        const char* what;
        std::string datagram;
        bool expected;
    } cases[] = {
        {"empty", "", false},
        {"an address", newAddress, true},
        {"a link", message(RTM_DELLINK, sizeof(ifinfomsg)), true},
        {"a default route", message(RTM_NEWROUTE, sizeof(rtmsg)), true},
        {"another route", message(RTM_DELROUTE, sizeof(rtmsg), 0, 24), false},
        {"a route without its payload", message(RTM_NEWROUTE, 0), false},
        {"others before the change", neighbour + neighbour + newAddress, true},
        {"only others", neighbour, false},
        {"a header cut short", newAddress.substr(0, 10), false},
        {"a message longer than the datagram",
         message(RTM_NEWNEIGH, 12, 4096) + newAddress, false},
        {"a length below the header's", message(RTM_NEWNEIGH, 12, 3) + newAddress, false},
        {"a message cut short", newAddress.substr(0, newAddress.size() - 4), false},
    };
    for (const auto& c : cases) {
        // A copy of exactly the datagram's size, so the sanitizer sees any read past it.
        std::vector<char> bytes(c.datagram.begin(), c.datagram.end());
        EXPECT_EQ(c.expected, CoAddressChangeWatch::containsInterfaceChange(
                                  bytes.data(), bytes.size()))
            << c.what;
    }
}

TEST(CoAddressChangeWatch, WakeEndsEveryWait) {
    CoAddressChangeWatch watch;
    std::string error;
    ASSERT_TRUE(watch.open(error)) << error;
    watch.wake();
    watch.wake();
    EXPECT_EQ(CoAddressChangeWatch::WOKEN, watch.wait(error));
    EXPECT_EQ(CoAddressChangeWatch::WOKEN, watch.wait(error));
}

}  // namespace
}  // namespace Vantrel
