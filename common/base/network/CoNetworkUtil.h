// Small helpers of the network layer.
#pragma once

#include <string>

namespace Vantrel {

class CoNetworkUtil {
public:
    // The system's text for the error number `code` (an errno value), as the whole library
    // words it. Thread-safe.
    static std::string strerror(int code);
    // The text of the calling thread's current errno value.
    static std::string strerror();
};

}  // namespace Vantrel
