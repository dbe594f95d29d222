#include "ipc/CoFifoBase.h"

namespace Vantrel {

CoFifoBase::~CoFifoBase() = default;

void CoFifoBase::enqueueSorted(void* item, unsigned /*tag*/) { enqueue(item); }

void CoFifoBase::enqueueFront(void* item) { enqueue(item); }

}  // namespace Vantrel
