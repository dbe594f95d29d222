#include "osal/CoProcess.h"

#include <unistd.h>

#include <fstream>

namespace Vantrel {
namespace {

// The kernel's record of the program name: its first line, at most 15 characters.
bool readProgramName(std::string& name) {
    std::ifstream comm("/proc/self/comm");
    std::string line;
    if (!std::getline(comm, line) || line.empty()) return false;
    name = line;
    return true;
}

struct ProgramName {
    ProgramName() : known(readProgramName(name)) {}
    std::string name;
    bool known;
};

}  // namespace

bool CoProcess::getName(std::string& name) {
    static const ProgramName program;  // made once, safely, by the first caller
    if (!program.known) return false;
    name = program.name;
    return true;
}

int CoProcess::getId() { return static_cast<int>(getpid()); }

}  // namespace Vantrel
