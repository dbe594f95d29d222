// Shared pieces of the Python module: the state behind a Python Server, the helper that runs
// a library call with the interpreter lock released, and the module's exceptions.
//
// Threads: a ServerState is reached from any Python thread and, for events, from the
// library's event thread. Calls on its handle (and on the node handles made on it) take turns
// under `callMutex`, always taken with the interpreter lock released, so no thread ever holds
// the mutex while it waits for the interpreter lock. stop() uses a handle of its own and never
// waits for `callMutex`, so it can cut short the call holding it.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "vantrel/VantrelClientAPI.h"

namespace vantrel_python {

namespace py = pybind11;

// A failure reported to Python as one of the module's exception classes.
class Failure : public std::runtime_error {
public:
    enum class Kind { GENERAL, CONNECTION, NOT_FOUND, STOPPED, FRAME_FORMAT, INDEX };
    Failure(Kind kind, const std::string& text) : std::runtime_error(text), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// Lets the interpreter lock go for its lifetime, like py::gil_scoped_release, and takes it
// back at its end through the ExitGate: once that is closed (the interpreter is exiting), a
// thread other than the main one never comes back and waits here until the process ends.
// The destructor lets a forced unwind pass (noexcept(false)) should one come all the same.
class ReleasedInterpreter {
public:
    ReleasedInterpreter() : saved_(PyEval_SaveThread()) {}
    ~ReleasedInterpreter() noexcept(false);
    ReleasedInterpreter(const ReleasedInterpreter&) = delete;
    ReleasedInterpreter& operator=(const ReleasedInterpreter&) = delete;

private:
    PyThreadState* saved_;
};

// The way back into the interpreter for every thread but the main one. Once the interpreter
// begins to shut down, a thread that takes the interpreter lock is ended by it with a forced
// unwind through whatever C++ frames it is in. So the package's exit hook, which runs before
// the shutdown begins, closes this gate: it lets in the threads already on their way, waits
// for the work counted inside (callbacks, Server deletions on threads of their own) up to a
// bound, and from then on no thread comes back into the interpreter. Any thread.
class ExitGate {
public:
    // Counts the caller inside and answers true, or answers false once the gate is closed.
    static bool tryEnter();
    // Counts work inside even when the gate is closed (work that began before it closed).
    static void enter();
    static void leave();
    // Closes the gate and waits until nothing is inside or `bound` passed. Main thread, with
    // the interpreter lock held (it is released while waiting).
    static void close(std::chrono::milliseconds bound);
};

// Raises ValueError naming `what` when `text` holds a NUL character: the library takes texts
// as C strings and would cut it there.
void refuseNul(const std::string& text, const char* what);

// Creates the exception classes in `module` and translates Failure into them.
void defineErrors(py::module_& module);

// One initialisation of the library, undone by the destructor. The library counts its inits
// and uninits but wants them from one thread at a time: every one made here takes one
// process-wide mutex, whatever thread makes it (Servers may go on any Python thread).
// Only the first init and the last uninit act, and the last one only goes with the last
// object that uses the library, so they never meet a thread that is still using it.
class LibraryInit {
public:
    enum class Context { REQUIRED, NOT_REQUIRED };

    // Throws Failure when the library cannot start, or with Context::REQUIRED when no Client
    // context is active (every Server, discovery call, ... needs one).
    explicit LibraryInit(Context context);
    ~LibraryInit();
    LibraryInit(const LibraryInit&) = delete;
    LibraryInit& operator=(const LibraryInit&) = delete;

    // The number of active Client contexts.
    static std::atomic<int>& activeContexts();

private:
    VantrelClient client_;
};

class EventHandler;

// Everything one Python Server object owns; Nodes and watches hold it by shared_ptr, so the
// server handle outlives every node handle made on it.
struct ServerState {
    explicit ServerState(const VantrelServerId& id);
    ~ServerState();

    // Unregisters every watch that is left and lets their callables go. Call with the
    // interpreter lock held (it is released for the network calls).
    void dropWatches();

    LibraryInit library{LibraryInit::Context::REQUIRED};
    const std::string idText;     // the id as given, readable from any thread
    VantrelServerHandle handle;   // calls and node handles, under callMutex
    VantrelServerHandle stopper;  // stop() only, under stopMutex
    VantrelServerHandle events;   // watch registrations, under eventsMutex
    std::mutex callMutex;
    std::mutex stopMutex;
    std::mutex eventsMutex;
    std::string stopMessage;       // the message of the last stop(), under stopMutex
    std::map<int, std::unique_ptr<EventHandler>> watches;  // under eventsMutex
    int nextWatch = 1;                                     // under eventsMutex

    // Whether a failure with `text` is a call cut short by stop(): the library reports it with
    // stop's message, whether the stop came while the call waited or while it got going.
    bool stoppedWith(const std::string& text);

    // Cuts the call now on the server's link short with `reason`, leaving stopMessage alone
    // (a time-out or an interrupt is not the application's stop). Any thread.
    void cutShort(const char* reason);

    // This server's own time limit of a call in milliseconds: FOLLOW_MODULE (the module's
    // setting) or, from 1 up, the limit; NO_LIMIT for none.
    static constexpr int64_t FOLLOW_MODULE = -1;
    static constexpr int64_t NO_LIMIT = 0;
    std::atomic<int64_t> timeoutMs{FOLLOW_MODULE};
};

using ServerPtr = std::shared_ptr<ServerState>;

// Makes a ServerState owned by a shared_ptr whose deleter releases the interpreter lock while
// the handles close (they may talk to the server).
ServerPtr makeServerState(const VantrelServerId& id);

// The Failure for a call of `server` that answered false with `text`.
Failure failureOf(const std::string& text, bool stopped);

// The module's time limit of a call in milliseconds (ServerState::NO_LIMIT for none); by
// default DEFAULT_TIMEOUT_MS. Any thread.
constexpr int64_t DEFAULT_TIMEOUT_MS = 30000;
std::atomic<int64_t>& moduleTimeoutMs();
// The limit in force for `server`'s calls (NO_LIMIT for none).
int64_t effectiveTimeoutMs(const ServerState& server);
// Gives `server` a limit of its own (seconds; math.inf: none), or with None makes it follow
// the module's. Raises ValueError for a number that is no limit.
void setTimeout(ServerState& server, const py::object& seconds);

// Runs `job` on a thread of its own while the calling thread waits for it with the
// interpreter lock released, so that the wait can end early:
//  - on the main thread, every WAIT_SLICE_MS the thread takes the interpreter lock and runs
//    the signal handlers; when one raises (KeyboardInterrupt on Ctrl-C), the server's call
//    is cut short and that exception propagates once the job has ended;
//  - when the server's time limit passes, the call is cut short and Failure (connection,
//    "Connection timed out ...") is thrown once the job has ended.
// The job runs to its end in every case (it touches no Python object); what it throws is
// thrown again here. Call with the interpreter lock held.
constexpr int WAIT_SLICE_MS = 100;
void runGuarded(ServerState& server, const std::function<void()>& job);

// Runs `operation` (a callable answering bool) through runGuarded with the server's call
// mutex held; on false throws the Failure for the handle's last error.
template <class Operation>
void callServer(ServerState& server, Operation&& operation) {
    std::string error;
    bool failed = false;
    bool stopped = false;
    runGuarded(server, [&] {
        std::lock_guard<std::mutex> lock(server.callMutex);
        if (operation()) return;
        failed = true;
        error = server.handle.lastError();
        stopped = server.stoppedWith(error);
    });
    if (failed) throw failureOf(error, stopped);
}

// Binders, one per part of the module.
void bindFormats(py::module_& module);
void bindServers(py::module_& module);
void bindNodes(py::module_& module);
void bindEvents(py::module_& module);
void bindCallLimits(py::module_& module);
void bindMessages(py::module_& module);

}  // namespace vantrel_python
