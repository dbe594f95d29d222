#include "vantrel/client/frames/VantrelFrameConnection.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "vantrel/CoException.h"
#include "vantrel/client/connection/VantrelCallTimeout.h"
#include "vantrel/protocol/FrameWire.h"

namespace {

constexpr int CONNECT_TIMEOUT_SECONDS = 10;
// blockingRead and blockingWrite take an unsigned int: larger transfers go in slices.
constexpr size_t MAX_SLICE = 1u << 30;

int tcpBufferSize() {
    const char* value = std::getenv("KQ_VANTREL_TCP_BUF_SIZE");
    const int size = value != nullptr ? std::atoi(value) : 0;
    return size > 0 ? size : 0;
}

// The connect time limit in seconds: CONNECT_TIMEOUT_SECONDS, or the call ceiling (rounded up)
// when that is shorter.
int connectTimeoutSeconds() {
    const uint32_t ceilingSeconds = VantrelCallTimeout::ceiling() / 1000 + 1;
    return static_cast<int>(std::min<uint32_t>(CONNECT_TIMEOUT_SECONDS, ceilingSeconds));
}

[[noreturn]] void fire(const std::string& text) {
    Vantrel::CoException(__LINE__, __FILE__).fire(text.c_str(), nullptr);
}

}  // namespace

VantrelFrameConnection::VantrelFrameConnection(VantrelDaemonInfoMgr* provider)
    : provider_(provider), sendBufferSize_(tcpBufferSize()), receiveBufferSize_(tcpBufferSize()) {}

VantrelFrameConnection::~VantrelFrameConnection() = default;

bool VantrelFrameConnection::isConnected() const {
    std::lock_guard<std::mutex> lock(descriptorLock_);
    return descriptor_ != nullptr;
}

void VantrelFrameConnection::replaceDescriptor(Vantrel::CoIoTcpDescriptor* descriptor) {
    std::unique_ptr<Vantrel::CoIoTcpDescriptor> old;
    {
        std::lock_guard<std::mutex> lock(descriptorLock_);
        old = std::move(descriptor_);
        descriptor_.reset(descriptor);
    }
}

void VantrelFrameConnection::ensureConnected() {
    if (descriptor_ != nullptr) {  // only this thread changes the pointer
        descriptor_->setIdleLimit(VantrelCallTimeout::ceiling());
        return;
    }
    const VantrelDaemonInfo* record = provider_->getDaemonInfo();
    if (record == nullptr) fire(provider_->lastError());
    std::string pending = "No data interface found";
    const int port =
        record->getFramePort() != 0 ? record->getFramePort() : VantrelFrameWire::DEFAULT_FRAME_PORT;
    for (int i = 0; i < VantrelDaemonInfo::MAX_IPS && *record->getFrameIPAddr(i) != '\0'; ++i) {
        std::unique_ptr<Vantrel::CoIoTcpDescriptor> candidate(new Vantrel::CoIoTcpDescriptor(
            record->getFrameIPAddr(i), port, sendBufferSize_, receiveBufferSize_,
            connectTimeoutSeconds(), &stopped_));
        pending = candidate->lastError();
        if (pending.empty()) {
            candidate->setIdleLimit(VantrelCallTimeout::ceiling());
            replaceDescriptor(candidate.release());
            unreachable_ = false;
            return;
        }
        if (stopped_) failAndDrop(pending);  // stopped: no other address is tried
    }
    unreachable_ = true;
    failAndDrop(pending);
}

void VantrelFrameConnection::failAndDrop(std::string text) {
    provider_->invalidateDaemonInfo();
    replaceDescriptor(nullptr);
    fire(text);
}

void VantrelFrameConnection::send(const void* data, size_t length) {
    ensureConnected();
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const unsigned int slice = static_cast<unsigned int>(std::min(length, MAX_SLICE));
        if (descriptor_->blockingWrite(bytes, slice) != static_cast<int>(slice))
            failAndDrop(descriptor_->lastError());
        bytes += slice;
        length -= slice;
    }
}

void VantrelFrameConnection::receive(void* buffer, size_t length) {
    ensureConnected();
    char* bytes = static_cast<char*>(buffer);
    while (length > 0) {
        const unsigned int slice = static_cast<unsigned int>(std::min(length, MAX_SLICE));
        const int got = descriptor_->blockingRead(bytes, slice);
        if (got == 0) failAndDrop("Connection closed");
        if (got > 0 && got < static_cast<int>(slice)) failAndDrop("Operation aborted.");
        if (got < 0) {
            char text[256];
            std::snprintf(text, sizeof text, "Cannot read data on socket: %s",
                          descriptor_->lastError().c_str());
            failAndDrop(text);
        }
        bytes += slice;
        length -= slice;
    }
}

void VantrelFrameConnection::beginRequest() {
    forgetStop();  // a stop reaches the request under way, not the next one
    if (descriptor_ != nullptr && !descriptor_->isActive()) disconnect();
}

void VantrelFrameConnection::stop() {
    stopped_ = true;
    std::lock_guard<std::mutex> lock(descriptorLock_);
    if (descriptor_ != nullptr) descriptor_->stop();
}

void VantrelFrameConnection::disconnect() {
    provider_->invalidateDaemonInfo();
    replaceDescriptor(nullptr);
}
