// A "host" for tests and benchmarks of what crosses a network: a network namespace joined to
// the caller's namespace by a veth pair. Needs root in the caller's (private) namespace; the
// destructor removes the namespace and the link.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace vantreld {
namespace testing {

// Runs a shell command without its error output; true when it succeeded.
inline bool runQuietly(const std::string& command) {
    return std::system((command + " 2>/dev/null").c_str()) == 0;
}

// A host: a network namespace with a veth pair whose far end lives there, multicast routed on
// it. Each tag ('a', 'b', ...) gets a /30 subnet of its own, chosen from the process id so
// that concurrent tests do not meet: this side .1, the host .2 (then .5 and .6, ...).
class NamespaceHost {
public:
    explicit NamespaceHost(char tag) {
        const unsigned pid = static_cast<unsigned>(::getpid());
        name_ = "vtd" + std::to_string(pid) + tag;
        here_ = "vd" + std::to_string(pid) + tag;
        const std::string subnet = "10." + std::to_string(100 + pid % 100) + "." +
                                   std::to_string(pid / 100 % 250) + ".";
        const int base = (tag - 'a') * 4;
        myAddress_ = subnet + std::to_string(base + 1);
        address_ = subnet + std::to_string(base + 2);
        const std::string there = here_ + "p", inside = "ip netns exec " + name_ + " ";
        ok_ = runQuietly("ip netns add " + name_) &&
              runQuietly("ip link add " + here_ + " type veth peer name " + there) &&
              runQuietly("ip link set " + there + " netns " + name_) &&
              runQuietly("ip addr add " + myAddress_ + "/30 dev " + here_) &&
              runQuietly("ip link set " + here_ + " up") &&
              runQuietly(inside + "ip link set lo up") &&
              runQuietly(inside + "ip addr add " + address_ + "/30 dev " + there) &&
              runQuietly(inside + "ip link set " + there + " up") &&
              runQuietly(inside + "ip route add 224.0.0.0/4 dev " + there);
    }
    ~NamespaceHost() {
        runQuietly("ip link del " + here_);
        runQuietly("ip netns del " + name_);
    }
    NamespaceHost(const NamespaceHost&) = delete;
    NamespaceHost& operator=(const NamespaceHost&) = delete;

    bool ok() const { return ok_; }
    const std::string& address() const { return address_; }
    const std::string& link() const { return here_; }
    std::vector<std::string> launcher() const { return {"ip", "netns", "exec", name_}; }
    bool setLink(bool up) { return runQuietly("ip link set " + here_ + (up ? " up" : " down")); }

private:
    std::string name_, here_, address_, myAddress_;
    bool ok_ = false;
};

}  // namespace testing
}  // namespace vantreld
