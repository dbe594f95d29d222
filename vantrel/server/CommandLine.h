// The command line of the vantreld program (see usage()).
// Threads: plain values.
#pragma once

#include <string>
#include <vector>

#include "vantrel/server/VantreldServer.h"

namespace vantreld {

struct CommandLine {
    bool help = false;
    bool version = false;
    bool initSample = false;
    std::string logFile;  // empty: standard error
    VantreldServer::Options options;
    std::string error;  // not empty: the command line is wrong, and why

    static CommandLine parse(const std::vector<std::string>& args);
    static const char* usage();
    // "vantreld 1.0 (protocol 2015.0.0.5858)"
    static std::string versionText();
};

}  // namespace vantreld
