// Events: Server.watch(node, callback) and the Watch it returns.
#include <pybind11/stl.h>

#include "EventHandler.h"
#include "Node.h"
#include "rcApi/rcAttrStream.h"

namespace vantrel_python {

namespace {

// How long the exit waits for callbacks and Server deletions in flight.
constexpr int EXIT_WAIT_MS = 5000;

thread_local bool runningCallback = false;

// Leaves the ExitGate when it goes.
class GateLeaver {
public:
    GateLeaver() = default;
    ~GateLeaver() { ExitGate::leave(); }
    GateLeaver(const GateLeaver&) = delete;
    GateLeaver& operator=(const GateLeaver&) = delete;
};

// Marks the calling thread as running a callback while it lives.
class CallbackScope {
public:
    CallbackScope() { runningCallback = true; }
    ~CallbackScope() { runningCallback = false; }
};

}  // namespace

bool EventHandler::inCallback() { return runningCallback; }

std::atomic<bool>& EventHandler::delivering() {
    static std::atomic<bool> on{true};
    return on;
}

void EventHandler::handleEvent(const VantrelNodeEvent& event) {
    // Taking the lock once the interpreter shuts down would end this thread.
    if (!delivering() || _Py_IsFinalizing() || !ExitGate::tryEnter()) return;
    GateLeaver inside;  // the callback's whole run counts, so the exit hook waits for it
    py::gil_scoped_acquire acquired;
    if (!delivering()) return;
    const std::string context = "vantrel watch callback for node " + nodeId_;
    try {
        CallbackScope scope;
        callback_(Event{event.getNodeId().id(), event.getType().c_str(),
                        detailsOf(event.getDetails())});
    } catch (py::error_already_set& raised) {
        raised.discard_as_unraisable(context.c_str());
    } catch (const std::exception& failure) {
        PyErr_SetString(PyExc_RuntimeError, failure.what());
        PyErr_WriteUnraisable(py::str(context).ptr());
    }
}

py::dict EventHandler::detailsOf(const VantrelDictionary& details) {
    py::dict fields;
    const Vantrel::rcAttrStream stream(details.getStream());
    Vantrel::rcAttrStream::ConstIterator it(stream);
    unsigned namePos = 0, nameLen = 0, valuePos = 0, valueLen = 0;
    while (it.next(namePos, nameLen, valuePos, valueLen)) {
        const std::string& data = it.getData();
        fields[py::str(data.substr(namePos, nameLen))] = py::reinterpret_steal<py::str>(
            PyUnicode_DecodeUTF8(data.data() + valuePos, valueLen, "replace"));
    }
    return fields;
}

namespace {

// What watch() returns: cancel() (or leaving its 'with' block) stops the callbacks.
struct Watch {
    ServerPtr server;
    int key;
};

// Fails (NotFoundError) when the server knows no node `id`: a server may accept events of a
// node it does not hold, and such a watch would never report anything.
void checkNodeExists(ServerState& server, const std::string& id) {
    callServer(server, [&] {
        VantrelNodeHandle node(server.handle, VantrelNodeId(id.c_str()));
        VantrelStr type;
        return node.getNodeTypeStr(type);
    });
}

// The id of `node`, a Node or an id: TypeError for anything else, ValueError for a text
// that cannot be UTF-8 (UnicodeEncodeError) or holds a NUL.
std::string watchedId(const py::object& node) {
    if (py::isinstance<Node>(node)) return node.attr("id").cast<std::string>();
    if (!py::isinstance<py::str>(node))
        throw py::type_error("node must be a Node or a node id (str)");
    const std::string id = py::reinterpret_borrow<py::str>(node);
    refuseNul(id, "node id");
    return id;
}

Watch watch(const ServerPtr& server, py::object node, py::object callback) {
    if (!PyCallable_Check(callback.ptr())) throw py::type_error("callback must be callable");
    const std::string id = watchedId(node);
    checkNodeExists(*server, id);
    auto handler = std::make_unique<EventHandler>(id, std::move(callback));
    std::string error;
    int key = 0;
    runGuarded(*server, [&] {
        std::lock_guard<std::mutex> lock(server->eventsMutex);
        if (server->events.registerEventHandler(VantrelNodeId(id.c_str()), handler.get())) {
            key = server->nextWatch++;
            server->watches[key] = std::move(handler);
        } else {
            error = server->events.lastError();
        }
    });
    if (key == 0) throw failureOf(error, server->stoppedWith(error));
    return Watch{server, key};
}

// Unregisters watch `key`; once this returns its callback does not run and will not run again.
// The library forgets the handler even when it cannot tell the server (the link is gone, and
// with it the events), so that ends the watch quietly too.
void cancel(Watch& watch) {
    ServerState& server = *watch.server;
    std::unique_ptr<EventHandler> handler;
    runGuarded(server, [&] {
        std::lock_guard<std::mutex> lock(server.eventsMutex);
        auto found = server.watches.find(watch.key);
        if (found == server.watches.end()) return;
        server.events.unregisterEventHandler(VantrelNodeId(found->second->nodeId().c_str()),
                                             found->second.get());
        handler = std::move(found->second);
        server.watches.erase(found);
    });
}

}  // namespace

void bindEvents(py::module_& module) {
    py::class_<Event>(module, "Event", "One change the server reported on a watched node.")
        .def_readonly("node_id", &Event::nodeId)
        .def_readonly("type", &Event::type)
        .def_readonly("details", &Event::details)
        .def("__repr__", [](const Event& event) {
            return "Event(" + event.type + " on '" + event.nodeId + "', " +
                   py::repr(event.details).cast<std::string>() + ")";
        });

    py::class_<Watch>(module, "Watch", "A callback registered for a node's events.")
        .def("cancel", &cancel)
        .def("__enter__", [](Watch& watch) -> Watch& { return watch; },
             py::return_value_policy::reference_internal)
        .def("__exit__", [](Watch& watch, py::args) { cancel(watch); });

    py::class_<ServerState, ServerPtr> server =
        py::reinterpret_borrow<py::class_<ServerState, ServerPtr>>(module.attr("Server"));
    module.def(
        "_close_for_exit",
        [] {
            EventHandler::delivering() = false;
            ExitGate::close(std::chrono::milliseconds(EXIT_WAIT_MS));
        },
        "Ends the delivery of events to callbacks for good and lets no other thread back into\n"
        "the interpreter, once the callbacks and Server deletions in flight ended (the\n"
        "interpreter is exiting: its shutdown would end such threads mid-way).");
    server.def("watch", &watch, py::arg("node"), py::arg("callback"));
    server.def("unwatch", [](const ServerPtr&, Watch& w) { cancel(w); }, py::arg("watch"));
}

}  // namespace vantrel_python
