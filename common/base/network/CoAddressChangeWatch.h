// The operating-system side of the address-change monitor: a wait for the next change of the
// host's interfaces that another thread can cut short.
//
// On Linux it is a routing netlink socket subscribed to address, link and default-route
// changes, polled beside an eventfd that wake() signals. On Windows it is the IP helper's
// address-change notification (NotifyAddrChange), waited for beside an event that wake() sets.
// Several changes that arrive together are reported by one wait().
//
// Owns its system handles and closes them in its destructor; not copyable. One thread waits;
// wake() may be called from any thread, any number of times.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace Vantrel {

class CoAddressChangeWatch {
public:
    enum Result {
        CHANGED,   // addresses, links or the default route changed
        WOKEN,     // wake() was called; every later wait() answers WOKEN too
        FAILED,    // the wait itself failed; the reason is in `error`
    };

    CoAddressChangeWatch();
    ~CoAddressChangeWatch();
    CoAddressChangeWatch(const CoAddressChangeWatch&) = delete;
    CoAddressChangeWatch& operator=(const CoAddressChangeWatch&) = delete;

    // Subscribes to the changes. False, with the system's text in `error`, when that fails;
    // the watch must not be used then.
    bool open(std::string& error);

    // Waits without limit for a change or a wake(). Call only after a successful open().
    Result wait(std::string& error);

    // Ends the current and every later wait(). Safe after a failed open (it does nothing).
    void wake();

    // Whether a datagram of routing messages from the Linux kernel tells of a change worth a
    // refresh (false on other systems, which send no such datagrams). Every header and payload is checked against `length` before it is read; a
    // message that claims more bytes than remain ends the walk.
    static bool containsInterfaceChange(const char* datagram, std::size_t length);

private:
    // True when the pending messages include a change worth a refresh; false when there were
    // only others, or none. A lost message (receive buffer overrun) counts as a change.
    bool drainChanges(std::string& error, bool& failed);

    struct Handles;   // the system's handles, the platform file's business
    std::unique_ptr<Handles> handles_;
};

}  // namespace Vantrel
