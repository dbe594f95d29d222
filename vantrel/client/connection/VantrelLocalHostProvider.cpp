#include "vantrel/client/connection/VantrelLocalHostProvider.h"

#include <atomic>

namespace {

std::atomic<const VantrelLocalHostProvider*> installedProvider{nullptr};

}  // namespace

VantrelLocalHostProvider::~VantrelLocalHostProvider() = default;

bool VantrelLocalHostProvider::hostUUID(std::string&) const { return false; }

const VantrelLocalHostProvider& VantrelLocalHostProvider::current() {
    const VantrelLocalHostProvider* provider = installedProvider.load();
    return provider != nullptr ? *provider : systemProvider();
}

void VantrelLocalHostProvider::install(const VantrelLocalHostProvider* provider) {
    installedProvider.store(provider);
}
