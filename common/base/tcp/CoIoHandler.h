// What an event loop watches: a descriptor, the conditions to watch it for, and what to do
// when one of them comes.
//
// The loop (the application context of the remote-call server) waits on the descriptors of all
// its handlers and calls handleRead, handleWrite or handleException of the ready ones; what
// their results mean is the loop's business. A handler is used by the loop's thread only.
#pragma once

#include "tcp/CoIoDescriptor.h"

namespace Vantrel {

class CoIoHandler {
public:
    // Bits of the event mask.
    static constexpr int READ_EVENT = 1;
    static constexpr int WRITE_EVENT = 2;
    static constexpr int EXCEPTION_EVENT = 4;

    explicit CoIoHandler(int eventMask = 0) : eventMask_(eventMask) {}

    // The watched descriptor (not owned by the caller); null when the handler has none.
    virtual CoIoDescriptor* descriptor() = 0;
    virtual const CoIoDescriptor* descriptor() const = 0;
    // The reactions; each default does nothing and returns true.
    virtual bool handleRead();
    virtual bool handleWrite();
    virtual bool handleException();
    virtual ~CoIoHandler();

    int getEventMask() const { return eventMask_; }
    void setEventMask(int eventMask) { eventMask_ = eventMask; }

private:
    int eventMask_;
};

}  // namespace Vantrel
