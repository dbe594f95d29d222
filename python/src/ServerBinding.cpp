// Client (library initialisation), Server and discovery.
#include <pybind11/stl.h>

#include <chrono>
#include <optional>
#include <vector>

#include "Binding.h"
#include "Node.h"

namespace vantrel_python {

namespace {

// The Python context manager: one library initialisation while the context is active.
class ClientContext {
public:
    ClientContext& enter() {
        if (!init_) {
            init_.emplace(LibraryInit::Context::NOT_REQUIRED);
            ++LibraryInit::activeContexts();
        }
        return *this;
    }
    void exit() {
        if (!init_) return;
        --LibraryInit::activeContexts();
        ReleasedInterpreter released;  // the last uninit stops the library's threads
        init_.reset();
    }
    ~ClientContext() {
        if (init_) --LibraryInit::activeContexts();
    }

private:
    std::optional<LibraryInit> init_;
};

VantrelServerInfo serverInfo(ServerState& server) {
    VantrelServerInfo info;
    callServer(server, [&] { return server.handle.getInfo(info); });
    return info;
}

double ping(ServerState& server, double timeoutSeconds) {
    if (!(timeoutSeconds >= 0 && timeoutSeconds < 4e6))
        throw py::value_error("timeout must be from 0 to 4e6 seconds");
    const unsigned ms = static_cast<unsigned>(timeoutSeconds * 1000.0 + 0.5);
    const auto start = std::chrono::steady_clock::now();
    callServer(server, [&] { return server.handle.ping(ms); });
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void stop(ServerState& server, const std::string& message) {
    ReleasedInterpreter released;
    std::lock_guard<std::mutex> lock(server.stopMutex);
    server.stopMessage = message;
    server.stopper.stop(message.c_str());
}

void disconnect(ServerState& server) {
    callServer(server, [&] {
        server.handle.disconnect();
        return true;
    });
}

// A property getter answering one text of the server's description.
auto infoText(const char* (VantrelServerInfo::*get)() const) {
    return [get](ServerState& server) { return std::string((serverInfo(server).*get)()); };
}

std::string serverText(ServerState& server, bool (VantrelServerHandle::*get)(VantrelStr&) const) {
    VantrelStr text;
    callServer(server, [&] { return (server.handle.*get)(text); });
    return text.c_str();
}

py::tuple version(ServerState& server) {
    int major = 0, minor = 0;
    callServer(server, [&] { return server.handle.getVersion(major, minor); });
    return py::make_tuple(major, minor);
}

// Every server that discovery finds, with `database` (None: any).
std::vector<VantrelServerInfo> findServers(std::optional<std::string> database) {
    LibraryInit library(LibraryInit::Context::REQUIRED);
    std::vector<VantrelServerInfo> found;
    std::string error;
    {
        ReleasedInterpreter released;
        VantrelServerList list(database ? database->c_str() : "");
        int count = 0;
        bool ok = list.getNumNodes(count);
        for (int i = 0; ok && i < count; ++i) {
            found.emplace_back();
            ok = list.getNode(i, found.back());
        }
        if (!ok) error = list.lastError();
    }
    if (!error.empty()) throw failureOf(error, false);
    return found;
}

// A file between this host and the server's files area, `local` a path of this host.
void transferFile(ServerState& server, const std::string& remote, const std::string& local,
                  bool (VantrelServerHandle::*transfer)(const char*, const char*) const) {
    refuseNul(remote, "file name");
    refuseNul(local, "path");
    callServer(server, [&] { return (server.handle.*transfer)(remote.c_str(), local.c_str()); });
}

// Leaving a 'with' block: the watches end and the link closes (the next call reopens it).
void leave(ServerState& server) {
    server.dropWatches();
    disconnect(server);
}

ServerPtr withTimeout(ServerPtr server, const py::object& timeout) {
    setTimeout(*server, timeout);
    return server;
}

}  // namespace

void bindServers(py::module_& module) {
    py::class_<ClientContext>(module, "Client",
                              "Library initialisation for a 'with' block.")
        .def(py::init<>())
        .def("__enter__", &ClientContext::enter, py::return_value_policy::reference_internal)
        .def("__exit__", [](ClientContext& context, py::args) { context.exit(); });

    py::class_<ServerState, ServerPtr>(module, "Server", "One server, named by its id.")
        .def(py::init([](const std::string& id, py::object timeout) {
                 refuseNul(id, "server id");
                 return withTimeout(makeServerState(VantrelServerId(id.c_str())), timeout);
             }),
             py::arg("id"), py::kw_only(), py::arg("timeout") = py::none())
        .def(py::init([](const VantrelServerInfo& info, py::object timeout) {
                 return withTimeout(makeServerState(info.getId()), timeout);
             }),
             py::arg("info"), py::kw_only(), py::arg("timeout") = py::none())
        .def_property_readonly("id", [](ServerState& s) { return s.idText; })
        .def_property_readonly("info", &serverInfo)
        .def_property_readonly("display_name", infoText(&VantrelServerInfo::getDisplayName))
        .def_property_readonly("storage_id", infoText(&VantrelServerInfo::getStorageId))
        .def_property_readonly("host_name", infoText(&VantrelServerInfo::getHostname))
        .def_property_readonly("host_uuid", infoText(&VantrelServerInfo::getHostUUID))
        .def_property_readonly("database", infoText(&VantrelServerInfo::getDatabase))
        .def_property_readonly("protocol_version", [](ServerState& s) {
            const VantrelServerInfo info = serverInfo(s);
            return py::make_tuple(info.getVersionMajor(), info.getVersionMinor(),
                                  info.getVersionMaint());
        })
        .def_property_readonly("vendor",
                               [](ServerState& s) { return serverText(s, &VantrelServerHandle::getVendor); })
        .def_property_readonly("product",
                               [](ServerState& s) { return serverText(s, &VantrelServerHandle::getProduct); })
        .def_property_readonly("version", &version)
        .def("ping", &ping, py::arg("timeout") = 5.0)
        .def("stop", &stop, py::arg("message") = "Stopped")
        .def("disconnect", &disconnect)
        .def_property_readonly("root", [](const ServerPtr& s) { return rootNode(s); })
        .def("resolve", &resolvePath, py::arg("path"))
        .def("_push_file",
             [](ServerState& s, const std::string& local, const std::string& remote) {
                 transferFile(s, remote, local, &VantrelServerHandle::pushStream);
             })
        .def("_pull_file",
             [](ServerState& s, const std::string& remote, const std::string& local) {
                 transferFile(s, remote, local, &VantrelServerHandle::pullStream);
             })
        .def("__enter__", [](const ServerPtr& s) { return s; })
        .def("__exit__", [](ServerState& s, py::args) { leave(s); })
        .def("__repr__", [](ServerState& s) { return "Server('" + s.idText + "')"; });

    module.def("servers", &findServers, py::arg("database") = py::none());
}

}  // namespace vantrel_python
