// Calls that a Python program can bound in time and end with Ctrl-C.
#include <pybind11/pybind11.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <sstream>
#include <thread>

#include "Binding.h"

namespace vantrel_python {

namespace {

const char INTERRUPTED[] = "Interrupted";

unsigned long& mainThreadIdent() {
    static unsigned long ident = 0;
    return ident;
}

// The end of one job, told by the thread that runs it.
class JobEnd {
public:
    void markEnded() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
        }
        ended.notify_all();
    }
    bool waitFor(std::chrono::milliseconds time) {
        std::unique_lock<std::mutex> lock(mutex_);
        return ended.wait_for(lock, time, [this] { return ended_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable ended;
    bool ended_ = false;
};

// A Python exception taken from the interpreter, to be raised again later.
struct PendingError {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
};

// Runs the signal handlers (main thread, interpreter lock taken for it); true when one
// raised, its exception then kept in `pending`.
bool signalHandlerRaised(PendingError& pending) {
    py::gil_scoped_acquire acquired;
    if (PyErr_CheckSignals() == 0) return false;
    PyErr_Fetch(&pending.type, &pending.value, &pending.traceback);
    return true;
}

std::string timedOutText(int64_t limitMs) {
    std::ostringstream text;
    text << "Connection timed out: no answer within " << limitMs / 1000.0 << " s";
    return text.str();
}

// Seconds as milliseconds for a setting: None or infinity give NO_LIMIT.
int64_t limitOf(const py::object& seconds) {
    if (seconds.is_none()) return ServerState::NO_LIMIT;
    if (!py::isinstance<py::int_>(seconds) && !py::isinstance<py::float_>(seconds))
        throw py::type_error("timeout must be a number of seconds or None");
    const double value = seconds.cast<double>();
    if (std::isinf(value) && value > 0) return ServerState::NO_LIMIT;
    if (!(value > 0 && value <= 4e6))
        throw py::value_error("timeout must be a number of seconds above 0 (at most 4e6), "
                              "or None / math.inf for no limit");
    return std::max<int64_t>(1, static_cast<int64_t>(std::llround(value * 1000.0)));
}

py::object secondsOf(int64_t limitMs) {
    if (limitMs == ServerState::NO_LIMIT) return py::none();
    return py::float_(limitMs / 1000.0);
}

}  // namespace

std::atomic<int64_t>& moduleTimeoutMs() {
    static std::atomic<int64_t> limit{DEFAULT_TIMEOUT_MS};
    return limit;
}

int64_t effectiveTimeoutMs(const ServerState& server) {
    const int64_t own = server.timeoutMs.load();
    return own == ServerState::FOLLOW_MODULE ? moduleTimeoutMs().load() : own;
}

void ServerState::cutShort(const char* reason) {
    std::lock_guard<std::mutex> lock(stopMutex);
    stopper.stop(reason);
}

ReleasedInterpreter::~ReleasedInterpreter() noexcept(false) {
    if (PyThread_get_thread_ident() == mainThreadIdent()) {
        PyEval_RestoreThread(saved_);
        return;
    }
    if (_Py_IsFinalizing() || !ExitGate::tryEnter())
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    PyEval_RestoreThread(saved_);
    ExitGate::leave();
}

void runGuarded(ServerState& server, const std::function<void()>& job) {
    const int64_t limitMs = effectiveTimeoutMs(server);
    const bool onMainThread = PyThread_get_thread_ident() == mainThreadIdent();
    JobEnd end;
    std::exception_ptr thrown;
    PendingError pending;
    bool interrupted = false;
    bool timedOut = false;
    {
        ReleasedInterpreter released;
        const auto start = std::chrono::steady_clock::now();
        std::thread worker([&] {
            try {
                job();
            } catch (...) {
                thrown = std::current_exception();
            }
            end.markEnded();
        });
        while (!end.waitFor(std::chrono::milliseconds(WAIT_SLICE_MS))) {
            // A stop that came before the call got going is forgotten by it: cut again each
            // slice until the job ends.
            if (!interrupted && !timedOut) {
                if (onMainThread) interrupted = signalHandlerRaised(pending);
                timedOut = !interrupted && limitMs != ServerState::NO_LIMIT &&
                           std::chrono::steady_clock::now() - start >=
                               std::chrono::milliseconds(limitMs);
            }
            if (interrupted) server.cutShort(INTERRUPTED);
            if (timedOut) server.cutShort(timedOutText(limitMs).c_str());
        }
        worker.join();
    }
    if (interrupted) {
        PyErr_Restore(pending.type, pending.value, pending.traceback);
        throw py::error_already_set();
    }
    if (timedOut) throw Failure(Failure::Kind::CONNECTION, timedOutText(limitMs));
    if (thrown) std::rethrow_exception(thrown);
}

void setTimeout(ServerState& server, const py::object& seconds) {
    server.timeoutMs = seconds.is_none() ? ServerState::FOLLOW_MODULE : limitOf(seconds);
}

void bindCallLimits(py::module_& module) {
    mainThreadIdent() =
        py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
    module.attr("DEFAULT_TIMEOUT") = DEFAULT_TIMEOUT_MS / 1000.0;
    module.def(
        "set_timeout", [](py::object seconds) { moduleTimeoutMs() = limitOf(seconds); },
        py::arg("seconds"),
        "Sets the longest any call to a server may take, in seconds, for every Server without a\n"
        "timeout of its own (None or math.inf: no limit). A call that runs out raises\n"
        "ConnectionError('Connection timed out ...'). Default: DEFAULT_TIMEOUT (30 s).");
    module.def(
        "get_timeout", [] { return secondsOf(moduleTimeoutMs().load()); },
        "The module's time limit of a call in seconds (None: no limit).");

    py::class_<ServerState, ServerPtr> server =
        py::reinterpret_borrow<py::class_<ServerState, ServerPtr>>(module.attr("Server"));
    server.def_property(
        "timeout", [](const ServerState& s) { return secondsOf(effectiveTimeoutMs(s)); },
        &setTimeout,
        "The longest a call to this server may take, in seconds (None when unlimited).\n"
        "Assigning a number (math.inf: no limit) gives this server its own limit; assigning\n"
        "None makes it follow vantrel.set_timeout() again.");
}

}  // namespace vantrel_python
