// VantrelFrameClientAPI: the frame client of one server, speaking the requests of the data
// connection (VantrelFrameWire): frames, read-aheads and their redirections, streams and
// files.
//
// Frames are received straight into the caller's buffer. The acknowledged forms read a status
// before the frame; the forms without acknowledgement (used when allowed and the buffer holds
// at least 4096 bytes) read the frame at once and test it for the error prefix. With
// redirections enabled (servers of 2010.1.1 and from 2010.2.0 on) read-aheads ask the server
// whether another server holds the frame, and later reads of that frame go there.
//
// Trace: with ZR_VANTREL_TRACE on, each request posts "Calling NAME(ARGUMENT, NUMBER)" (or
// "Calling NAME()") and each completed operation "Finished NAME()" at debug level.
//
// Failure: every operation throws Vantrel::CoException with the reason. A status cut at its
// length limit, and any failure of the connection, drop the data connection, so the next
// operation starts on a fresh stream.
// Ownership: the primary connection is not owned (the server implementation owns it); the
// redirection cache, its connections and the file-transfer buffer are owned.
// Threads: no lock; one thread at a time (stop() of the connections from any thread).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "osal/CoEnvSettings.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/client/frames/VantrelFrameInterface.h"
#include "vantrel/client/frames/VantrelRedirectionsCache.h"
#include "vantrel/protocol/FrameWire.h"

class VantrelFrameConnection;

class VantrelFrameClientAPI : public VantrelFrameInterface {
public:
    // `info` decides whether redirections are enabled.
    VantrelFrameClientAPI(VantrelFrameConnection* primary, const VantrelDaemonInfo& info);
    ~VantrelFrameClientAPI() override;
    VantrelFrameClientAPI(const VantrelFrameClientAPI&) = delete;
    VantrelFrameClientAPI& operator=(const VantrelFrameClientAPI&) = delete;

    // Servers whose frames may live elsewhere: 2010.1.1, and 2010.2.0 or later.
    static bool redirectionsEnabledFor(const VantrelDaemonInfo& info);

    // Reads ahead `readAheadId1` and `readAheadId2` (null or empty: none), then frame
    // `frameId` into `buffer`, exactly `bufferSize` bytes. A null or empty frame id, a null
    // buffer or a size of 0 only reads ahead. A read-ahead that fails on a redirect target's
    // connection fails the call only when no frame is read or that target sends the frame
    // too (posted at debug level otherwise).
    void readFrame(const char* frameId, void* buffer, unsigned int bufferSize, const void* params,
                   unsigned int paramsLength, const char* readAheadId1, const char* readAheadId2,
                   bool noAckAllowed);
    // Asks the server to prepare frame `frameId`; with redirections, `redirected` tells
    // whether another server holds it, and `record` then describes that server (also stored
    // in the cache). A redirect target that cannot be reached is forgotten (here and in
    // readFrame): the next request for its frames goes to the primary, which may redirect
    // again.
    void readAhead(const char* frameId, const void* params, unsigned int paramsLength,
                   unsigned int bufferSize, bool& redirected, VantrelDaemonInfo& record);
    void writeFrame(const char* frameId, const void* data, unsigned int size);
    // `count` units of `unitSize` bytes from unit `first` of stream `id`; `count` becomes the
    // number of units the server sent. Throws "Buffer too small." before reading them when
    // they do not fit in `bufferSize`.
    void readStream(const char* id, void* buffer, unsigned int bufferSize, int first, int unitSize,
                    int& count);
    // Sends exactly the file's size as taken at the start; throws (and drops the connection)
    // when the file ends before that.
    void pushFile(const char* remoteName, const char* localPath);
    void pullFile(const char* remoteName, const char* localPath);
    void invalidateCache();
    void noOp();

    bool redirectionsEnabled() const { return redirectionsEnabled_; }
    // ZR_VANTREL_TRACE as read when the first frame operation ran (tests may set it).
    static Vantrel::CoEnvBoolSetting& traceSetting();
    VantrelRedirectionsCache& redirections() { return redirections_; }

private:
    VantrelFrameConnection& connectionFor(const char* frameId);
    // Reads ahead `aheadId` before frame `frameId` (null: no frame follows). A failure on a
    // redirect target's connection does not fail a frame that another server sends.
    void readAheadBefore(const char* frameId, const char* aheadId, const void* params,
                         unsigned int paramsLength, unsigned int bufferSize);
    void readAheadOn(VantrelFrameConnection& connection, const char* frameId, const void* params,
                     unsigned int paramsLength, unsigned int bufferSize, bool& redirected,
                     VantrelDaemonInfo& record);
    // Forgets the redirects to the server `connection` reaches when it could not be reached.
    void forgetIfUnreachable(const VantrelFrameConnection& connection);
    void sendRequest(VantrelFrameConnection& connection, VantrelFrameWire::Command command,
                     const char* argument, long number);
    void sendCommand(VantrelFrameConnection& connection, VantrelFrameWire::Command command);
    void sendNumber(VantrelFrameConnection& connection, long number);
    void sendParameters(VantrelFrameConnection& connection, const void* params,
                        unsigned int paramsLength);
    // Throws a non-empty status; a status cut at its limit also drops the connection.
    void readStatus(VantrelFrameConnection& connection);
    long long readNumber(VantrelFrameConnection& connection);
    char* transferBuffer();
    void sendFileBytes(FILE* file, long long size);

    VantrelFrameConnection* primary_;
    VantrelRedirectionsCache redirections_;
    std::unique_ptr<char[]> transferBuffer_;
    bool redirectionsEnabled_;
};
