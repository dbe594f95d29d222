#include "tcp/CoSocketWait.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "vantrel/CoException.h"
#include "tcp/CoOsError.h"

namespace Vantrel {

CoWakeup::CoWakeup() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        CoException(__LINE__, __FILE__).fire("Unable to create a wake-up", "%s",
                                             coCurrentOsErrorText().c_str());
    readId_ = ends[0];
    writeId_ = ends[1];
}

CoWakeup::~CoWakeup() {
    ::close(readId_);
    ::close(writeId_);
}

void CoWakeup::wake() {
    const char byte = 0;
    if (::write(writeId_, &byte, 1) < 0) {
        // A full pipe already wakes the wait.
    }
}

void CoWakeup::drain() {
    char drained[64];
    while (::read(readId_, drained, sizeof drained) > 0) {
    }
}

// poll rather than select: descriptors of a large application may lie beyond FD_SETSIZE.
int coWaitReadable(const std::vector<int>& ids, int timeoutMs, std::vector<int>& readable,
                   std::string& error) {
    std::vector<pollfd> waits;
    for (int id : ids) waits.push_back({id, POLLIN, 0});
    readable.clear();
    const int ready = ::poll(waits.data(), waits.size(), timeoutMs < 0 ? -1 : timeoutMs);
    if (ready < 0) {
        if (errno == EINTR) return 0;
        error = coCurrentOsErrorText();
        return -1;
    }
    for (const pollfd& wait : waits)
        if (wait.revents != 0) readable.push_back(wait.fd);
    return static_cast<int>(readable.size());
}

}  // namespace Vantrel
