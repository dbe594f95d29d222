// Facts about the current process.
//
// Threads: every operation may be called from any thread.
#pragma once

#include <string>

namespace Vantrel {

class CoProcess {
public:
    // The name of the running program as the system records it (its file name, cut to 15
    // characters on Linux). Read once, on the first call, so that later renaming of the main
    // thread does not change it. False, and `name` unchanged, when the system does not tell.
    static bool getName(std::string& name);

    // The process id. Asked of the system on every call, so a forked child gets its own.
    static int getId();

private:
    // The platform's part of getName(): asks the system, every time it is called.
    static bool readName(std::string& name);
};

}  // namespace Vantrel
