#include "osal/CoIdentity.h"
#include "vantrel/client/connection/VantrelOSPlatform.h"

namespace Vantrel {
namespace vantrelOsPlatform {

VantrelOS::OsType osType() { return VantrelOS::WindowsNT; }

// The version is not asked of Windows, which reports one that depends on the program's
// manifest rather than on the system.
bool osVersion(std::string& text) {
    text = "unknown";
    return true;
}

bool effectiveUserName(std::string& text) { return CoIdentity::getUserName(text); }

bool effectiveGroupName(std::string& text) { return CoIdentity::getGroupName(text); }

}  // namespace vantrelOsPlatform
}  // namespace Vantrel
