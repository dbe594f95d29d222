// The peer addresses that hold a logged-in connection to the node port. The frame port has no
// login of its own; it lets only these peers change frames and files (a client logs in on the
// node port before it opens a data connection).
//
// Addresses are numeric texts; an IPv4 address reached through an IPv6 socket
// ("::ffff:10.0.0.1") counts as the IPv4 address it is.
// Threads: any thread (one lock).
#pragma once

#include <map>
#include <mutex>
#include <string>

namespace vantreld {

class LoggedInPeers {
public:
    // A connection from `address` has logged in.
    void add(const std::string& address);
    // A connection from `address` that add() counted has closed.
    void remove(const std::string& address);
    // Whether a connection from `address` is logged in now.
    bool contains(const std::string& address) const;

private:
    static std::string canonical(const std::string& address);

    mutable std::mutex lock_;
    std::map<std::string, int> connections_;  // by canonical address, under lock_
};

}  // namespace vantreld
