#include <poll.h>

#include "rcApi/rcAppContext.h"
#include "tcp/CoIoHandler.h"

namespace Vantrel {

// poll rather than select: select cannot watch descriptors numbered FD_SETSIZE or above, and a
// busy server may well have such descriptors.
int rcAppContext::waitForEvents(const std::vector<WaitItem>& items, int timeoutMs,
                                std::vector<Readiness>& ready) {
    std::vector<pollfd> fds(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const int mask = items[i].eventMask;
        fds[i].fd = items[i].id;
        fds[i].events = static_cast<short>(((mask & CoIoHandler::READ_EVENT) ? POLLIN : 0) |
                                           ((mask & CoIoHandler::WRITE_EVENT) ? POLLOUT : 0) |
                                           ((mask & CoIoHandler::EXCEPTION_EVENT) ? POLLPRI : 0));
    }
    const int result = poll(fds.data(), fds.size(), timeoutMs);
    ready.assign(items.size(), Readiness{false, false, false});
    if (result < 1) return result;
    for (size_t i = 0; i < items.size(); ++i) {
        const int mask = items[i].eventMask;
        const short got = fds[i].revents;
        // As with select: a closed or failed connection reads as readable (the read then
        // reports it) and as writable.
        ready[i].readable =
            (mask & CoIoHandler::READ_EVENT) && (got & (POLLIN | POLLHUP | POLLERR | POLLNVAL));
        ready[i].writable = (mask & CoIoHandler::WRITE_EVENT) && (got & (POLLOUT | POLLHUP | POLLERR));
        ready[i].exceptional =
            (mask & CoIoHandler::EXCEPTION_EVENT) && (got & (POLLPRI | POLLERR | POLLNVAL));
    }
    return result;
}

}  // namespace Vantrel
