#include "vantrel/server/FrameServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <chrono>
#include <cerrno>

#include "vantrel/CoException.h"
#include "vantrel/CoMsg.h"
#include "osal/CoConfigFile.h"
#include "tcp/CoIoTcpServerDescriptor.h"
#include "tcp/CoNameResolver.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/server/FrameSocket.h"
#include "vantrel/server/ServerError.h"

namespace vantreld {

namespace Wire = VantrelFrameWire;

namespace {

constexpr int ACCEPT_PASS_MS = 200;
// Loads in flight at once: a slow disk is read ahead several frames deep.
constexpr int PREFETCH_WORKERS = 4;
const char REDIRECT_SECTION[] = "FrameRedirect ";

bool atLeast(const ProtocolVersion& version, int major, int minor, int maint, int build) {
    ProtocolVersion threshold;
    threshold.major = major;
    threshold.minor = minor;
    threshold.maint = maint;
    threshold.build = build;
    return !(version < threshold);
}

// The peer's numeric address, as the node port names it; "" when it has none.
std::string numericAddress(const sockaddr_storage& peer, socklen_t size) {
    std::string address, error;
    const Vantrel::CoSocketAddress socketAddress(reinterpret_cast<const sockaddr*>(&peer),
                                                 static_cast<int>(size));
    return socketAddress.numericHost(address, error) ? address : std::string();
}

// What a request works on, for error texts: "frame 'ID'", "stream 'ID'", "file 'NAME'".
std::string subjectOf(const Wire::Request& request) {
    const char* kind = request.command == Wire::READ_STREAM ? "stream"
                       : request.command == Wire::PUSH_FILE || request.command == Wire::PULL_FILE
                           ? "file"
                           : "frame";
    return std::string(kind) + " '" + request.argument + "'";
}

// The text a client gets for `error`. A file error's text names a path of the server: the
// client gets what failed on the request's subject and the system's reason, the log the path.
std::string replyText(const ServerError& error, const Wire::Request& request) {
    const FileError* fileError = dynamic_cast<const FileError*>(&error);
    if (fileError == nullptr) return error.what();
    CO_MSG_ERROR("Frame port: %s", fileError->what());
    const std::string text = fileError->what();
    return text.substr(0, text.find(" '")) + " " + subjectOf(request) + ": " + fileError->reason();
}

void sendStatus(FrameSocket& socket, const std::string& text) {
    socket.write(text.c_str(), text.size() + 1);
}

}  // namespace

// --------------------------------------------------------------------------- configuration

std::vector<FrameServer::Redirect> FrameServer::readRedirects(const std::string& path) {
    std::vector<Redirect> redirects;
    if (path.empty()) return redirects;
    Vantrel::CoConfigFileReader config;
    if (!config.readFile(path)) throw ServerError("Cannot read configuration file '" + path + "'");
    for (unsigned int i = 0;; ++i) {
        const std::string section = REDIRECT_SECTION + std::to_string(i);
        if (!config.hasSection(section)) break;
        Redirect redirect;
        unsigned int port = 0;
        config.get(section, "Frames", redirect.framePrefix, "");
        config.get(section, "Address", redirect.address, "127.0.0.1");
        config.get(section, "NodePort", port, 0);
        redirect.nodePort = static_cast<int>(port);
        config.get(section, "FramePort", port, 0);
        redirect.framePort = static_cast<int>(port);
        if (!redirect.framePrefix.empty()) redirects.push_back(redirect);
    }
    return redirects;
}

bool FrameServer::knows(const ProtocolVersion& version, Wire::Command command) {
    switch (command) {
        case Wire::PULL_FILE:
        case Wire::PUSH_FILE:
        case Wire::READ_STREAM:
            return atLeast(version, 2007, 1, 0, 0);
        case Wire::READ_FRAME_NO_ACK:
            return atLeast(version, 2009, 1, 0, 0);
        case Wire::READ_FRAME_PARAMS:
        case Wire::READ_AHEAD_PARAMS:
        case Wire::READ_FRAME_PARAMS_NO_ACK:
            return atLeast(version, 2010, 0, 0, 0);
        case Wire::READ_AHEAD_REDIRECT:
            return atLeast(version, 2010, 2, 0, 0) ||
                   (version.major == 2010 && version.minor == 1 && version.maint == 1);
        case Wire::INVALIDATE_CACHE:
            return atLeast(version, 2012, 0, 0, 5120);
        case Wire::UNKNOWN_COMMAND:
            return false;
        default:
            return true;
    }
}

// ------------------------------------------------------------------------------ lifecycle

FrameServer::FrameServer(const Options& options, RequestLog* log)
    : options_(options),
      log_(log),
      storage_(options.directory, options.sync, options.readDelayMs, options.translatePath),
      prefetcher_(storage_, options.cacheBytes, PREFETCH_WORKERS),
      files_(options.directory, options.sync) {
    if (options.port < 0) throw ServerError("Invalid frame port " + std::to_string(options.port));
    listener_.reset(new Vantrel::CoIoTcpServerDescriptor(options.port == 0 ? -1 : options.port, 0,
                                                         0, options.listenAddress));
    if (!listener_->isValid())
        throw ServerError("Cannot listen on frame port " + std::to_string(options.port) + ": " +
                          listener_->lastError());
    acceptor_ = std::thread([this] { acceptLoop(); });
}

FrameServer::~FrameServer() {
    stopping_ = true;
    acceptor_.join();
    std::unique_lock<std::mutex> hold(sessionsLock_);
    for (FrameSocket* session : sessions_) session->shutdown();
    sessionEnded_.wait(hold, [this] { return sessions_.empty(); });
}

int FrameServer::port() const { return listener_->getPort(); }

void FrameServer::acceptLoop() {
    while (!stopping_) {
        pollfd ready{listener_->id(), POLLIN, 0};
        if (::poll(&ready, 1, ACCEPT_PASS_MS) != 1) continue;
        sockaddr_storage peer = {};
        socklen_t peerSize = sizeof peer;
        const int fd = ::accept4(listener_->id(), reinterpret_cast<sockaddr*>(&peer), &peerSize,
                                 SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors or memory: the pending connection stays readable, so wait
            // rather than spin until a descriptor is free again.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(std::chrono::milliseconds(ACCEPT_PASS_MS));
            continue;
        }
        const std::string address = numericAddress(peer, peerSize);
        if (!admits(address)) {
            ::close(fd);
            continue;
        }
        std::lock_guard<std::mutex> hold(sessionsLock_);
        if (sessions_.size() >= static_cast<size_t>(MAX_CONNECTIONS) || !hasRoomFor(address)) {
            ::close(fd);
            continue;
        }
        FrameSocket* socket = new FrameSocket(fd, address);
        socket->setIdleLimit(options_.idleLimitMs);
        sessions_.insert(socket);
        std::thread([this, socket] {
            std::unique_ptr<FrameSocket> owned(socket);
            serve(*socket);
            std::lock_guard<std::mutex> end(sessionsLock_);
            sessions_.erase(socket);
            owned.reset();
            sessionEnded_.notify_all();  // under the lock: the server may go right after
        }).detach();
    }
}

bool FrameServer::admits(const std::string& peer) const {
    if (!options_.allows) return true;
    if (!peer.empty() && options_.allows(peer)) return true;
    CO_MSG_NOTICE("Frame port: connection from %s refused (not in --allow)",
                  peer.empty() ? "an unknown address" : peer.c_str());
    return false;
}

bool FrameServer::hasRoomFor(const std::string& peer) const {
    int held = 0;
    for (const FrameSocket* session : sessions_) held += session->peer() == peer ? 1 : 0;
    if (held < MAX_CONNECTIONS_PER_PEER) return true;
    CO_MSG_NOTICE("Frame port: connection from %s refused (it holds %d already)", peer.c_str(),
                  held);
    return false;
}

bool FrameServer::mayChange(const FrameSocket& socket, const Wire::Request& request) const {
    if (!options_.mayChange || options_.mayChange(socket.peer())) return true;
    CO_MSG_NOTICE("Frame port: %s of '%s' from %s refused (not logged in)", request.name.c_str(),
                  request.argument.c_str(), socket.peer().c_str());
    return false;
}

// ----------------------------------------------------------------------------- requests

void FrameServer::serve(FrameSocket& socket) {
    try {
        for (;;) {
            Wire::Request request;
            if (!knows(options_.version, Wire::readCommand(socket, request))) {
                CO_MSG_DEBUG("Frame port: closing on command '%s'", request.name.c_str());
                return;
            }
            Wire::readRequestFields(socket, request);
            logRequest(request);
            if (!handle(socket, request)) return;
        }
    } catch (const PeerGone&) {
    } catch (const Vantrel::CoException& e) {
        CO_MSG_DEBUG("Frame port: closing on a malformed request: %s", e.what());
    } catch (const std::exception& e) {
        CO_MSG_WARNING("Frame port: closing a data connection: %s", e.what());
    }
}

void FrameServer::logRequest(const Wire::Request& request) {
    if (log_ == nullptr) return;
    if (Wire::isBareCommand(request.command)) {
        log_->record(request.name, "");
    } else {
        log_->record(request.name, request.argument + " " + std::to_string(request.number));
    }
}

bool FrameServer::handle(FrameSocket& socket, const Wire::Request& request) {
    if (request.number > MAX_TRANSFER) return false;
    switch (request.command) {
        case Wire::READ_FRAME:
        case Wire::READ_FRAME_PARAMS:
        case Wire::READ_FRAME_NO_ACK:
        case Wire::READ_FRAME_PARAMS_NO_ACK:
            readFrame(socket, request);
            return true;
        case Wire::READ_AHEAD:
        case Wire::READ_AHEAD_PARAMS:
            prefetcher_.request(request.argument);
            return true;
        case Wire::READ_AHEAD_REDIRECT:
            readAheadRedirect(socket, request);
            return true;
        case Wire::WRITE_FRAME:
            writeFrame(socket, request);
            return true;
        case Wire::READ_STREAM:
            readStream(socket, request);
            return true;
        case Wire::PUSH_FILE:
            pushFile(socket, request);
            return true;
        case Wire::PULL_FILE:
            pullFile(socket, request);
            return true;
        case Wire::INVALIDATE_CACHE:
            prefetcher_.clear();
            sendStatus(socket, "");
            return true;
        case Wire::NO_OP:
            return true;
        default:
            return false;
    }
}

void FrameServer::readFrame(FrameSocket& socket, const Wire::Request& request) {
    const bool acknowledged =
        request.command == Wire::READ_FRAME || request.command == Wire::READ_FRAME_PARAMS;
    const size_t size = static_cast<size_t>(request.number);
    if (std::shared_ptr<const std::string> cached = prefetcher_.find(request.argument)) {
        if (acknowledged) sendStatus(socket, "");
        const size_t sent = std::min(size, cached->size());
        socket.write(cached->data(), sent);
        socket.writeZeros(size - sent);
        return;
    }
    try {
        const FrameStorage::OpenFrame frame = storage_.openFrame(request.argument);
        if (acknowledged) sendStatus(socket, "");
        if (frame.fd() < 0) {
            socket.writeZeros(size);
        } else {
            socket.sendFile(frame.fd(), std::min(size, frame.size()));
            socket.writeZeros(size - std::min(size, frame.size()));
        }
    } catch (const ServerError& error) {
        const std::string text = replyText(error, request);
        if (acknowledged) return sendStatus(socket, text);
        std::vector<char> head(std::min<size_t>(size, Wire::MIN_NO_ACK_BUFFER));
        Wire::makeErrorReply(text, head.data(), head.size());
        socket.write(head.data(), head.size());
        socket.writeZeros(size - head.size());
    }
}

const FrameServer::Redirect* FrameServer::redirectFor(const std::string& frameId) const {
    for (const Redirect& redirect : options_.redirects)
        if (frameId.compare(0, redirect.framePrefix.size(), redirect.framePrefix) == 0)
            return &redirect;
    return nullptr;
}

std::string FrameServer::redirectRecord(const Redirect& redirect) const {
    VantrelDaemonInfo info;
    info.setIPAddr(0, redirect.address.c_str());
    info.setFrameIPAddr(0, redirect.address.c_str());
    info.setHostName(redirect.address.c_str());
    info.setNodePort(redirect.nodePort);
    info.setFramePort(redirect.framePort);
    const ProtocolVersion& v = options_.version;
    info.setVersion(v.major, v.minor, v.maint, v.build);
    return info.toAttrStream().getStreamStr();
}

void FrameServer::readAheadRedirect(FrameSocket& socket, const Wire::Request& request) {
    if (const Redirect* redirect = redirectFor(request.argument)) {
        const std::string record = redirectRecord(*redirect);
        socket.write(Wire::numberField(static_cast<long>(record.size())));
        socket.write(record);
        return;
    }
    socket.write(Wire::numberField(0));
    prefetcher_.request(request.argument);
}

void FrameServer::receiveInto(FrameSocket& socket, long long size,
                              FrameStorage::IncomingFile& file) {
    std::vector<char> chunk(static_cast<size_t>(std::min<long long>(size, Wire::TRANSFER_CHUNK)));
    for (long long left = size; left > 0;) {
        const size_t piece = static_cast<size_t>(std::min<long long>(left, chunk.size()));
        socket.read(chunk.data(), piece);
        file.write(chunk.data(), piece);
        left -= static_cast<long long>(piece);
    }
}

void FrameServer::writeFrame(FrameSocket& socket, const Wire::Request& request) {
    std::unique_ptr<FrameStorage::IncomingFile> file;
    try {
        if (!mayChange(socket, request)) throw ServerError(NOT_LOGGED_IN);
        file = storage_.incomingFrame(request.argument);
    } catch (const ServerError& error) {
        socket.discard(static_cast<size_t>(request.number));  // keeps the stream in step
        return sendStatus(socket, replyText(error, request));
    }
    receiveInto(socket, request.number, *file);
    try {
        file->commit();
    } catch (const ServerError& error) {
        return sendStatus(socket, replyText(error, request));
    }
    prefetcher_.forget(request.argument);
    announceFrameWritten(request.argument);
    sendStatus(socket, "");
}

void FrameServer::announceFrameWritten(const std::string& frameId) {
    if (!options_.observer) return;
    try {
        const FrameStorage::FrameNode node = storage_.nodeOfFrame(frameId);
        options_.observer(NodeChange{node.nodeId, node.parentId, "FrameWritten",
                                     {{"Frame", frameId}}, {}});
    } catch (const ServerError& error) {
        // The node went away since the write: nobody is left to tell.
        CO_MSG_DEBUG("Frame port: no event for frame '%s': %s", frameId.c_str(), error.what());
    }
}

void FrameServer::readStream(FrameSocket& socket, const Wire::Request& request) {
    long long count = request.count;
    bool begun = false;
    try {
        storage_.readStream(
            request.argument, request.first, request.unitSize, count,
            [&](long long units) {
                begun = true;
                sendStatus(socket, "");
                socket.write(Wire::numberField(static_cast<long>(units)));
            },
            [&](const FrameStorage::OpenFrame& file, uint64_t offset, uint64_t length) {
                if (file.fd() < 0) return socket.writeZeros(static_cast<size_t>(length));
                socket.sendFile(file.fd(), static_cast<size_t>(length), offset);
            });
    } catch (const ServerError& error) {
        if (begun) throw;
        sendStatus(socket, replyText(error, request));
    }
}

void FrameServer::pushFile(FrameSocket& socket, const Wire::Request& request) {
    std::unique_ptr<FrameStorage::IncomingFile> file;
    try {
        if (!mayChange(socket, request)) throw ServerError(NOT_LOGGED_IN);
        file = files_.incoming(request.argument);
    } catch (const ServerError& error) {
        return sendStatus(socket, replyText(error, request));
    }
    sendStatus(socket, "");
    receiveInto(socket, request.number, *file);  // a sender gone leaves no file behind
    try {
        file->commit();
        sendStatus(socket, "");
    } catch (const ServerError& error) {
        sendStatus(socket, replyText(error, request));
    }
}

void FrameServer::pullFile(FrameSocket& socket, const Wire::Request& request) {
    std::string failure;
    try {
        const FrameStorage::OpenFrame file = files_.open(request.argument);
        socket.write(Wire::numberField(static_cast<long>(file.size())));
        socket.sendFile(file.fd(), file.size());
        return sendStatus(socket, "");
    } catch (const ServerError& error) {
        failure = replyText(error, request);
    }
    socket.write(Wire::numberField(0));
    sendStatus(socket, failure);
}

}  // namespace vantreld
