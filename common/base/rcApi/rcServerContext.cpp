#include "rcApi/rcServerContext.h"

#include <algorithm>
#include <cstdio>

#include "loggerBase/CoMsg.h"
#include "osal/CoTime.h"
#include "rcApi/rcSysCalls.h"
#include "tcp/CoIoTcpServerDescriptor.h"

namespace Vantrel {

namespace {

// Bytes taken from a client's socket per read.
constexpr unsigned int READ_CHUNK = 8191;
// How long an answer to an over-long request line may wait for room: the peer is misbehaving
// and must not hold up the other clients.
constexpr unsigned int TOO_LONG_ANSWER_WAIT_MS = 100;

}  // namespace

// ------------------------------------------------------------------------------------ Client

rcServerContext::Client::Client(CoIoTcpDescriptor* io, rcServerContext& context)
    : CoIoHandler(READ_EVENT | EXCEPTION_EVENT), io_(io), context_(context),
      request_(new rcCommand()), currentMethod_(nullptr) {}

rcServerContext::Client::~Client() { context_.clientClosed(*this); }

CoIoDescriptor* rcServerContext::Client::descriptor() { return io_.get(); }

const CoIoDescriptor* rcServerContext::Client::descriptor() const { return io_.get(); }

bool rcServerContext::Client::handleRead() {
    char bytes[READ_CHUNK];
    const int count = io_->nonBlockingRead(bytes, sizeof bytes);
    if (count < 1) {
        closeConnection();
        return false;
    }
    size_t offset = 0;
    while (offset < static_cast<size_t>(count)) {
        offset += request_->parse(bytes + offset, static_cast<size_t>(count) - offset);
        if (request_->isTooLong()) {
            answerLineTooLong();
            closeConnection();
            return false;
        }
        if (!request_->isComplete()) break;

        if (context_.processRequest(*this)) writeReply(context_.currentResult_);
        request_->reset();
        if (!info_.isValid()) {  // the first request must be a successful login
            closeConnection();
            return false;
        }
    }
    return true;
}

bool rcServerContext::Client::handleException() {
    CO_MSG_ERROR("%s", io_->lastError().c_str());
    return true;
}

void rcServerContext::Client::answerLineTooLong() {
    char text[128];
    std::snprintf(text, sizeof text, "Request line longer than %zu bytes.",
                  CoIoTcpDescriptor::MAX_LINE_LENGTH);
    CO_MSG_ERROR("Client [%u]: %s Connection closed.", getId(), text);
    rcResult answer;
    answer.setStatus(rcResult::ERROR);
    answer.setValue(text);
    const std::string line = answer.toString();
    io_->nonBlockingWriteSelect(line.data(), static_cast<unsigned int>(line.size()),
                                TOO_LONG_ANSWER_WAIT_MS);
}

void rcServerContext::Client::closeConnection() {
    io_->close();
    request_.reset(new rcCommand());
    context_.clientClosed(*this);
}

void rcServerContext::Client::writeReply(const rcResult& result) {
    if (!sendLine(result.toString())) CO_MSG_ERROR("%s", io_->lastError().c_str());
}

bool rcServerContext::Client::sendLine(const std::string& line) {
    if (!io_->isValid()) return io_->writeStr(line.c_str());  // fails with the not-connected text
    // Sent straight away rather than with writeStr, whose wait before every send costs a system
    // call per reply; nonBlockingWrite itself waits for room when there is none.
    size_t sent = 0;
    while (sent < line.size()) {
        const int n = io_->nonBlockingWrite(line.data() + sent,
                                            static_cast<unsigned int>(line.size() - sent));
        if (n < 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// --------------------------------------------------------------------------- rcServerContext

rcServerContext::rcServerContext(int port, const std::string& bindAddress)
    : CoIoTcpServerHandler(port, 0, 0, bindAddress), currentClient_(nullptr), valid_(false) {
    if (!descriptor()->isValid()) {
        CO_MSG_ERROR("Unable to set-up port %d to accept connections: %s", port,
                     descriptor()->lastError().c_str());
        return;
    }
    setUp();
}

rcServerContext::rcServerContext(int minPort, int maxPort, const std::string& bindAddress)
    : CoIoTcpServerHandler(minPort, maxPort, 0, 0, bindAddress),
      currentClient_(nullptr),
      valid_(false) {
    if (!descriptor()->isValid()) {
        CO_MSG_ERROR("Unable to find port in range %d to %d accept connections: %s", minPort,
                     maxPort, descriptor()->lastError().c_str());
        return;
    }
    setUp();
}

rcServerContext::~rcServerContext() = default;

void rcServerContext::setUp() {
    valid_ = true;
    rcSysCalls::registerMethods(*this);
    registerIOHandler(this);
}

bool rcServerContext::login(const rcConnectionInfo&) { return true; }

void rcServerContext::clientClosed(const Client&) {}

int rcServerContext::getPort() const {
    return static_cast<const CoIoTcpServerDescriptor*>(descriptor())->getPort();
}

bool rcServerContext::registerMethod(const rcMethod& method) {
    if (!methods_.emplace(method.getName(), method).second) {
        CO_MSG_ERROR("Method '%s' already registered", method.getName());
        return false;
    }
    return true;
}

bool rcServerContext::registerObject(int id, void* object) {
    if (id == 0) {
        CO_MSG_ERROR("Reserved object Id");
        return false;
    }
    CoMutexGuard guard(objectsLock_);
    if (!objects_.emplace(id, object).second) {
        CO_MSG_ERROR("Object '%d' already registered", id);
        return false;
    }
    return true;
}

bool rcServerContext::unregisterObject(int id) {
    CoMutexGuard guard(objectsLock_);
    return objects_.erase(id) > 0;
}

bool rcServerContext::findObject(int id, void*& object) const {
    object = nullptr;
    if (id == 0) return true;
    CoMutexGuard guard(objectsLock_);
    const auto it = objects_.find(id);
    if (it == objects_.end()) return false;
    object = it->second;
    return true;
}

unsigned int rcServerContext::getCurrentClientId() const {
    return currentClient_ != nullptr ? currentClient_->getId() : 0;
}

bool rcServerContext::isIdValid(unsigned int id) {
    const Client* client = findClient(id);
    return client != nullptr && client->isOpen();
}

rcServerContext::Client* rcServerContext::findClient(unsigned int id) {
    for (const auto& client : clients_)
        if (client->getId() == id) return client.get();
    return nullptr;
}

void rcServerContext::setCurrentConnectionInfo(const rcConnectionInfo& info) {
    if (currentClient_ == nullptr) return;
    rcConnectionInfo& own = currentClient_->info_;
    own.setTimestamp(static_cast<unsigned int>(CoTime::getTime() / 1000000u));
    own.setClientInfo(info, currentClient_->io_.get());
    own.logConnection();
}

void rcServerContext::restoreCurrentConnectionInfo(const rcConnectionInfo& previous) {
    if (currentClient_ != nullptr) currentClient_->info_ = previous;
}

const rcConnectionInfo* rcServerContext::getCurrentConnectionInfo() const {
    return currentClient_ != nullptr ? &currentClient_->info_ : nullptr;
}

void rcServerContext::returnFromDelayedCommand(unsigned int id, bool ok, const char* text) {
    Client* client = findClient(id);
    if (client == nullptr) return;
    currentResult_.setStatus(ok ? rcResult::OK : rcResult::ERROR);
    currentResult_.setValue(text);
    if (client->currentMethod_ == nullptr || !client->currentMethod_->isDelayed()) {
        CO_MSG_ERROR("Trying to do a delayed return for a client that isn't waiting for it.");
        return;
    }
    // Answered once: a second return must not put an extra line on the connection, which the
    // client would take as the reply to its next request.
    client->currentMethod_ = nullptr;
    client->writeReply(currentResult_);
}

size_t rcServerContext::requestBufferBytes() const {
    size_t total = 0;
    for (const auto& client : clients_) total += client->requestBufferBytes();
    return total;
}

bool rcServerContext::handleConnection(CoIoTcpDescriptor* io) {
    dropClosedClients();
    clients_.emplace_back(new Client(io, *this));
    registerIOHandler(clients_.back().get());
    return true;
}

void rcServerContext::dropClosedClients() {
    for (size_t i = clients_.size(); i-- > 0;) {
        Client* client = clients_[i].get();
        if (client->isOpen()) continue;
        unregisterIOHandler(client);
        if (currentClient_ == client) currentClient_ = nullptr;
        clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

bool rcServerContext::processRequest(Client& client) {
    currentClient_ = &client;
    const rcCommand& request = *client.request_;
    const bool sync = !request.isAsync();

    const auto method = methods_.find(request.getMethod());
    if (method == methods_.end()) {
        if (sync) {
            currentResult_.setStatus(rcResult::ERROR);
            currentResult_.setValue((std::string("Unknown method: ") + request.getMethod()).c_str());
        }
        client.currentMethod_ = nullptr;
        return sync;
    }
    const int objectId = request.getObjectIdValue();
    void* object = nullptr;
    if (!findObject(objectId, object)) {
        if (sync) {
            char text[64];
            std::snprintf(text, sizeof text, "Invalid Object: %d", objectId);
            currentResult_.setStatus(rcResult::ERROR);
            currentResult_.setValue(text);
        }
        client.currentMethod_ = nullptr;
        return sync;
    }

    client.currentMethod_ = &method->second;
    std::string output;
    const bool ok = method->second.callMethod(object, request.getArgs(), output);
    // Asynchronous requests and delayed methods leave the current result alone.
    if (!sync || method->second.isDelayed()) return false;
    currentResult_.setStatus(ok ? rcResult::OK : rcResult::ERROR);
    currentResult_.setValue(output.c_str());
    return true;
}

}  // namespace Vantrel
