// What the connections ask of server discovery: resolving a server id into the server's
// description, and three notifications. Until discovery exists, resolution always fails (so
// connections are made directly to the id's address and port) and the notifications do
// nothing.
// Threads: callable from any thread.
#pragma once

#include "vantrel/client/VantrelDaemonInfo.h"
#include "vantrel/client/VantrelServerId.h"

class VantrelDiscoveryHooks {
public:
    // Fills `info` with the description of the server `id` names; false when unknown.
    static bool resolve(const VantrelServerId& id, VantrelDaemonInfo& info);
    // The server described by `info` answered a connection.
    static void serverAnswered(const VantrelDaemonInfo& info);
    // None of the server's addresses answered: forget it.
    static void dropServer(const VantrelDaemonInfo& info);
    // Look for the server with this storage id again.
    static void searchStorageId(const char* storageId);
};
