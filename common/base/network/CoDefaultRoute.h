// Finding the interface of the default route in the kernel's route tables.
//
// Both functions read the text of a route table as the kernel prints it and name the
// interface of its default route (see CoInterfaceEnumerator.h for the rule), or "" when there
// is none. Lines that do not have the expected shape are ignored, so any text is safe to pass.
// Pure functions, safe from any thread.
#pragma once

#include <string>

namespace Vantrel {

// /proc/net/route: a header line, then "Iface Destination Gateway Flags RefCnt Use Metric
// Mask MTU Window IRTT", white-space separated, the numbers of Destination, Flags and Mask in
// hexadecimal, Metric in decimal.
std::string coDefaultRouteInterfaceV4(const std::string& routeTable);

// /proc/net/ipv6_route: no header; "destination prefix-length source prefix-length next-hop
// metric refcount use flags device", all numbers hexadecimal.
std::string coDefaultRouteInterfaceV6(const std::string& routeTable);

}  // namespace Vantrel
