#include "vantrel/client/api/VantrelServerFrames.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <tuple>

#include "vantrel/CoException.h"
#include "vantrel/client/connection/VantrelBaseClientAPI.h"
#include "vantrel/client/api/VantrelServerImp.h"

namespace {
constexpr unsigned int PING_TIMEOUT_MS = 10000;
}

VantrelServerFrames::VantrelServerFrames(VantrelServerImp& server)
    : server_(server), connection_(new VantrelFrameConnection(this)) {}

VantrelServerFrames::~VantrelServerFrames() = default;

const VantrelDaemonInfo* VantrelServerFrames::getDaemonInfo() {
    if (addressesFailed_) {
        addressesFailed_ = false;
        VantrelClientConnection* link = server_.connection();
        VantrelBaseClientAPI* base = server_.baseClient();
        // A failed ping leaves the reason to the record fetch below.
        if (link != nullptr && base != nullptr && !link->isConnected()) base->ping(PING_TIMEOUT_MS);
    }
    return server_.getDaemonInfo();
}

void VantrelServerFrames::invalidateDaemonInfo() {
    addressesFailed_ = true;
    server_.invalidateDaemonInfo();
}

const char* VantrelServerFrames::lastError() const { return server_.lastError(); }

VantrelFrameClientAPI& VantrelServerFrames::frameClient() {
    if (client_) return *client_;
    const VantrelDaemonInfo* info = server_.getDaemonInfo();
    if (info == nullptr)
        Vantrel::CoException(__LINE__, __FILE__).fire(server_.lastError(), nullptr);
    client_.reset(new VantrelFrameClientAPI(connection_.get(), *info));
    stoppableClient_ = client_.get();
    return *client_;
}

template <class Operation>
bool VantrelServerFrames::run(Operation operation) {
    try {
        operation(frameClient());
        return true;
    } catch (const std::exception& e) {
        server_.setLastError(e.what());
        return false;
    }
}

bool VantrelServerFrames::checkGiven(const char* first, const char* second) {
    if (first != nullptr && second != nullptr) return true;
    server_.setLastError("Invalid argument: null pointer");
    return false;
}

bool VantrelServerFrames::serverIsAtLeast(const Version& version, bool& known) {
    const VantrelDaemonInfo* info = server_.getDaemonInfo();
    known = info != nullptr;
    if (!known) return false;
    return std::make_tuple(info->getVersionMajor(), info->getVersionMinor(),
                           info->getVersionMaint(), info->getVersionBuild()) >=
           std::make_tuple(version.major, version.minor, version.maint, version.build);
}

bool VantrelServerFrames::needsStreams() {
    bool known = false;
    if (serverIsAtLeast({2007, 1, 0, 0}, known)) return true;
    if (known) server_.setLastError(std::strerror(EACCES));
    return false;
}

bool VantrelServerFrames::readFrame(const char* frameId, const void* params,
                                    unsigned int paramsLength, void* buffer, unsigned int size,
                                    const char* readAheadId1, const char* readAheadId2) {
    bool known = false;
    const bool noAckAllowed = serverIsAtLeast({2009, 1, 0, 0}, known);
    if (!known) return false;
    if (params == nullptr || !serverIsAtLeast({2010, 0, 0, 0}, known)) paramsLength = 0;
    return run([&](VantrelFrameClientAPI& frames) {
        frames.readFrame(frameId, buffer, size, params, paramsLength, readAheadId1, readAheadId2,
                         noAckAllowed);
    });
}

bool VantrelServerFrames::writeFrame(const char* frameId, const void* data, unsigned int size) {
    const char* bytes = size > 0 ? static_cast<const char*>(data) : "";
    if (!checkGiven(frameId, bytes) || server_.getDaemonInfo() == nullptr) return false;
    return run([&](VantrelFrameClientAPI& frames) { frames.writeFrame(frameId, data, size); });
}

bool VantrelServerFrames::readStream(const char* id, void* buffer, unsigned int size, int first,
                                     int unitSize, int& count) {
    if (buffer == nullptr) size = 0;  // whatever comes back is then too much
    return checkGiven(id, "") && needsStreams() && run([&](VantrelFrameClientAPI& frames) {
               frames.readStream(id, buffer, size, first, unitSize, count);
           });
}

bool VantrelServerFrames::pushStream(const char* remoteName, const char* localPath) {
    return checkGiven(remoteName, localPath) && needsStreams() &&
           run([&](VantrelFrameClientAPI& frames) { frames.pushFile(remoteName, localPath); });
}

bool VantrelServerFrames::pullStream(const char* remoteName, const char* localPath) {
    return checkGiven(remoteName, localPath) && needsStreams() &&
           run([&](VantrelFrameClientAPI& frames) { frames.pullFile(remoteName, localPath); });
}

bool VantrelServerFrames::invalidateCache() {
    bool known = false;
    if (!serverIsAtLeast({2012, 0, 0, 5120}, known)) return known;
    return run([](VantrelFrameClientAPI& frames) { frames.invalidateCache(); });
}

void VantrelServerFrames::stop() {
    connection_->stop();
    VantrelFrameClientAPI* client = stoppableClient_.load();
    if (client != nullptr) client->redirections().stopAll();
}

void VantrelServerFrames::disconnect() {
    connection_->stop();
    connection_->disconnect();
}
