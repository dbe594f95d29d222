#include "network/CoNetworkConfig.h"

#include <cstdlib>

namespace Vantrel {

// The Unix path's folders below the machine-wide application data folder, which Windows names
// in ProgramData for every process (administrators may move it).
std::string coDefaultNetworkConfigFile() {
    const char* programData = std::getenv("ProgramData");
    const std::string folder =
        programData != nullptr && *programData != '\0' ? programData : "C:\\ProgramData";
    return folder + "\\maltrove\\cfg\\network.cfg";
}

}  // namespace Vantrel
