#include "network/CoNetworkConfig.h"

namespace Vantrel {

std::string coDefaultNetworkConfigFile() { return CFG_FILE_NAME; }

}  // namespace Vantrel
