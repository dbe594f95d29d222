// What the connections ask of server discovery: resolving a server id into the server's
// description, and three notifications.
//
// The connection layer knows discovery only through this interface; discovery implements it
// (VantrelMulticastDiscovery) and the library installs it when it starts, so the dependency
// runs one way. Until then the installed hooks resolve nothing (ids are connected to by their
// address and port) and the notifications go nowhere.
//
// An id with an address is resolved only when discovery already runs (else the connection
// goes directly to the id's address and port); an id without one (storage id or database
// alone) starts discovery. An id naming only a database resolves to the first listed server
// of that database. A storage id that is not listed is searched for once more, waiting
// at most a second for its announcement. The notifications reach discovery only when it runs.
// Threads: every member is callable from any thread.
#pragma once

#include <vector>

#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/VantrelServerId.h"

class VantrelDiscoveryHooks {
public:
    virtual ~VantrelDiscoveryHooks() = default;

    // Fills `info` with the description of the server `id` names; false when unknown.
    virtual bool resolve(const VantrelServerId& id, VantrelDaemonInfo& info) = 0;
    // Every server that `id` names (record-against-id rule), for an id that names an address
    // and a database but no port: starts discovery when it does not run, and searches and
    // waits a second for the answers when it has just started or lists none of them, so that
    // every server there has had its chance to answer. Empty when none answered.
    virtual std::vector<VantrelDaemonInfo> serversAt(const VantrelServerId& id) = 0;
    // The server described by `info` answered a connection: its listed record's activity
    // time is renewed, or an unlisted server is asked directly for its announcement.
    virtual void serverAnswered(const VantrelDaemonInfo& info) = 0;
    // None of the server's addresses answered: it leaves the list.
    virtual void dropServer(const VantrelDaemonInfo& info) = 0;
    // Look for the server with this storage id again: a search request on every interface.
    virtual void searchStorageId(const char* storageId) = 0;

    // The process's hooks: `hooks` must outlive every connection (a static object does).
    // Installing again replaces them; nullptr gives back the hooks that do nothing.
    static void install(VantrelDiscoveryHooks* hooks);
    // The installed hooks (never null).
    static VantrelDiscoveryHooks& installed();
};
