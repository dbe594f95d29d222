#include "osal/CoProcess.h"

#include <windows.h>

namespace Vantrel {

// The program's file name without its folder and its ".exe".
bool CoProcess::readName(std::string& name) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return false;
    std::string full(path, length);
    const size_t slash = full.find_last_of("\\/");
    std::string base = slash == std::string::npos ? full : full.substr(slash + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    if (base.empty()) return false;
    name = base;
    return true;
}

int CoProcess::getId() { return static_cast<int>(GetCurrentProcessId()); }

}  // namespace Vantrel
