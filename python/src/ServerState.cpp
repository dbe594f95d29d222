// The life of a ServerState: its handles and the watches left on it.
#include "EventHandler.h"

#include <thread>

namespace vantrel_python {

ServerState::ServerState(const VantrelServerId& id)
    : idText(VantrelServerId(id).getId()), handle(id), stopper(id), events(id) {}

ServerPtr makeServerState(const VantrelServerId& id) {
    // Only Python objects hold the state, so the last one goes with the interpreter lock held.
    // A callback may drop it on the library's event thread; the state may hold the library's
    // last initialisation, whose end waits for that very thread, so it goes on a thread of
    // its own there, counted in the ExitGate so that the process does not end under it.
    return ServerPtr(new ServerState(id), [](ServerState* state) {
        state->dropWatches();
        ReleasedInterpreter released;  // closing the handles may talk to the server
        if (EventHandler::inCallback()) {
            ExitGate::enter();  // the exit waits for this deletion
            std::thread([state] {
                delete state;
                ExitGate::leave();
            }).detach();
        } else
            delete state;
    });
}

ServerState::~ServerState() = default;

bool ServerState::stoppedWith(const std::string& text) {
    std::lock_guard<std::mutex> lock(stopMutex);
    return !stopMessage.empty() && text == stopMessage;
}

void ServerState::dropWatches() {
    std::map<int, std::unique_ptr<EventHandler>> left;
    {
        ReleasedInterpreter released;
        std::lock_guard<std::mutex> lock(eventsMutex);
        for (auto& entry : watches)
            events.unregisterEventHandler(VantrelNodeId(entry.second->nodeId().c_str()),
                                          entry.second.get());
        left.swap(watches);
    }
    left.clear();  // the callables go with the interpreter lock held
}

}  // namespace vantrel_python
