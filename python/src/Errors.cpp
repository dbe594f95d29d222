// The module's exceptions and library initialisation.
#include "Binding.h"

namespace vantrel_python {

namespace {

// Texts the system and the library give when a server cannot be reached or the link to it
// breaks (from strerror and the resolver), found anywhere in the failure text.
const char* const CONNECTION_TEXTS[] = {
    "Connection refused", "Connection timed out", "Connection reset", "Connection closed",
    "Connection aborted", "No route to host",     "Network is unreachable", "Broken pipe",
    "Host is unreachable", "Name or service not known", "Temporary failure in name resolution",
    "Server not found",   "Transport endpoint is not connected",
    "Software caused connection abort",
};

bool isConnectionText(const std::string& text) {
    for (const char* known : CONNECTION_TEXTS)
        if (text.find(known) != std::string::npos) return true;
    return false;
}

struct ErrorClasses {
    py::handle general, connection, notFound, stopped, frameFormat, index;
};
ErrorClasses errorClasses;

// A new exception class "vantrel.NAME" deriving from every class of `bases`.
py::handle newErrorClass(py::module_& module, const char* name, const char* doc,
                         py::tuple bases) {
    const std::string qualified = std::string("vantrel.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
    if (type == nullptr) throw py::error_already_set();
    module.add_object(name, py::handle(type));  // the module keeps the reference
    return type;
}

py::handle classFor(Failure::Kind kind) {
    switch (kind) {
        case Failure::Kind::CONNECTION: return errorClasses.connection;
        case Failure::Kind::NOT_FOUND: return errorClasses.notFound;
        case Failure::Kind::STOPPED: return errorClasses.stopped;
        case Failure::Kind::FRAME_FORMAT: return errorClasses.frameFormat;
        case Failure::Kind::INDEX: return errorClasses.index;
        case Failure::Kind::GENERAL: break;
    }
    return errorClasses.general;
}

}  // namespace

void defineErrors(py::module_& module) {
    py::handle error = newErrorClass(module, "Error", "Any failure of the Vantrel library.",
                                     py::make_tuple(py::handle(PyExc_Exception)));
    errorClasses.general = error;
    errorClasses.connection = newErrorClass(
        module, "ConnectionError", "The server could not be reached or the link to it broke.",
        py::make_tuple(error, py::handle(PyExc_ConnectionError)));
    errorClasses.notFound = newErrorClass(module, "NotFoundError",
                                          "A display path or node id names no node.",
                                          py::make_tuple(error, py::handle(PyExc_LookupError)));
    errorClasses.stopped = newErrorClass(module, "StoppedError",
                                         "The call was cut short by Server.stop().",
                                         py::make_tuple(error));
    errorClasses.frameFormat = newErrorClass(
        module, "FrameFormatError",
        "An array or buffer does not match the clip format of the frame.",
        py::make_tuple(error, py::handle(PyExc_ValueError)));
    errorClasses.index = newErrorClass(
        module, "IndexError", "A frame or child index is outside the node's frames or children.",
        py::make_tuple(error, py::handle(PyExc_IndexError)));
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const Failure& failure) {
            PyErr_SetString(classFor(failure.kind()).ptr(), failure.what());
        }
    });
}

void refuseNul(const std::string& text, const char* what) {
    if (text.find('\0') != std::string::npos)
        throw py::value_error(std::string(what) + " must not contain a NUL character");
}

Failure failureOf(const std::string& text, bool stopped) {
    if (stopped) return Failure(Failure::Kind::STOPPED, text);
    if (isConnectionText(text)) return Failure(Failure::Kind::CONNECTION, text);
    if (text.find("index out of range") != std::string::npos)
        return Failure(Failure::Kind::INDEX, text);
    if (text.rfind("No child named", 0) == 0 || text.rfind("Unknown node id", 0) == 0)
        return Failure(Failure::Kind::NOT_FOUND, text);
    return Failure(Failure::Kind::GENERAL, text.empty() ? "Unknown failure" : text);
}

std::atomic<int>& LibraryInit::activeContexts() {
    static std::atomic<int> count{0};
    return count;
}

namespace {

std::mutex& libraryMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

LibraryInit::LibraryInit(Context context) {
    if (context == Context::REQUIRED && activeContexts().load() == 0)
        throw Failure(Failure::Kind::GENERAL,
                      "Vantrel client library not initialised: use 'with vantrel.Client():'");
    std::lock_guard<std::mutex> lock(libraryMutex());
    if (!client_.init()) throw Failure(Failure::Kind::GENERAL, "The Vantrel library could not start");
}

LibraryInit::~LibraryInit() {
    std::lock_guard<std::mutex> lock(libraryMutex());
    client_ = VantrelClient();  // gives up the initialisation under the lock
}

}  // namespace vantrel_python
