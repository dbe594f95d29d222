// Facts of the local host: its name, display name and UUID.
//
// Threads: every operation may be called from any thread.
#pragma once

#include <string>

namespace Vantrel {

class CoNetworkLocal {
public:
    // The system's host name (through the installed CoNameResolver). When the system cannot
    // tell, posts the error "Could not retrieve host name: <reason>" and answers "localhost".
    // Returns true. The network layer must be initialised (CoNetwork; assertion).
    static bool getHostName(std::string& name);
    // The same answer without the initialisation check, for callers that may run before the
    // network layer is started (value types, connection records made by hand).
    static bool lookUpHostName(std::string& name);
    // The display name of the network configuration when it is not empty, else the host name
    // as getHostName() gives it. Returns true.
    static bool getDisplayName(std::string& name);
    // The host UUID of the network configuration (CoNetworkConfig::getUUID): false, and `uuid`
    // unchanged, when none or no valid one is configured.
    static bool getUUID(std::string& uuid);
};

}  // namespace Vantrel
