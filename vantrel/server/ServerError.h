// The one exception of the server: its text is the error reply a client receives.
#pragma once

#include <stdexcept>
#include <string>

namespace vantreld {

class ServerError : public std::runtime_error {
public:
    explicit ServerError(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace vantreld
