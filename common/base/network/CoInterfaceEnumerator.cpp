#include "network/CoInterfaceEnumerator.h"

#include <atomic>

namespace Vantrel {
namespace {

std::atomic<const CoInterfaceEnumerator*> installed{nullptr};

}  // namespace

CoInterfaceEnumerator::~CoInterfaceEnumerator() = default;

const CoInterfaceEnumerator& CoInterfaceEnumerator::current() {
    const CoInterfaceEnumerator* enumerator = installed.load();
    return enumerator != nullptr ? *enumerator : system();
}

void CoInterfaceEnumerator::install(const CoInterfaceEnumerator* enumerator) {
    installed.store(enumerator);
}

}  // namespace Vantrel
