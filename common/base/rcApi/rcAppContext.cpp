#include "rcApi/rcAppContext.h"

#include <algorithm>
#include <climits>

#include "osal/CoAssert.h"
#include "tcp/CoSocketApi.h"
#include "tcp/CoIoHandler.h"

namespace Vantrel {

rcAppContext::rcAppContext() : nextSerial_(0) {}

rcAppContext::~rcAppContext() = default;

void rcAppContext::registerIOHandler(CoIoHandler* io) {
    CO_ASSERT(io != nullptr);
    handlers_.push_back({io, nextSerial_++});
}

void rcAppContext::unregisterIOHandler(CoIoHandler* io) {
    const auto it = std::find_if(handlers_.begin(), handlers_.end(),
                                 [io](const Entry& entry) { return entry.handler == io; });
    if (it != handlers_.end()) handlers_.erase(it);
}

int rcAppContext::callIOHandlers(bool block, int timeoutSeconds) {
    struct timeval timeout = {timeoutSeconds, 0};
    return callIOHandlers(block, timeout);
}

int rcAppContext::beforeWait() { return -1; }

int rcAppContext::callIOHandlers(bool block, struct timeval timeout) {
    const int waitLimitMs = beforeWait();
    // Handlers without an open descriptor are told so and leave before the wait.
    for (const Entry entry : std::vector<Entry>(handlers_)) {
        if (descriptorId(entry.handler) != -1 || !isRegistered(entry)) continue;
        entry.handler->handleException();
        remove(entry);
    }

    const std::vector<Entry> watched = handlers_;
    std::vector<WaitItem> items;
    items.reserve(watched.size());
    for (const Entry& entry : watched)
        items.push_back({descriptorId(entry.handler), entry.handler->getEventMask()});

    int timeoutMs = -1;
    if (!block) {
        const long long ms = static_cast<long long>(timeout.tv_sec) * 1000 +
                             (static_cast<long long>(timeout.tv_usec) + 999) / 1000;
        timeoutMs = static_cast<int>(std::max(0LL, std::min<long long>(ms, INT_MAX)));
    }
    if (waitLimitMs >= 0 && (timeoutMs < 0 || waitLimitMs < timeoutMs)) timeoutMs = waitLimitMs;
    std::vector<Readiness> ready;
    const int result = waitForEvents(items, timeoutMs, ready);
    if (result < 1) return result;

    // Last registered first: a server's listening handler, registered before its clients,
    // accepts only after the clients of this pass were served.
    for (size_t i = watched.size(); i-- > 0;) {
        const Entry& entry = watched[i];
        if (!isRegistered(entry)) continue;  // taken out (maybe deleted) earlier in this pass
        if (!dispatch(entry.handler, ready[i]) && isRegistered(entry)) remove(entry);
    }
    return result;
}

bool rcAppContext::dispatch(CoIoHandler* handler, const Readiness& ready) {
    if (descriptorId(handler) == -1) {
        handler->handleException();
        return false;
    }
    if (ready.readable && !handler->handleRead()) return false;
    if (ready.writable) return handler->handleWrite();
    if (ready.readable) return true;
    if (ready.exceptional) {
        handler->handleException();
        return false;
    }
    return true;
}

int rcAppContext::descriptorId(const CoIoHandler* handler) {
    const CoIoDescriptor* descriptor = handler->descriptor();
    return descriptor != nullptr ? descriptor->id() : -1;
}

bool rcAppContext::isRegistered(const Entry& entry) const {
    return std::any_of(handlers_.begin(), handlers_.end(), [&entry](const Entry& other) {
        return other.serial == entry.serial;
    });
}

void rcAppContext::remove(const Entry& entry) {
    handlers_.erase(std::remove_if(handlers_.begin(), handlers_.end(),
                                   [&entry](const Entry& other) {
                                       return other.serial == entry.serial;
                                   }),
                    handlers_.end());
}

}  // namespace Vantrel
