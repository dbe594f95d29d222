#include "tcp/CoNameResolver.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "osal/CoAssert.h"

namespace Vantrel {
namespace {

std::atomic<const CoNameResolver*> installedResolver{nullptr};

}  // namespace

CoSocketAddress::CoSocketAddress() : storage_{}, length_(0) {}

CoSocketAddress::CoSocketAddress(const sockaddr* address, int length)
    : storage_{}, length_(length) {
    CO_ASSERT(length >= 0 && length <= MAX_LENGTH);
    CO_ASSERT(address != nullptr || length == 0);
    if (length > 0) std::memcpy(storage_, address, static_cast<std::size_t>(length));
}

const sockaddr* CoSocketAddress::get() const { return reinterpret_cast<const sockaddr*>(storage_); }

std::string CoSocketAddress::hexBytes() const {
    std::string text;
    char byte[4];
    for (int i = 0; i < length_; ++i) {
        std::snprintf(byte, sizeof byte, "%02x ", storage_[i]);
        text += byte;
    }
    return text;
}

CoNameResolver::~CoNameResolver() = default;

const CoNameResolver& CoNameResolver::current() {
    const CoNameResolver* resolver = installedResolver.load();
    return resolver != nullptr ? *resolver : system();
}

void CoNameResolver::install(const CoNameResolver* resolver) { installedResolver.store(resolver); }

}  // namespace Vantrel
