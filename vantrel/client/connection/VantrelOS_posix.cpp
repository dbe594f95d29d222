#include <sys/utsname.h>

#include "osal/CoIdentity.h"
#include "vantrel/client/connection/VantrelOSPlatform.h"

namespace Vantrel {
namespace vantrelOsPlatform {

VantrelOS::OsType osType() { return VantrelOS::Linux; }

bool osVersion(std::string& text) {
    struct utsname names;
    if (uname(&names) != 0) return false;
    text = names.release;
    return true;
}

bool effectiveUserName(std::string& text) { return CoIdentity::getUserName(text); }

bool effectiveGroupName(std::string& text) { return CoIdentity::getGroupName(text); }

}  // namespace vantrelOsPlatform
}  // namespace Vantrel
