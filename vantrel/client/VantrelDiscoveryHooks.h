// What the connections ask of server discovery (VantrelMulticastClient): resolving a server
// id into the server's description, and three notifications.
//
// An id with an address is resolved only when discovery already runs (else the connection
// goes directly to the id's address and port); an id without one (storage id or database
// alone) starts discovery. An id naming only a database resolves to the first listed server
// of that database. A storage id that is not listed is searched for once more, waiting
// at most a second for its announcement. The notifications reach discovery only when it runs.
// Threads: callable from any thread.
#pragma once

#include "vantrel/client/VantrelDaemonInfo.h"
#include "vantrel/client/VantrelServerId.h"

class VantrelDiscoveryHooks {
public:
    // Fills `info` with the description of the server `id` names; false when unknown.
    static bool resolve(const VantrelServerId& id, VantrelDaemonInfo& info);
    // The server described by `info` answered a connection: its listed record's activity
    // time is renewed, or an unlisted server is asked directly for its announcement.
    static void serverAnswered(const VantrelDaemonInfo& info);
    // None of the server's addresses answered: it leaves the list.
    static void dropServer(const VantrelDaemonInfo& info);
    // Look for the server with this storage id again: a search request on every interface.
    static void searchStorageId(const char* storageId);
};
