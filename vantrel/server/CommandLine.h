// The command line of the vantreld program (see usage()).
// Threads: plain values.
#pragma once

#include <string>
#include <vector>

#include "vantrel/server/VantreldServer.h"

namespace vantreld {

struct CommandLine {
    bool help = false;
    bool initSample = false;
    VantreldServer::Options options;
    std::string error;  // not empty: the command line is wrong, and why

    static CommandLine parse(const std::vector<std::string>& args);
    static const char* usage();
};

}  // namespace vantreld
