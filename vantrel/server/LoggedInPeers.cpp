#include "vantrel/server/LoggedInPeers.h"

namespace vantreld {

std::string LoggedInPeers::canonical(const std::string& address) {
    static const std::string MAPPED = "::ffff:";
    if (address.compare(0, MAPPED.size(), MAPPED) == 0 &&
        address.find('.') != std::string::npos)
        return address.substr(MAPPED.size());
    return address;
}

void LoggedInPeers::add(const std::string& address) {
    std::lock_guard<std::mutex> hold(lock_);
    ++connections_[canonical(address)];
}

void LoggedInPeers::remove(const std::string& address) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = connections_.find(canonical(address));
    if (found != connections_.end() && --found->second <= 0) connections_.erase(found);
}

bool LoggedInPeers::contains(const std::string& address) const {
    std::lock_guard<std::mutex> hold(lock_);
    return connections_.count(canonical(address)) > 0;
}

}  // namespace vantreld
