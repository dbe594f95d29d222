#include "network/CoNetworkUtil.h"

#include "tcp/CoOsError.h"

namespace Vantrel {

std::string CoNetworkUtil::strerror(int code) { return coOsErrorText(code); }

std::string CoNetworkUtil::strerror() { return coCurrentOsErrorText(); }

}  // namespace Vantrel
