#include "network/CoNetworkLocal.h"
#include "rcApi/rcLocalFacts.h"

namespace Vantrel {

bool rcLocalFacts::getHostName(std::string& out) const { return CoNetworkLocal::lookUpHostName(out); }

}  // namespace Vantrel
