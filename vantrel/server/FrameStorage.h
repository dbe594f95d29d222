// What the frame server reads and writes in the tree directory (see NodeStore for the layout):
//
//   nodes/SERIAL/frames/FRAMEID   the bytes of frame FRAMEID ("SERIAL.N") of node SERIAL
//   files/...                     the files area of "PushFile" and "PullFile" (FilesArea)
//
// A frame id is known when its node's manifest lists it. A known frame without a file has no
// data yet and reads as zeros, unless its node is linked to media files ("Paths" in the
// manifest): then frame N of the node is the N-th path's file, as the client gave the path
// after this server's path translation (PathTranslator). A linked frame whose file cannot be
// read is an error ("Cannot read the media file of frame 'ID': REASON"; the path goes to the
// log), never zeros. Bytes written to a linked frame (its own frame file) take its place.
// Frames and manifests are replaced atomically on disk, so this class reads them without
// sharing a lock with the node store.
//
// A node's stream (id "stream-SERIAL", as "GetStreamId" answers) is the bytes of the node's
// frames, in frame order, one after the other. Only the files holding the units asked for are
// read, and they are sent from the files (nothing is gathered in memory).
//
// Failure: throws ServerError with the text of the error status ("Unknown frame id: 'ID'",
// "Invalid file name: 'NAME'", a file error).
// Threads: any thread (the cache of parsed manifests has its own lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vantrel/server/FrameIds.h"
#include "vantrel/server/ServerFiles.h"
#include "vantrel/server/TextList.h"

namespace vantreld {

class FrameStorage {
public:
    // The path on this host of a media file linked by a client on host `host` of OS type
    // `osType`; called from any thread.
    typedef std::function<std::string(const std::string& path, const std::string& host,
                                      int osType)>
        PathTranslator;

    // `readDelayMs`: a fixed delay added to every frame read from disk (benchmarks only).
    // `translate`: empty, paths are used as they are.
    FrameStorage(const std::string& treeDirectory, ServerFiles::Sync sync, int readDelayMs = 0,
                 PathTranslator translate = PathTranslator());

    // An open frame file (or none, for a known frame without data).
    class OpenFrame {
    public:
        OpenFrame() = default;
        OpenFrame(int fd, size_t size) : fd_(fd), size_(size) {}
        OpenFrame(OpenFrame&& other) noexcept : fd_(other.fd_), size_(other.size_) {
            other.fd_ = -1;
        }
        OpenFrame& operator=(OpenFrame&&) = delete;
        ~OpenFrame();
        int fd() const { return fd_; }  // -1: no data
        size_t size() const { return size_; }

    private:
        int fd_ = -1;
        size_t size_ = 0;
    };

    // Throws "Unknown frame id: 'ID'", and the error of a linked file that cannot be read.
    OpenFrame openFrame(const std::string& frameId) const;
    // The frame's bytes (empty for a frame without data); throws like openFrame.
    std::string loadFrame(const std::string& frameId) const;
    // The bytes of an open frame (fewer when the file shrank meanwhile).
    static std::string readAll(const OpenFrame& frame);
    bool isKnownFrame(const std::string& frameId) const;

    // The node holding a frame, as its manifest names it and its parent.
    struct FrameNode {
        std::string nodeId;
        std::string parentId;
    };
    // Throws "Unknown frame id: 'ID'".
    FrameNode nodeOfFrame(const std::string& frameId) const;
    // A file that arrives in pieces and replaces its target atomically: the bytes go to a
    // temporary file beside the target (named "TARGET.in-PROCESS-N.tmp", see isTemporaryName),
    // which commit() flushes (with Sync::DURABLE) and renames over the target. Destroyed
    // without commit() (the sender went away), it removes the temporary file, so the target is
    // whole or untouched. `folderFd` is the open folder of the target (taken over: closed with
    // the file); `targetPath` only serves the log; `label` names the target in error texts
    // ("frame '5.0'", "file 'a/b.mov'"), which never show a path of the server (the path goes
    // to the log). The constructor throws ServerError when the temporary file cannot be made.
    class IncomingFile {
    public:
        IncomingFile(int folderFd, const std::string& targetPath, const std::string& name,
                     const std::string& label, ServerFiles::Sync sync);
        ~IncomingFile();
        IncomingFile(const IncomingFile&) = delete;
        IncomingFile& operator=(const IncomingFile&) = delete;
        void write(const char* bytes, size_t size);
        // Throws ServerError when a write failed or the file cannot be committed.
        void commit();

    private:
        // Logs the full story and throws the client's text: "Cannot WHAT LABEL: REASON".
        [[noreturn]] void fail(const char* what, int error) const;

        const int folderFd_;
        const std::string targetPath_;
        const std::string name_;
        const std::string temp_;  // a name in the folder
        const std::string label_;
        const ServerFiles::Sync sync_;
        int fd_;
        int writeError_ = 0;  // errno of the first write that failed
        bool committed_ = false;
    };

    // Whether `name` (one path component) has the form of the temporary files IncomingFile
    // makes: such a name belongs to the store, never to a client.
    static bool isTemporaryName(const std::string& name);

    // The new bytes of a frame; throws for an unknown frame id.
    std::unique_ptr<IncomingFile> incomingFrame(const std::string& frameId) const;
    // Units [first, first + count) of `unitSize` bytes of stream `streamId`: `count` is cut
    // to the units that exist (and to MAX_STREAM_REPLY bytes), `begin` is called with it, then
    // `send` with each open file and the range of it that holds the units, in order. A file
    // that went away or shrank after the count was made is made up with zeros by the sender
    // (FrameSocket::sendFile). Throws before `begin` for an unknown stream, a negative first
    // unit, a unit size of 0 or a linked file that cannot be read.
    typedef std::function<void(const OpenFrame& file, uint64_t offset, uint64_t length)> SendRange;
    static constexpr long long MAX_STREAM_REPLY = 256LL * 1024 * 1024;
    void readStream(const std::string& streamId, long long first, long long unitSize,
                    long long& count, const std::function<void(long long count)>& begin,
                    const SendRange& send) const;

private:
    // The serial of a frame id "SERIAL.N" or a stream id "stream-SERIAL"; false when the text
    // has another form.
    static bool frameSerial(const std::string& frameId, std::string& serial);
    std::string nodeFolder(const std::string& serial) const;
    std::string frameFilePath(const std::string& serial, const std::string& frameId) const;

    // What the frame server needs of a node's manifest.
    struct NodeFacts {
        std::string id, parentId;
        FrameIds frames;
        TextList paths;  // linked media files, one per frame; empty when not linked
        std::string pathsHost;
        int pathsOsType = 0;
    };
    // The facts of node `serial` from its manifest (no frames when there is no such node).
    // Manifests are parsed once per version of the file (see Manifest).
    std::shared_ptr<const NodeFacts> factsOf(const std::string& serial) const;
    // Frame `index` of a node: its own frame file, else its linked media file, else none.
    // Throws for a linked file that cannot be read.
    OpenFrame openFrameAt(const std::string& serial, const NodeFacts& facts, size_t index) const;
    OpenFrame openLinked(const NodeFacts& facts, size_t index) const;
    void delayRead() const;

    // The frame lists of recently read manifests, each kept with the identity of the file it
    // came from (inode, size, change time): a manifest is replaced by renaming a new file over
    // it, so a list is reused only while its file is the current one. Bounded; one lock.
    struct Manifest {
        uint64_t inode = 0, size = 0;
        int64_t changeNs = 0;
        std::shared_ptr<const NodeFacts> facts;
    };
    static constexpr size_t MAX_MANIFESTS = 64;

    const std::string directory_;
    const ServerFiles::Sync sync_;
    const int readDelayMs_;
    const PathTranslator translate_;
    mutable std::mutex manifestsLock_;
    mutable std::map<std::string, Manifest> manifests_;  // by serial, under manifestsLock_
};

}  // namespace vantreld
