#include "rcApi/rcLocalFacts.h"

#include <atomic>

#include "network/CoNetworkLocal.h"
#include "osal/CoIdentity.h"
#include "osal/CoProcess.h"

namespace Vantrel {

namespace {

std::atomic<const rcLocalFacts*> installed{nullptr};

}  // namespace

rcLocalFacts::~rcLocalFacts() = default;

bool rcLocalFacts::getUserName(std::string& out) const { return CoIdentity::getUserName(out); }

bool rcLocalFacts::getGroupName(std::string& out) const { return CoIdentity::getGroupName(out); }

bool rcLocalFacts::getHostUUID(std::string& out) const { return CoNetworkLocal::getUUID(out); }

bool rcLocalFacts::getProcessName(std::string& out) const { return CoProcess::getName(out); }

bool rcLocalFacts::getProcessId(int& out) const {
    out = CoProcess::getId();
    return true;
}

const rcLocalFacts& rcLocalFacts::current() {
    static const rcLocalFacts defaults;
    const rcLocalFacts* facts = installed.load();
    return facts != nullptr ? *facts : defaults;
}

void rcLocalFacts::install(const rcLocalFacts* facts) { installed.store(facts); }

}  // namespace Vantrel
