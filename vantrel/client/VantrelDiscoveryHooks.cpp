#include "vantrel/client/VantrelDiscoveryHooks.h"

// Server discovery is not part of this version of the library: ids are never resolved, so
// every connection is made directly to the address and port of its server id.

bool VantrelDiscoveryHooks::resolve(const VantrelServerId&, VantrelDaemonInfo&) { return false; }

void VantrelDiscoveryHooks::serverAnswered(const VantrelDaemonInfo&) {}

void VantrelDiscoveryHooks::dropServer(const VantrelDaemonInfo&) {}

void VantrelDiscoveryHooks::searchStorageId(const char*) {}
