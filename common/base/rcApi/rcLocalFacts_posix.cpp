#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "loggerBase/CoMsg.h"
#include "rcApi/rcLocalFacts.h"

namespace Vantrel {

bool rcLocalFacts::getHostName(std::string& out) const {
    char name[128] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        CO_MSG_ERROR("Could not retrieve host name: %s", std::strerror(errno));
        out = "localhost";
        return true;
    }
    out = name;
    return true;
}

}  // namespace Vantrel
