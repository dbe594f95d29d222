#include "network/CoDefaultRoute.h"

#include <gtest/gtest.h>

namespace Vantrel {
namespace {

const char V4_HEADER[] =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(CoDefaultRoute, IPv4) {
    const struct {
        const char* what;
        std::string table;
        const char* expected;
    } cases[] = {
        {"default via a gateway",
         std::string(V4_HEADER) +
             "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
             "eth1\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n",
         "eth1"},
        {"lowest metric wins, first on a tie",
         std::string(V4_HEADER) +
             "eth0\t00000000\t0102A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
             "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t50\t00000000\t0\t0\t0\n"
             "eth2\t00000000\t0101A8C0\t0003\t0\t0\t50\t00000000\t0\t0\t0\n",
         "wlan0"},
        {"default without a gateway address", std::string(V4_HEADER) +
             "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n", "ppp0"},
        {"not up, or a reject route", std::string(V4_HEADER) +
             "eth0\t00000000\t0102A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
             "eth1\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n", ""},
        {"no default route", std::string(V4_HEADER) +
             "eth0\t0002A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n", ""},
        {"empty table", "", ""},
        {"malformed lines are ignored",
         "eth0 00000000\n"
         "eth1 00000000 0 zz 0 0 0 00000000\n"
         "eth2 00000000 0 0001 0 0 -1 00000000\n"
         "eth3 00000000 0 0001 0 0 99999999999999999999999 00000000\n"
         "eth4 00000000 0 0001 0 0 7 00000000\n",
         "eth4"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, coDefaultRouteInterfaceV4(c.table)) << c.what;
}

TEST(CoDefaultRoute, IPv6) {
    const std::string zero(32, '0');
    const std::string hop = "fe800000000000000000000000000001";
    const std::string net = "20010db8000000000000000000000000";
    const struct {
        const char* what;
        std::string table;
        const char* expected;
    } cases[] = {
        {"default via a router",
         net + " 40 " + zero + " 00 " + zero + " 00000100 00000001 00000000 00000001 eth0\n" +
             zero + " 00 " + zero + " 00 " + hop + " 00000400 00000001 00000000 00000003 eth1\n",
         "eth1"},
        {"lowest metric wins",
         zero + " 00 " + zero + " 00 " + hop + " 00000400 00000001 00000000 00000003 eth1\n" +
             zero + " 00 " + zero + " 00 " + hop + " 000000ff 00000001 00000000 00000003 eth2\n",
         "eth2"},
        {"the unreachable route on lo is no default",
         zero + " 00 " + zero + " 00 " + zero + " ffffffff 00000001 00000000 00200200 lo\n", ""},
        {"a prefix is no default",
         zero + " 08 " + zero + " 00 " + hop + " 00000400 00000001 00000000 00000003 eth1\n", ""},
        {"malformed lines are ignored",
         zero + " 00\n" + zero + "0 00 " + zero + " 00 " + hop +
             " 00000400 00000001 00000000 00000003 eth1\n",
         ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, coDefaultRouteInterfaceV6(c.table)) << c.what;
}

}  // namespace
}  // namespace Vantrel
