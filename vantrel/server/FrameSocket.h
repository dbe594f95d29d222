// One accepted data connection of the frame server: exact reads, whole writes, zero padding
// and kernel-side copies from files (sendfile).
//
// Failure: every operation throws PeerGone when the peer has closed, the connection broke or
// shutdown() was called. Ownership: owns the socket and closes it in its destructor.
// Threads: one thread reads and writes; shutdown() may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "vantrel/protocol/FrameWire.h"

namespace vantreld {

struct PeerGone : std::runtime_error {
    PeerGone() : std::runtime_error("The data connection is closed") {}
};

class FrameSocket : public VantrelFrameWire::ByteSource {
public:
    // `peer`: the peer's numeric address ("" when unknown).
    FrameSocket(int fd, const std::string& peer);
    ~FrameSocket() override;
    FrameSocket(const FrameSocket&) = delete;
    FrameSocket& operator=(const FrameSocket&) = delete;

    void read(void* buffer, size_t size) override;
    void write(const void* data, size_t size);
    void write(const std::string& bytes) { write(bytes.data(), bytes.size()); }
    void writeZeros(size_t size);
    // Sends `length` bytes of the open file `fileFd` from `offset` without copying them
    // through this process; what the file lacks (it shrank meanwhile) is sent as zeros.
    void sendFile(int fileFd, size_t length, uint64_t offset = 0);
    // Reads and drops `size` bytes.
    void discard(size_t size);
    // Makes a blocked read or write of another thread fail. Any thread.
    void shutdown();
    // From now on a read or write that moves nothing for `ms` milliseconds fails (PeerGone);
    // 0: no limit.
    void setIdleLimit(unsigned int ms);
    const std::string& peer() const { return peer_; }

private:
    const int fd_;
    const std::string peer_;
};

}  // namespace vantreld
