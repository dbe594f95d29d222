#include "rcApi/rcServerContext.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <utility>

#include "vantrel/CoMsg.h"
#include "osal/CoTime.h"
#include "rcApi/rcSysCalls.h"
#include "tcp/CoIoTcpServerDescriptor.h"

namespace Vantrel {

namespace {

// Bytes taken from a client's socket per read.
constexpr unsigned int READ_CHUNK = 8191;

const std::string OK_STATUS = "ok";
const std::string ERROR_STATUS = "error";

}  // namespace

// ------------------------------------------------------------------------------------ Client

rcServerContext::Client::Client(CoIoTcpDescriptor* io, rcServerContext& context)
    : CoIoHandler(READ_EVENT | EXCEPTION_EVENT), io_(io), context_(context),
      request_(new rcCommand()),
      currentMethod_(nullptr),
      acceptedMs_(CoTime::monotonicMs()),
      heardMs_(acceptedMs_) {
    // The id is the record's serial, and id 0 stands for "no client": a record that drew serial 0
    // (the first one of the process, or the counter after it wrapped) takes the next one.
    // Otherwise a delayed method would take its client for none and never answer it.
    while (getId() == 0) info_ = rcConnectionInfo();
}

rcServerContext::Client::~Client() { context_.clientClosed(*this); }

CoIoDescriptor* rcServerContext::Client::descriptor() { return io_.get(); }

const CoIoDescriptor* rcServerContext::Client::descriptor() const { return io_.get(); }

size_t rcServerContext::Client::requestBufferBytes() const {
    return request_->capacity() + input_.capacity() + output_.capacity();
}

bool rcServerContext::Client::handleRead() {
    char bytes[READ_CHUNK];
    const int count = io_->nonBlockingRead(bytes, sizeof bytes);
    if (count < 1) {
        closeConnection();
        return false;
    }
    heardMs_ = CoTime::monotonicMs();
    size_t consumed = 0;
    if (!serve(bytes, static_cast<size_t>(count), consumed)) return false;
    input_.append(bytes + consumed, static_cast<size_t>(count) - consumed);
    updateEventMask();
    return true;
}

bool rcServerContext::Client::handleWrite() {
    if (!flushOutput(CoTime::monotonicMs())) {
        CO_MSG_ERROR("%s", io_->lastError().c_str());
        closeConnection();
        return false;
    }
    if (!serveWaitingInput()) return false;
    updateEventMask();
    return true;
}

bool rcServerContext::Client::serveWaitingInput() {
    if (input_.empty() || isQueueOverLimit()) return true;
    const std::string waiting = std::move(input_);
    input_.clear();
    size_t consumed = 0;
    if (!serve(waiting.data(), waiting.size(), consumed)) return false;
    input_.assign(waiting, consumed, std::string::npos);
    return true;
}

bool rcServerContext::Client::serve(const char* bytes, size_t size, size_t& consumed) {
    consumed = 0;
    while (consumed < size && !isQueueOverLimit()) {
        const size_t taken = request_->parse(bytes + consumed, size - consumed);
        consumed += taken;
        requestBytes_ += taken;
        if (request_->isTooLong() || requestBytes_ > lineLimit()) {
            answerLineTooLong();
            closeConnection();
            return false;
        }
        if (!request_->isComplete()) break;

        if (context_.processRequest(*this)) context_.writeCurrentReply(*this);
        finishRequest();
        if (!io_->isValid()) return false;  // the reply could not be written
        if (!info_.isValid()) {  // the first request must be a successful login
            closeConnection();
            return false;
        }
    }
    return true;
}

size_t rcServerContext::Client::lineLimit() const {
    return info_.isValid() ? context_.lineLimitAfterLogin_ : context_.lineLimitBeforeLogin_;
}

void rcServerContext::Client::finishRequest() {
    requestBytes_ = 0;
    if (request_->capacity() > BUFFER_KEEP_BYTES)
        request_.reset(new rcCommand());
    else
        request_->reset();
    if (input_.empty() && input_.capacity() > BUFFER_KEEP_BYTES) std::string().swap(input_);
}

bool rcServerContext::Client::handleException() {
    CO_MSG_ERROR("%s", io_->lastError().c_str());
    return true;
}

void rcServerContext::Client::answerLineTooLong() {
    char text[128];
    std::snprintf(text, sizeof text, "Request line longer than %zu bytes.",
                  std::min(lineLimit(), CoIoTcpDescriptor::MAX_LINE_LENGTH));
    CO_MSG_ERROR("Client [%u]: %s Connection closed.", getId(), text);
    // After the replies still queued, as far as the socket takes them now: the peer is
    // misbehaving and gets no wait.
    rcAppendReplyLine(output_, ERROR_STATUS, text);
    flushOutput(CoTime::monotonicMs());
}

void rcServerContext::Client::closeConnection() {
    io_->close();
    request_.reset(new rcCommand());
    requestBytes_ = 0;
    std::string().swap(input_);
    std::string().swap(output_);
    outputSent_ = 0;
    queuedSinceMs_ = 0;
    context_.clientClosed(*this);
}

void rcServerContext::Client::writeReply(bool ok, const std::string& value) {
    if (!io_->isValid()) {
        CO_MSG_ERROR("%s", io_->lastError().c_str());
        return;
    }
    // Written bytes go before new ones come: a reply being written is never moved, and the
    // queue holds what is still to go.
    output_.erase(0, outputSent_);
    outputSent_ = 0;
    rcAppendReplyLine(output_, ok ? OK_STATUS : ERROR_STATUS, value.c_str());
    if (flushOutput(CoTime::monotonicMs())) return;
    CO_MSG_ERROR("%s", io_->lastError().c_str());
    closeConnection();
}

bool rcServerContext::Client::flushOutput(uint64_t nowMs) {
    while (outputSent_ < output_.size()) {
        const size_t left = output_.size() - outputSent_;
        const int n = io_->sendWithoutWaiting(output_.data() + outputSent_,
                                              static_cast<unsigned int>(std::min<size_t>(left, INT_MAX)));
        if (n < 0) return false;
        if (n == 0) break;
        outputSent_ += static_cast<size_t>(n);
    }
    if (outputSent_ == output_.size()) {
        output_.clear();
        outputSent_ = 0;
        queuedSinceMs_ = 0;
        if (output_.capacity() > BUFFER_KEEP_BYTES) std::string().swap(output_);
        return true;
    }
    if (queuedSinceMs_ == 0) queuedSinceMs_ = nowMs;
    return true;
}

bool rcServerContext::Client::isQueueOverLimit() const {
    return queuedReplyBytes() > context_.replyQueueLimit_;
}

void rcServerContext::Client::updateEventMask() {
    int mask = EXCEPTION_EVENT;
    if (!isQueueOverLimit()) mask |= READ_EVENT;
    if (queuedReplyBytes() > 0) mask |= WRITE_EVENT;
    setEventMask(mask);
}

std::string rcServerContext::Client::peerAddress() const {
    std::string address;
    if (io_->isValid()) io_->getPeerIP(address);
    return address;
}

int rcServerContext::Client::enforceDeadlines(uint64_t nowMs) {
    if (!io_->isValid()) return -1;
    int next = -1;
    const auto check = [&](bool applies, uint64_t since, unsigned int limitMs) {
        if (!applies || limitMs == 0) return false;
        const uint64_t due = since + limitMs;
        if (nowMs >= due) return true;
        const int wait = static_cast<int>(std::min<uint64_t>(due - nowMs, INT_MAX));
        next = next < 0 ? wait : std::min(next, wait);
        return false;
    };
    if (check(queuedSinceMs_ != 0, queuedSinceMs_, context_.drainTimeoutMs_)) {
        CO_MSG_ERROR("Client [%u] at %s: %zu reply bytes not taken within %u ms. Connection "
                     "closed.", getId(), peerAddress().c_str(), queuedReplyBytes(),
                     context_.drainTimeoutMs_);
        closeConnection();
        return -1;
    }
    if (check(!info_.isValid(), acceptedMs_, context_.loginTimeoutMs_)) {
        CO_MSG_NOTICE("Client at %s: no login within %u ms. Connection closed.",
                      peerAddress().c_str(), context_.loginTimeoutMs_);
        closeConnection();
        return -1;
    }
    // A client waiting for its answer is not silent.
    const bool waiting =
        (currentMethod_ != nullptr && currentMethod_->isDelayed()) || queuedReplyBytes() > 0;
    if (check(info_.isValid() && !waiting, heardMs_, context_.idleTimeoutMs_)) {
        CO_MSG_NOTICE("Client [%u] at %s: silent for %u ms. Connection closed.", getId(),
                      peerAddress().c_str(), context_.idleTimeoutMs_);
        closeConnection();
        return -1;
    }
    return next;
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
    if (client->currentMethod_ == nullptr || !client->currentMethod_->isDelayed()) {
        CO_MSG_ERROR("Trying to do a delayed return for a client that isn't waiting for it.");
        return;
    }
    // Answered once: a second return must not put an extra line on the connection, which the
    // client would take as the reply to its next request.
    client->currentMethod_ = nullptr;
    client->writeReply(ok, text != nullptr ? text : "");
}

size_t rcServerContext::requestBufferBytes() const {
    size_t total = 0;
    for (const auto& client : clients_) total += client->requestBufferBytes();
    return total;
}

size_t rcServerContext::openClientCount() const {
    return static_cast<size_t>(std::count_if(clients_.begin(), clients_.end(),
                                             [](const auto& client) { return client->isOpen(); }));
}

bool rcServerContext::handleConnection(CoIoTcpDescriptor* io) {
    std::unique_ptr<CoIoTcpDescriptor> connection(io);
    dropClosedClients();
    if (connectionFilter_) {
        std::string peer;
        connection->getPeerIP(peer);
        if (!connectionFilter_(peer)) {
            CO_MSG_NOTICE("Connection from %s refused: address not allowed.", peer.c_str());
            return true;
        }
    }
    clients_.emplace_back(new Client(connection.release(), *this));
    registerIOHandler(clients_.back().get());
    return true;
}

int rcServerContext::beforeWait() {
    if (!valid_) return -1;
    const uint64_t now = CoTime::monotonicMs();
    int next = resumeAcceptingIfDue();
    for (const auto& client : clients_) {
        const int wait = client->enforceDeadlines(now);
        if (wait >= 0) next = next < 0 ? wait : std::min(next, wait);
    }
    dropClosedClients();
    return next;
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

bool rcServerContext::refusesBeforeLogin(const Client& client, const rcCommand& request) const {
    if (!loginRequired_ || client.info_.isValid()) return false;
    const std::string method = request.getMethod();
    return method != "_login" && method != "_ping";
}

bool rcServerContext::processRequest(Client& client) {
    currentClient_ = &client;
    const rcCommand& request = *client.request_;
    const bool sync = !request.isAsync();

    if (refusesBeforeLogin(client, request)) {
        if (sync) setCurrentResult(false, "Not logged in");
        client.currentMethod_ = nullptr;
        return sync;
    }

    const auto method = methods_.find(request.getMethod());
    if (method == methods_.end()) {
        if (sync) setCurrentResult(false, std::string("Unknown method: ") + request.getMethod());
        client.currentMethod_ = nullptr;
        return sync;
    }
    const int objectId = request.getObjectIdValue();
    void* object = nullptr;
    if (!findObject(objectId, object)) {
        if (sync) {
            char text[64];
            std::snprintf(text, sizeof text, "Invalid Object: %d", objectId);
            setCurrentResult(false, text);
        }
        client.currentMethod_ = nullptr;
        return sync;
    }

    client.currentMethod_ = &method->second;
    std::string output;
    const bool ok = method->second.callMethod(object, request.getArgs(), output);
    // Asynchronous requests and delayed methods leave the current result alone.
    if (!sync || method->second.isDelayed()) return false;
    setCurrentResult(ok, std::move(output));
    return true;
}

void rcServerContext::setCurrentResult(bool ok, std::string value) {
    currentOk_ = ok;
    currentValue_ = std::move(value);
}

void rcServerContext::writeCurrentReply(Client& client) {
    client.writeReply(currentOk_, currentValue_);
    std::string().swap(currentValue_);  // a large reply is not kept once it is queued
}

}  // namespace Vantrel
