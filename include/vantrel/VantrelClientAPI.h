// The client API of the Vantrel library: include this header.
//
//     VantrelClient client;
//     if (!client.init()) return 1;
//     VantrelServerHandle server("studio:7549");
//     VantrelNodeHandle root;
//     if (!server.getRootNode(root)) printf("%s\n", server.lastError());
//
// VantrelClientInit must be called before any other use of the library and
// VantrelClientUninit after the last; both from one thread, while no other thread uses the
// library. Their calls are counted: only the first init and the matching last uninit act.
#pragma once

#include "vantrel/VantrelNodeHandle.h"
#include "vantrel/VantrelServerHandle.h"
#include "vantrel/VantrelServerInfo.h"
#include "vantrel/VantrelServerList.h"
#include "vantrel/VantrelTypes.h"
#include "vantrel/VantrelExport.h"

// Initialises the library (network and TCP layers, the shared-connection cache) on the first
// call and lowers the message filter to the user level. False when a layer cannot start; the
// failed call does not count.
VANTREL_API bool VantrelClientInit();
// Undoes VantrelClientInit when the count returns to zero: every cached connection is closed.
// No server handle may be left. A call without a matching init does nothing.
VANTREL_API void VantrelClientUninit();
// The library's version: 2015, 0, 0.
VANTREL_API void VantrelClientGetVersion(int& major, int& minor, int& maint);
// Drops cached connections that no handle uses: with `all`, every one; otherwise those idle
// for at least the idle time (VANTREL_SHARED_CONNECTIONS seconds, 30 when unset), counted
// from the moment their last handle let them go.
VANTREL_API void VantrelClientReleaseUnusedConnections(bool all);
// The longest any remote call of this process may take, in milliseconds: connecting and
// logging in, then the request and its reply, for node, server-level and ping calls alike. A
// call that runs out fails with the system's time-out text ("Connection timed out") and
// closes its link; a call whose own limit is shorter keeps it. Without this call the ceiling
// is VANTREL_CALL_TIMEOUT_MS (milliseconds, read when the library is loaded), or 100,000,000
// ms (about 27 hours) when that is unset; 0 gives the choice back to them. Any thread, any
// time, initialised or not; calls already waiting keep the limit they started with.
VANTREL_API void VantrelClientSetCallTimeout(unsigned int ms);
// The ceiling in force, in milliseconds.
VANTREL_API unsigned int VantrelClientGetCallTimeout();
// `callback` (null clears it) is called with the server's id when a remote call fails and
// leaves the server's link closed, on the calling thread, once for that loss: calls queued
// behind the failed one add no further call, a call that finds the link closed and opens it
// again reports nothing, and VantrelServerHandle::disconnect() reports nothing. Set it once,
// before making calls.
VANTREL_API void VantrelRegisterDisconnectCallBack(void (*callback)(const VantrelServerId&));

// Initialisation for a scope: init() initialises the library; the destructor uninitialises
// it when that init() succeeded. Every object that holds an initialisation holds one of its
// own, so inits and uninits stay balanced whatever the order the objects go in: a copy (or
// an assignment) of an initialised object initialises again, an assignment of an
// uninitialised one gives up the target's initialisation, and init() on an object that
// already holds one answers true without counting again.
class VANTREL_API VantrelClient {
public:
    VantrelClient() : initialized_(false) {}
    VantrelClient(const VantrelClient& other);
    VantrelClient& operator=(const VantrelClient& other);
    ~VantrelClient();

    bool init();

private:
    bool initialized_;
};
