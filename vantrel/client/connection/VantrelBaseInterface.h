// VantrelBaseInterface: the server-level client of one server, as the rest of the library
// sees it: asks the server to shut down and keeps the text of its last failure.
// Threads: no lock; one thread at a time.
#pragma once

#include <string>

class VantrelBaseInterface {
public:
    virtual ~VantrelBaseInterface();
    // Asks the server to shut down. False with the reason in lastError() on failure.
    virtual bool shutdown() = 0;
    const std::string& lastError() const { return lastError_; }

protected:
    void setLastError(const std::string& text) { lastError_ = text; }

private:
    std::string lastError_;
};
