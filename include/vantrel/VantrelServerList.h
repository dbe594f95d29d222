// VantrelServerList: the servers found on the network, and the resolution of server ids.
//
// getNumNodes() searches (or, once discovery runs, copies its live list) and keeps the servers
// whose database equals the list's filter (every server for an empty filter), in the order of
// server lists; getNode() reads them. The gateway address and port name where the search is
// sent (empty address: the multicast group).
//
// Value: copies copy the state. Operations answer with bool and leave the reason of a failure
// in lastError(); exceptions never leave them. Threads: one object per thread; the discovery
// client behind it is shared and locked. Requires an initialised library.
#pragma once

#include "vantrel/VantrelExport.h"

class VantrelServerId;
class VantrelServerInfo;

class VANTREL_API VantrelServerList {
public:
    // Null texts count as "".
    VantrelServerList(const char* database = "", const char* gatewayIpAddr = "",
                      int gatewayPort = 0);
    VantrelServerList(const VantrelServerList& other);
    VantrelServerList& operator=(const VantrelServerList& other);
    virtual ~VantrelServerList();

    bool getNumNodes(int& count);
    // Record `index` of the last getNumNodes(); outside [0, count): "Index I is out of the
    // bounds 0,COUNT.".
    bool getNode(int index, VantrelServerInfo& info);
    // Sends a new search on every interface without waiting.
    bool refresh();
    // The listed server `id` names; "Server not found" when none.
    bool resolve(const VantrelServerId& id, VantrelServerInfo& info);
    // The id of the listed server with this storage id.
    bool resolveStorageId(const char* storageId, VantrelServerId& id);

    const char* getGatewayIpAddr() const;
    int getGatewayPort() const;
    const char* lastError() const;

private:
    struct State;
    State* state_;
};
