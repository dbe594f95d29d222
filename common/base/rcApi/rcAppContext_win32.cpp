#include "rcApi/rcAppContext.h"
#include "tcp/CoIoHandler.h"
#include "tcp/CoOsError.h"
#include "tcp/CoSocketApi.h"

namespace Vantrel {

// WSAPoll rather than select: select's sets hold a fixed number of sockets.
int rcAppContext::waitForEvents(const std::vector<WaitItem>& items, int timeoutMs,
                                std::vector<Readiness>& ready) {
    std::vector<WSAPOLLFD> fds(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const int mask = items[i].eventMask;
        fds[i].fd = static_cast<SOCKET>(static_cast<unsigned>(items[i].id));
        fds[i].events = static_cast<short>(((mask & CoIoHandler::READ_EVENT) ? POLLRDNORM : 0) |
                                           ((mask & CoIoHandler::WRITE_EVENT) ? POLLWRNORM : 0) |
                                           ((mask & CoIoHandler::EXCEPTION_EVENT) ? POLLRDBAND : 0));
    }
    ready.assign(items.size(), Readiness{false, false, false});
    // WSAPoll refuses an empty set: an idle loop just sleeps.
    if (items.empty()) {
        Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        return 0;
    }
    const int result = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
    if (result == SOCKET_ERROR) {
        coTakeSocketError();
        return -1;
    }
    if (result < 1) return result;
    for (size_t i = 0; i < items.size(); ++i) {
        const int mask = items[i].eventMask;
        const short got = fds[i].revents;
        // As with select: a closed or failed connection reads as readable (the read then
        // reports it) and as writable.
        ready[i].readable =
            (mask & CoIoHandler::READ_EVENT) && (got & (POLLRDNORM | POLLHUP | POLLERR | POLLNVAL));
        ready[i].writable =
            (mask & CoIoHandler::WRITE_EVENT) && (got & (POLLWRNORM | POLLHUP | POLLERR));
        ready[i].exceptional =
            (mask & CoIoHandler::EXCEPTION_EVENT) && (got & (POLLRDBAND | POLLERR | POLLNVAL));
    }
    return result;
}

}  // namespace Vantrel
