// The handler that runs a Python callable for each event of one watch, and what the callable
// receives.
#pragma once

#include "Binding.h"

namespace vantrel_python {

// What a callback receives.
struct Event {
    std::string nodeId;
    std::string type;
    py::dict details;
};

// Runs a Python callable for each event of one watch, on the library's event thread.
class EventHandler : public VantrelNodeEvent::Handler {
public:
    EventHandler(const std::string& nodeId, py::object callback)
        : nodeId_(nodeId), callback_(std::move(callback)) {}
    // Drops the callable; the interpreter lock must be held.
    ~EventHandler() override = default;

    const std::string& nodeId() const { return nodeId_; }

    // Whether events still reach callbacks: false from the interpreter's exit on (set before
    // it shuts down, by the package's atexit hook, which also closes the ExitGate). Any thread.
    static std::atomic<bool>& delivering();

    // Whether the calling thread is running a callback now (the library's event thread).
    static bool inCallback();

    // Calls the callable holding the interpreter lock; what it raises goes to
    // sys.unraisablehook (by default a printed traceback) and the event thread goes on.
    void handleEvent(const VantrelNodeEvent& event) override;

private:
    // The details' attributes as a dict of texts.
    static py::dict detailsOf(const VantrelDictionary& details);

    const std::string nodeId_;
    py::object callback_;
};

}  // namespace vantrel_python
