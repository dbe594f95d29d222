// VantrelServerFrames: the frame operations of a server implementation: its data connection,
// its frame client (made on first use from the server's record) and the server-version rules
// that choose the request forms:
//   - readStream, pushStream, pullStream need 2007.1.0.0; older servers fail at once with
//     strerror(EACCES) as the last error;
//   - readFrame drops the acknowledgement from 2009.1.0.0 (buffers of 4096 bytes or more) and
//     passes parameters on from 2010.0.0.0 (before that, a plain read);
//   - invalidateCache is sent from 2012.0.0.5120 only; older servers succeed without a request.
// Every operation answers false with the reason in the server implementation's last error.
//
// The data connection's record comes from the server implementation. After the record's data
// addresses failed (a broken or refused data connection), the next connection first makes sure
// the node link is up (a ping reconnects it when the server went away), so that it connects
// from the record the server gives after its restart, not from the one before.
//
// Ownership: owned by the server implementation, which is also the data connection's provider.
// Threads: one thread at a time, except stop(), callable from any thread.
#pragma once

#include <atomic>
#include <memory>

#include "vantrel/client/frames/VantrelFrameClientAPI.h"
#include "vantrel/client/frames/VantrelFrameConnection.h"

class VantrelServerImp;

class VantrelServerFrames : private VantrelDaemonInfoMgr {
public:
    explicit VantrelServerFrames(VantrelServerImp& server);
    ~VantrelServerFrames();
    VantrelServerFrames(const VantrelServerFrames&) = delete;
    VantrelServerFrames& operator=(const VantrelServerFrames&) = delete;

    bool readFrame(const char* frameId, const void* params, unsigned int paramsLength, void* buffer,
                   unsigned int size, const char* readAheadId1, const char* readAheadId2);
    bool writeFrame(const char* frameId, const void* data, unsigned int size);
    bool readStream(const char* id, void* buffer, unsigned int size, int first, int unitSize,
                    int& count);
    bool pushStream(const char* remoteName, const char* localPath);
    bool pullStream(const char* remoteName, const char* localPath);
    bool invalidateCache();

    // Cuts a blocked transfer short, on the server's data connection or on one to a server
    // holding redirected frames. Any thread.
    void stop();
    // stop(), then drops the data connection.
    void disconnect();

    // The frame client, made on first use; throws CoException with the server's last error
    // when its record cannot be had.
    VantrelFrameClientAPI& frameClient();

private:
    struct Version {
        int major, minor, maint, build;
    };
    // Runs `operation` on the frame client when the server's record can be had; false with
    // the last error set on any failure.
    template <class Operation>
    bool run(Operation operation);
    // Whether the server's version is `version` or later; false also when the record cannot
    // be had (`known` then false).
    bool serverIsAtLeast(const Version& version, bool& known);
    bool needsStreams();
    // False with "Invalid argument: null pointer" when either is null.
    bool checkGiven(const char* first, const char* second);

    // The data connection's provider: the server's record, refreshed after a failure.
    const VantrelDaemonInfo* getDaemonInfo() override;
    void invalidateDaemonInfo() override;
    const char* lastError() const override;

    VantrelServerImp& server_;
    bool addressesFailed_ = false;
    std::unique_ptr<VantrelFrameConnection> connection_;
    std::unique_ptr<VantrelFrameClientAPI> client_;
    std::atomic<VantrelFrameClientAPI*> stoppableClient_{nullptr};  // client_, for stop()
};
