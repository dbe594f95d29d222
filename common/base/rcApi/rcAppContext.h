// A single-threaded event loop over I/O handlers.
//
// The owner calls callIOHandlers() again and again; each call waits on the descriptors of all
// registered handlers at once and dispatches the ready ones: handleRead() for readable, then
// handleWrite() for writable (unless handleRead() answered false), handleException() for an
// exceptional condition (or a handler without an open descriptor). A handler whose reaction answers false is taken out of the loop
// (never deleted: handlers are not owned).
//
// Handlers may register and unregister handlers, and delete unregistered ones, from inside
// their reactions: a handler taken out during a pass is not called again in that pass, and one
// added during a pass is first watched in the next.
//
// Threads: everything runs on the thread that calls callIOHandlers(); registration from other
// threads needs the owner's own synchronisation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tcp/CoSocketTypes.h"

namespace Vantrel {

class CoIoHandler;

class rcAppContext {
public:
    rcAppContext();
    rcAppContext(const rcAppContext&) = default;
    rcAppContext& operator=(const rcAppContext&) = default;
    virtual ~rcAppContext();

    // Appends `io` (not null, not owned; no check for duplicates).
    void registerIOHandler(CoIoHandler* io);
    // Takes out the first registration of `io`; nothing if absent. `io` is not deleted.
    void unregisterIOHandler(CoIoHandler* io);
    size_t getNbHandlers() const { return handlers_.size(); }

    // One pass of the loop: runs beforeWait(), waits (without limit when `block`, else at most
    // `timeout`; never longer than beforeWait() allows) and dispatches. Returns the number of ready descriptors, 0 when the time ran out, negative
    // when the wait failed (an interrupted wait included).
    int callIOHandlers(bool block, struct timeval timeout);
    // The same with a timeout of `timeoutSeconds` whole seconds.
    int callIOHandlers(bool block, int timeoutSeconds);

    // Has no behaviour: a loop is ended by its owner not calling callIOHandlers() again.
    void cancel() {}

protected:
    // Runs at the start of every pass, before the wait, on the loop's thread: the place for
    // work due at a time (time limits of connections). Returns the longest the coming wait may
    // last in milliseconds, negative for no limit. The default does nothing and returns -1.
    virtual int beforeWait();

    // What a wait found on one descriptor.
    struct Readiness {
        bool readable;
        bool writable;
        bool exceptional;
    };
    // One descriptor to wait on and the events (CoIoHandler mask bits) to watch it for.
    struct WaitItem {
        int id;
        int eventMask;
    };
    // Waits up to `timeoutMs` (negative: without limit) on `items`; fills one Readiness per
    // item. Returns the number of ready descriptors, 0 on time-out, negative on failure.
    // (rcAppContext_posix.cpp)
    static int waitForEvents(const std::vector<WaitItem>& items, int timeoutMs,
                             std::vector<Readiness>& ready);

private:
    // A registration: the serial tells a handler apart from a later one at the same address.
    struct Entry {
        CoIoHandler* handler;
        uint64_t serial;
    };

    static int descriptorId(const CoIoHandler* handler);
    bool isRegistered(const Entry& entry) const;
    void remove(const Entry& entry);
    // Calls the reaction `ready` asks for; false when the handler must leave the loop.
    static bool dispatch(CoIoHandler* handler, const Readiness& ready);

    std::vector<Entry> handlers_;
    uint64_t nextSerial_;
};

}  // namespace Vantrel
