// Who the current process runs as: the names of its effective user and group.
//
// Names come from the system's user and group databases. A process may run under an id that
// has no entry there (containers, removed accounts); the lookups then answer false and leave
// the caller's text as it was, so that callers can keep their own default.
//
// Threads: every operation may be called from any thread (re-entrant lookups).
#pragma once

#include <string>

namespace Vantrel {

class CoIdentity {
public:
    // The login name of the effective user.
    static bool getUserName(std::string& name);
    // The name of the effective group, the user's primary group unless the process changed it.
    static bool getGroupName(std::string& name);

    // The names of the user and group with the given numeric ids.
    static bool getUserName(unsigned int uid, std::string& name);
    static bool getGroupName(unsigned int gid, std::string& name);
};

}  // namespace Vantrel
