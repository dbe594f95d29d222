// Lists the Vantrel servers that answer on the network, with their addresses and storage ids.
//
//   list_servers [DATABASE]
#include <cstdio>

#include "vantrel/VantrelClientAPI.h"

int main(int argc, char** argv) {
    VantrelClient library;
    if (!library.init()) return 1;
    VantrelServerList servers(argc > 1 ? argv[1] : "");
    int count = 0;
    if (!servers.getNumNodes(count)) {
        std::printf("Could not search for servers: %s\n", servers.lastError());
        return 1;
    }
    std::printf("%d server(s) found\n", count);
    for (int i = 0; i < count; ++i) {
        VantrelServerInfo info;
        if (!servers.getNode(i, info)) continue;
        const VantrelServerId id = info.getId();
        std::printf("  %s  %s:%d  database %s  storage id %s\n", info.getDisplayName(),
                    id.getIPAddr(), id.getPort(), info.getDatabase(), info.getStorageId());
    }
    return 0;
}
