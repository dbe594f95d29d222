// Keeps the text of an object's last error and posts it as a message.
//
// Objects whose operations answer with a bool inherit it:
//     setModule(__FILE__, __LINE__).postError("Invalid UUID '%s'", text);
// postError records the text as the last error and, unless silent mode is on, hands it to the
// message router at error level without consulting the filter level.
//
// Threads: no lock; the owner serialises calls on one object. The const operations change the
// module, line and last error, which are mutable.
#pragma once

#include "vantrel/VantrelExport.h"
#include <string>

namespace Vantrel {

class CoLastErrLogger {
public:
    CoLastErrLogger();
    CoLastErrLogger(const CoLastErrLogger&) = default;
    CoLastErrLogger& operator=(const CoLastErrLogger&) = default;
    ~CoLastErrLogger();

    // Sets the source file and line of the next post; returns this object.
    const CoLastErrLogger& setModule(const char* file, int line) const;
    // Formats at most 2047 characters, stores them as the last error and posts them.
    void postError(const char* format, ...) const VANTREL_PRINTF(2, 3);
    std::string getLastError() const;
    void clearLastError() const;
    void setSilentMode(bool silent);
    bool getSilentMode() const;
    // Copies the other's module, line and last error; silent mode stays unchanged.
    void assignError(const CoLastErrLogger& other) const;

private:
    bool silent_;
    mutable std::string module_;
    mutable int line_;
    mutable std::string lastError_;
};

}  // namespace Vantrel
