#include "osal/CoProcess.h"

namespace Vantrel {

bool CoProcess::getName(std::string& name) {
    // Read once, safely, by the first caller.
    static std::string program;
    static const bool known = readName(program);
    if (!known) return false;
    name = program;
    return true;
}

}  // namespace Vantrel
