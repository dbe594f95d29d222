// Where a connection record takes the facts of this host and this process from.
//
// The default answers from the system (the effective user and group, the host name, the
// program name and process id) and from the network configuration (the host identifier). A
// program (or a test) can install its own facts.
//
// Threads: the getters may be called from any thread. install() is meant for start-up (or a
// test's set-up), before connections are opened.
#pragma once

#include <string>

namespace Vantrel {

class rcLocalFacts {
public:
    virtual ~rcLocalFacts();

    // Each answers false, and leaves `out` alone, when the fact cannot be had.
    virtual bool getUserName(std::string& out) const;
    virtual bool getGroupName(std::string& out) const;
    virtual bool getHostName(std::string& out) const;
    virtual bool getHostUUID(std::string& out) const;
    virtual bool getProcessName(std::string& out) const;
    virtual bool getProcessId(int& out) const;

    // The installed facts, or the defaults.
    static const rcLocalFacts& current();
    // Installs `facts` (not owned; must outlive its installation); null restores the defaults.
    static void install(const rcLocalFacts* facts);
};

}  // namespace Vantrel
