#include "ipc/CoFifoLock.h"

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"

namespace Vantrel {

CoFifoLock::CoFifoLock() : items_(0), item_(nullptr) {}

CoFifoLock::~CoFifoLock() = default;

void CoFifoLock::enqueue(void* item) {
    void* const held = item_.load();
    if (held != nullptr) {
        CO_MSG_ERROR("The fifo capacity (1) is exceeded. Unable to enqueue item: %p", item);
        CO_ASSERT(held == nullptr);
    }
    item_.store(item);
    items_.release();
}

void* CoFifoLock::dequeue() {
    items_.get();
    return item_.exchange(nullptr);
}

void* CoFifoLock::tryDequeue() {
    if (!items_.tryGet()) return nullptr;
    return item_.exchange(nullptr);
}

int CoFifoLock::depth() const { return item_.load() != nullptr ? 1 : 0; }

void CoFifoLock::dump(bool verbose) const {
    const void* const self = this;
    if (verbose) {
        CO_MSG_DEBUG("Fifo %p [depth = %i],[_item=%p]", self, depth(), item_.load());
    } else {
        CO_MSG_DEBUG("Fifo %p [depth = %i]", self, depth());
    }
}

}  // namespace Vantrel
