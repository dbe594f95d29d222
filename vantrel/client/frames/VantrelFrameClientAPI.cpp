#include "vantrel/client/frames/VantrelFrameClientAPI.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "vantrel/CoException.h"
#include "vantrel/CoMsg.h"
#include "vantrel/client/frames/VantrelFrameConnection.h"

namespace Wire = VantrelFrameWire;

namespace {

bool traceOn() { return VantrelFrameClientAPI::traceSetting().value(); }

void traceFinished(Wire::Command command) {
    if (traceOn()) CO_MSG_DEBUG("Finished %s()", Wire::commandName(command));
}

[[noreturn]] void fire(const std::string& text) {
    Vantrel::CoException(__LINE__, __FILE__).fire(text.c_str(), nullptr);
}

// The reply readers of the wire module, reading from a data connection.
class ConnectionSource : public Wire::ByteSource {
public:
    explicit ConnectionSource(VantrelFrameConnection& connection) : connection_(connection) {}
    void read(void* buffer, size_t size) override { connection_.receive(buffer, size); }

private:
    VantrelFrameConnection& connection_;
};

bool given(const char* text) { return text != nullptr && *text != '\0'; }

// Closes a stdio file when the scope ends.
struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

VantrelFrameInterface::~VantrelFrameInterface() = default;

Vantrel::CoEnvBoolSetting& VantrelFrameClientAPI::traceSetting() {
    static Vantrel::CoEnvBoolSetting trace("ZR_VANTREL_TRACE", false);
    return trace;
}

VantrelFrameClientAPI::VantrelFrameClientAPI(VantrelFrameConnection* primary,
                                             const VantrelDaemonInfo& info)
    : primary_(primary), redirectionsEnabled_(redirectionsEnabledFor(info)) {}

VantrelFrameClientAPI::~VantrelFrameClientAPI() = default;

bool VantrelFrameClientAPI::redirectionsEnabledFor(const VantrelDaemonInfo& info) {
    const int major = info.getVersionMajor();
    const int minor = info.getVersionMinor();
    return major > 2010 || (major == 2010 && minor > 1) ||
           (major == 2010 && minor == 1 && info.getVersionMaint() == 1);
}

// ------------------------------------------------------------------------------ requests

VantrelFrameConnection& VantrelFrameClientAPI::connectionFor(const char* frameId) {
    if (!redirectionsEnabled_) return *primary_;
    VantrelFrameConnection* redirected = redirections_.connectionFor(frameId);
    return redirected != nullptr ? *redirected : *primary_;
}

void VantrelFrameClientAPI::sendRequest(VantrelFrameConnection& connection, Wire::Command command,
                                        const char* argument, long number) {
    const char* name = Wire::commandName(command);
    if (traceOn()) CO_MSG_DEBUG("Calling %s(%s, %ld)", name, argument, number);
    connection.beginRequest();
    // Frames cost no allocation: the header of a usual frame id fits on the stack.
    char small[256];
    const size_t length = Wire::formatRequestHeader(small, sizeof small, name, argument, number);
    if (length > 0) return connection.send(small, length);
    const std::string header = Wire::requestHeader(name, argument, number);
    connection.send(header.data(), header.size());
}

void VantrelFrameClientAPI::sendCommand(VantrelFrameConnection& connection, Wire::Command command) {
    const char* name = Wire::commandName(command);
    if (traceOn()) CO_MSG_DEBUG("Calling %s()", name);
    connection.beginRequest();
    const std::string bare = Wire::bareCommand(name);
    connection.send(bare.data(), bare.size());
}

void VantrelFrameClientAPI::sendNumber(VantrelFrameConnection& connection, long number) {
    const std::string field = Wire::numberField(number);
    connection.send(field.data(), field.size());
}

void VantrelFrameClientAPI::sendParameters(VantrelFrameConnection& connection, const void* params,
                                           unsigned int paramsLength) {
    sendNumber(connection, static_cast<long>(paramsLength));
    if (paramsLength > 0) connection.send(params, paramsLength);
}

void VantrelFrameClientAPI::readStatus(VantrelFrameConnection& connection) {
    ConnectionSource source(connection);
    bool cut = false;
    const std::string status = Wire::readStatus(source, cut);
    // The rest of a cut status is still on the stream: it must not pass for the next reply.
    if (cut) connection.disconnect();
    if (!status.empty()) fire(status);
}

long long VantrelFrameClientAPI::readNumber(VantrelFrameConnection& connection) {
    ConnectionSource source(connection);
    try {
        return Wire::readNumber(source);
    } catch (const Vantrel::CoException&) {
        connection.disconnect();  // the rest of the number is still on the stream
        throw;
    }
}

char* VantrelFrameClientAPI::transferBuffer() {
    if (!transferBuffer_) transferBuffer_.reset(new char[Wire::TRANSFER_CHUNK]);
    return transferBuffer_.get();
}

// -------------------------------------------------------------------------------- frames

void VantrelFrameClientAPI::readFrame(const char* frameId, void* buffer, unsigned int bufferSize,
                                      const void* params, unsigned int paramsLength,
                                      const char* readAheadId1, const char* readAheadId2,
                                      bool noAckAllowed) {
    const bool noAck = noAckAllowed && bufferSize >= Wire::MIN_NO_ACK_BUFFER;
    primary_->forgetStop();  // stops of this call are seen on the primary too (readAheadBefore)
    const bool frameWanted = given(frameId) && buffer != nullptr && bufferSize > 0;
    for (const char* ahead : {readAheadId1, readAheadId2}) {
        if (given(ahead))
            readAheadBefore(frameWanted ? frameId : nullptr, ahead, params, paramsLength,
                            bufferSize);
    }
    if (!frameWanted) return;

    VantrelFrameConnection& connection = connectionFor(frameId);
    try {
        const bool withParams = paramsLength > 0;
        const Wire::Command command =
            noAck ? (withParams ? Wire::READ_FRAME_PARAMS_NO_ACK : Wire::READ_FRAME_NO_ACK)
                  : (withParams ? Wire::READ_FRAME_PARAMS : Wire::READ_FRAME);
        sendRequest(connection, command, frameId, static_cast<long>(bufferSize));
        if (withParams) sendParameters(connection, params, paramsLength);
        if (!noAck) readStatus(connection);
        connection.receive(buffer, bufferSize);
        std::string error;
        if (noAck && Wire::isErrorReply(buffer, bufferSize, error)) fire(error);
        traceFinished(command);
    } catch (const Vantrel::CoException&) {
        forgetIfUnreachable(connection);
        throw;
    }
}

void VantrelFrameClientAPI::readAheadBefore(const char* frameId, const char* aheadId,
                                            const void* params, unsigned int paramsLength,
                                            unsigned int bufferSize) {
    const VantrelFrameConnection* target =
        redirectionsEnabled_ ? redirections_.connectionFor(aheadId) : nullptr;
    // Decided now: a failure below may close `target`.
    const bool tolerated = target != nullptr && frameId != nullptr &&
                           redirections_.connectionFor(frameId) != target;
    try {
        bool redirected = false;
        VantrelDaemonInfo record;
        readAhead(aheadId, params, paramsLength, bufferSize, redirected, record);
    } catch (const Vantrel::CoException& error) {
        // A read-ahead sent to another server only prepares that server: it fails the frame's
        // read when there is no frame to read, or when the same server is to send the frame.
        // A target that could not be reached was forgotten: its frames go to the primary.
        // A stop reaches every connection of the handle at once: it ends the whole call.
        if (!tolerated || primary_->stopRequested()) throw;
        CO_MSG_DEBUG("Read-ahead of '%s' failed: %s", aheadId, error.what());
    }
}

void VantrelFrameClientAPI::forgetIfUnreachable(const VantrelFrameConnection& connection) {
    if (&connection != primary_ && connection.unreachable()) redirections_.forget(&connection);
}

void VantrelFrameClientAPI::readAhead(const char* frameId, const void* params,
                                      unsigned int paramsLength, unsigned int bufferSize,
                                      bool& redirected, VantrelDaemonInfo& record) {
    redirected = false;
    VantrelFrameConnection& connection = connectionFor(frameId);
    try {
        readAheadOn(connection, frameId, params, paramsLength, bufferSize, redirected, record);
    } catch (const Vantrel::CoException&) {
        forgetIfUnreachable(connection);
        throw;
    }
}

void VantrelFrameClientAPI::readAheadOn(VantrelFrameConnection& connection, const char* frameId,
                                        const void* params, unsigned int paramsLength,
                                        unsigned int bufferSize, bool& redirected,
                                        VantrelDaemonInfo& record) {
    const Wire::Command command = redirectionsEnabled_ ? Wire::READ_AHEAD_REDIRECT
                                  : paramsLength > 0   ? Wire::READ_AHEAD_PARAMS
                                                       : Wire::READ_AHEAD;
    sendRequest(connection, command, frameId, static_cast<long>(bufferSize));
    if (command != Wire::READ_AHEAD) sendParameters(connection, params, paramsLength);
    if (command == Wire::READ_AHEAD_REDIRECT) {
        const long long length = readNumber(connection);
        ConnectionSource source(connection);
        std::string bytes;
        try {
            bytes = Wire::readRedirectRecord(source, length);
        } catch (const Vantrel::CoException&) {
            connection.disconnect();
            throw;
        }
        redirected = length > 0;
        if (redirected) {
            record = VantrelDaemonInfo(Vantrel::rcAttrStream(bytes.c_str()));
            // May close `connection` when it was a redirect target's: not used after this.
            redirections_.store(frameId, record);
        }
    }
    traceFinished(command);
}

void VantrelFrameClientAPI::writeFrame(const char* frameId, const void* data, unsigned int size) {
    sendRequest(*primary_, Wire::WRITE_FRAME, frameId, static_cast<long>(size));
    if (size > 0) primary_->send(data, size);
    readStatus(*primary_);
    traceFinished(Wire::WRITE_FRAME);
}

// ------------------------------------------------------------------------ streams, files

void VantrelFrameClientAPI::readStream(const char* id, void* buffer, unsigned int bufferSize,
                                       int first, int unitSize, int& count) {
    sendRequest(*primary_, Wire::READ_STREAM, id, static_cast<long>(bufferSize));
    sendNumber(*primary_, first);
    sendNumber(*primary_, unitSize);
    sendNumber(*primary_, count);
    readStatus(*primary_);
    const long long units = readNumber(*primary_);
    if (units < 0 || units > 0x7fffffff) {
        primary_->disconnect();
        fire("Invalid stream unit count: " + std::to_string(units));
    }
    count = static_cast<int>(units);
    // In 64 bits: the product of two ints cannot overflow there.
    const long long bytes = units * static_cast<long long>(unitSize < 0 ? 0 : unitSize);
    if (bytes > static_cast<long long>(bufferSize)) {
        primary_->disconnect();  // the units are on their way: the stream is out of step
        fire("Buffer too small.");
    }
    if (bytes > 0) primary_->receive(buffer, static_cast<size_t>(bytes));
    traceFinished(Wire::READ_STREAM);
}

void VantrelFrameClientAPI::sendFileBytes(FILE* file, long long size) {
    char* chunk = transferBuffer();
    while (size > 0) {
        const size_t want =
            size < Wire::TRANSFER_CHUNK ? static_cast<size_t>(size) : Wire::TRANSFER_CHUNK;
        const size_t got = std::fread(chunk, 1, want, file);
        if (got != want) {
            // The server waits for the announced size: this stream cannot be used any more.
            primary_->disconnect();
            fire("The local file ended before its announced size");
        }
        primary_->send(chunk, got);
        size -= static_cast<long long>(got);
    }
}

void VantrelFrameClientAPI::pushFile(const char* remoteName, const char* localPath) {
    File file(std::fopen(localPath, "rb"));
    struct stat facts;
    if (!file || ::fstat(fileno(file.get()), &facts) != 0)
        fire(std::string("Cannot open ") + localPath + ": " + std::strerror(errno));
    if (S_ISDIR(facts.st_mode))
        fire(std::string("Cannot open ") + localPath + ": " + std::strerror(EISDIR));
    const long long size = static_cast<long long>(facts.st_size);
    sendRequest(*primary_, Wire::PUSH_FILE, remoteName, static_cast<long>(size));
    readStatus(*primary_);
    sendFileBytes(file.get(), size);
    readStatus(*primary_);
    traceFinished(Wire::PUSH_FILE);
}

void VantrelFrameClientAPI::pullFile(const char* remoteName, const char* localPath) {
    sendRequest(*primary_, Wire::PULL_FILE, remoteName, static_cast<long>(Wire::TRANSFER_CHUNK));
    long long left = readNumber(*primary_);
    File file(std::fopen(localPath, "wb"));
    if (!file || left < 0) {
        primary_->disconnect();  // the file's bytes are on their way
        fire(left < 0 ? "Invalid file size: " + std::to_string(left)
                      : std::string("Cannot open ") + localPath + ": " + std::strerror(errno));
    }
    char* chunk = transferBuffer();
    while (left > 0) {
        const size_t piece =
            left < Wire::TRANSFER_CHUNK ? static_cast<size_t>(left) : Wire::TRANSFER_CHUNK;
        primary_->receive(chunk, piece);
        if (std::fwrite(chunk, 1, piece, file.get()) != piece) {
            primary_->disconnect();
            fire(std::string("Cannot write ") + localPath + ": " + std::strerror(errno));
        }
        left -= static_cast<long long>(piece);
    }
    readStatus(*primary_);
    traceFinished(Wire::PULL_FILE);
}

void VantrelFrameClientAPI::invalidateCache() {
    sendCommand(*primary_, Wire::INVALIDATE_CACHE);
    readStatus(*primary_);
    traceFinished(Wire::INVALIDATE_CACHE);
}

void VantrelFrameClientAPI::noOp() {
    sendCommand(*primary_, Wire::NO_OP);
    traceFinished(Wire::NO_OP);
}
