#include "rcApi/rcAPI.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "network/CoNetwork.h"
#include "osal/CoAssert.h"
#include "osal/CoTime.h"
#include "rcApi/rcConnectionInfo.h"
#include "rcApi/rcMessage.h"
#include "tcp/CoIoTcpDescriptor.h"

namespace Vantrel {

namespace {

const char NOT_CONNECTED[] = "Connection not established.";
const char NO_BUFFER[] = "Cannot allocate result buffer.";
const char LOGIN[] = "_login";

std::string ioErrorText(CoIoDescriptor::IoError kind) {
    char text[256] = {};
    CoIoDescriptor::getIoError(kind, text, sizeof text);
    return text;
}

// A server that has no login answers that it does not know the method.
bool isMissingLogin(const std::string& reply) {
    const std::string unknown = "Unknown method: ";
    return reply == unknown + LOGIN || reply == unknown + "'" + LOGIN + "'.";
}

}  // namespace

rcAPI::rcAPI()
    : request_(new rcCommand()), reply_(new rcResult()), timedOut_(false), stopped_(false) {
    // Every client holds a reference on the network layer (counted; the first one starts it).
    // The socket layer is started once per process and stopped by the library's shutdown.
    CoNetwork::init();
    CoIoTcpDescriptor::init();
}

rcAPI::~rcAPI() {
    disconnect();
    CoNetwork::uninit();
}

bool rcAPI::connect(const char* host, int port, unsigned int timeout) {
    CO_ASSERT(host != nullptr);
    disconnect();
    timedOut_ = false;
    {
        CoMutexGuard guard(lock_);
        stopped_ = false;
        connecting_ = true;
    }

    buffer_.reset(new (std::nothrow) char[RECEIVE_BUFFER_SIZE]);
    if (!buffer_) return failConnect(NO_BUFFER);
    std::unique_ptr<CoIoTcpDescriptor> connection(
        new CoIoTcpDescriptor(host, port, 0, 0, CONNECT_TIMEOUT_SECONDS, &stopped_));
    if (!connection->isValid() || !connection->lastError().empty())
        return failConnect(connection->lastError().c_str());
    {
        CoMutexGuard guard(lock_);
        connecting_ = false;
        // A stop that came while connecting ends the attempt here: the login would clear it.
        if (stopped_) {
            buffer_.reset();
            return false;
        }
        connection_ = std::move(connection);
    }

    rcConnectionInfo record;
    record.fillInfo(connection_.get());
    std::string reply;
    if (perform(0, LOGIN, record.toAttrStream(), true, reply, timeout) || isMissingLogin(reply))
        return true;
    if (!stopped_) setLastError(reply.c_str());
    disconnect();
    return false;
}

bool rcAPI::failConnect(const char* text) {
    {
        CoMutexGuard guard(lock_);
        connecting_ = false;
        if (!stopped_) lastError_ = text;  // a stop's reason stays
    }
    buffer_.reset();
    return false;
}

bool rcAPI::call(int objectId, const char* method, const char* args, bool sync,
                 std::string& result, unsigned int timeout) {
    stopped_ = false;
    return perform(objectId, method, args, sync, result, timeout);
}

bool rcAPI::perform(int objectId, const char* method, const char* args, bool sync,
                    std::string& result, unsigned int timeout) {
    CO_ASSERT(method != nullptr);
    timedOut_ = false;
    if (!isConnected()) return fail(NOT_CONNECTED, result, false);

    const uint64_t deadline = CoTime::getTime() + uint64_t{timeout} * 1000u;
    request_->setMode(sync ? rcCommand::SYNC : rcCommand::ASYNC);
    request_->setObjectId(objectId);
    request_->setMethod(method);
    request_->setArgs(args);
    if (!sendLine(request_->toString(), method, deadline, result)) return false;
    if (!sync) {
        result.clear();
        return true;
    }
    return receiveReply(method, deadline, result);
}

bool rcAPI::sendLine(const std::string& line, const char* method, uint64_t deadline,
                     std::string& result) {
    // Waits for room in slices so that a stop() from another thread is seen within one slice.
    const unsigned int slice = CoIoDescriptor::IO_WAIT_RESOLUTION * 1000u;
    size_t sent = 0;
    while (sent < line.size()) {
        if (stopped_) return failStopped(method, result);
        const int n = connection_->nonBlockingWriteSelect(
            line.data() + sent, static_cast<unsigned int>(line.size() - sent),
            std::min(msLeft(deadline), slice));
        if (n < 0) return fail(connection_->lastError().c_str(), result, true);
        sent += static_cast<size_t>(n);
        if (sent < line.size() && msLeft(deadline) == 0)
            return fail(ioErrorText(CoIoDescriptor::IO_ERR_TIMED_OUT).c_str(), result, true);
    }
    return true;
}

bool rcAPI::receiveReply(const char* method, uint64_t deadline, std::string& result) {
    rcResult& reply = *reply_;
    reply.reset();
    const unsigned int slice = CoIoDescriptor::IO_WAIT_RESOLUTION * 1000u;
    unsigned int left = msLeft(deadline);
    while (!reply.isComplete()) {
        // Waits in slices so that a stop() from another thread is seen within one slice.
        const unsigned int wait = left == 0 ? 1 : std::min(left, slice);
        const int n = connection_->nonBlockingReadSelect(buffer_.get(), RECEIVE_BUFFER_SIZE, wait);
        if (n > 0) reply.parse(buffer_.get(), static_cast<size_t>(n));  // bytes past the line go

        if (connection_->ioStopped() || stopped_) return failStopped(method, result);
        if (reply.isTooLong()) {
            char text[128];
            std::snprintf(text, sizeof text, "Reply line longer than %zu bytes.",
                          CoIoTcpDescriptor::MAX_LINE_LENGTH);
            reply_.reset(new rcResult());  // gives the memory of the cut-off line back
            return fail(text, result, true);
        }
        left = msLeft(deadline);
        if (n < 0) return fail(connection_->lastError().c_str(), result, true);
        timedOut_ = !reply.isComplete() && left == 0;
        if (timedOut_)
            return fail(ioErrorText(CoIoDescriptor::IO_ERR_TIMED_OUT).c_str(), result, false);
    }
    result = reply.getValue();
    const bool error = reply.isError();
    // The parser keeps its buffer for the next reply, unless a long one made it large: a
    // listing of a million items would otherwise hold tens of megabytes for the connection's
    // whole life.
    if (reply.capacity() > KEPT_REPLY_BYTES) reply_.reset(new rcResult());
    if (error) return fail(result.c_str(), result, false);
    return true;
}

bool rcAPI::failStopped(const char* method, std::string& result) {
    std::string text = lastErrorCopy();
    if (text.empty()) {
        char stoppedText[512];
        std::snprintf(stoppedText, sizeof stoppedText, "%s command stopped.", method);
        text = stoppedText;
    }
    return fail(text.c_str(), result, true);
}

bool rcAPI::fail(const char* text, std::string& result, bool drop) {
    if (text != nullptr) setLastError(text);
    result = lastErrorCopy();
    if (drop) disconnect();
    return false;
}

void rcAPI::stop(const char* reason) {
    CoMutexGuard guard(lock_);
    // Only whether the connection is open is checked here: asking the peer (isActive) would
    // touch the descriptor's error text while the calling thread may be using it.
    const bool open = connection_ && connection_->isValid();
    if (!open && !connecting_) return;
    stopped_ = true;
    lastError_ = reason != nullptr ? reason : ioErrorText(CoIoDescriptor::IO_ERR_CONNECTION_ABORTED);
    if (open) connection_->stop();
}

bool rcAPI::isConnected() const { return connection_ && connection_->isActive(); }

void rcAPI::disconnect() {
    std::unique_ptr<CoIoTcpDescriptor> closing;
    {
        CoMutexGuard guard(lock_);
        closing = std::move(connection_);
    }
    closing.reset();  // closes the socket
    buffer_.reset();
}

void rcAPI::setLastError(const char* text) {
    CoMutexGuard guard(lock_);
    lastError_ = text != nullptr ? text : "";
}

std::string rcAPI::lastErrorCopy() const {
    CoMutexGuard guard(lock_);
    return lastError_;
}

unsigned int rcAPI::msLeft(uint64_t deadline) {
    const uint64_t now = CoTime::getTime();
    if (now >= deadline) return 0;
    const uint64_t left = (deadline - now) / 1000u;
    return left > UINT32_MAX ? UINT32_MAX : static_cast<unsigned int>(left);
}

}  // namespace Vantrel
