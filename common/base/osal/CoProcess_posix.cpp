#include "osal/CoProcess.h"

#include <unistd.h>

#include <fstream>

namespace Vantrel {

// The kernel's record of the program name: its first line, at most 15 characters.
bool CoProcess::readName(std::string& name) {
    std::ifstream comm("/proc/self/comm");
    std::string line;
    if (!std::getline(comm, line) || line.empty()) return false;
    name = line;
    return true;
}

int CoProcess::getId() { return static_cast<int>(getpid()); }

}  // namespace Vantrel
