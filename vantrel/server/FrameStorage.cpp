#include "vantrel/server/FrameStorage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "rcApi/rcAttrStream.h"
#include "vantrel/CoMsg.h"
#include "vantrel/server/NodeStore.h"

namespace vantreld {

namespace {

const char* const NODES_DIR = NodeStore::NODES_DIR;
const char* const FRAMES_DIR = NodeStore::FRAMES_DIR;
const char* const MANIFEST = NodeStore::MANIFEST;
const char STREAM_PREFIX[] = "stream-";

// 1 to 19 digits: a serial or a frame number, within 64 bits.
bool allDigits(const std::string& text, size_t from, size_t to) {
    if (from >= to || to - from > 19) return false;
    for (size_t i = from; i < to; ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

[[noreturn]] void unknownFrame(const std::string& frameId) {
    throw ServerError("Unknown frame id: '" + frameId + "'");
}

std::string readString(const Vantrel::rcAttrStream& stream, const char* key) {
    std::string value;
    stream.getStringValue(key, value);
    return value;
}

// An open regular file and its size; -1 (errno set) when it cannot be had.
int openRegular(const std::string& path, size_t& size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat facts = {};
    const int error = ::fstat(fd, &facts) != 0 ? errno
                      : S_ISDIR(facts.st_mode)  ? EISDIR
                      : !S_ISREG(facts.st_mode) ? EINVAL
                                                : 0;
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    size = static_cast<size_t>(facts.st_size);
    return fd;
}

}  // namespace

FrameStorage::OpenFrame::~OpenFrame() {
    if (fd_ >= 0) ::close(fd_);
}

FrameStorage::FrameStorage(const std::string& treeDirectory, ServerFiles::Sync sync,
                           int readDelayMs, PathTranslator translate)
    : directory_(treeDirectory),
      sync_(sync),
      readDelayMs_(readDelayMs),
      translate_(std::move(translate)) {}

bool FrameStorage::frameSerial(const std::string& id, std::string& serial) {
    const size_t prefix = sizeof STREAM_PREFIX - 1;
    if (id.compare(0, prefix, STREAM_PREFIX) == 0) {
        if (!allDigits(id, prefix, id.size())) return false;
        serial = id.substr(prefix);
        return true;
    }
    const size_t dot = id.find('.');
    if (dot == std::string::npos || !allDigits(id, 0, dot) || !allDigits(id, dot + 1, id.size()))
        return false;
    serial = id.substr(0, dot);
    return true;
}

std::string FrameStorage::nodeFolder(const std::string& serial) const {
    return directory_ + "/" + NODES_DIR + "/" + serial;
}

std::string FrameStorage::frameFilePath(const std::string& serial,
                                        const std::string& frameId) const {
    return nodeFolder(serial) + "/" + FRAMES_DIR + "/" + frameId;
}

std::shared_ptr<const FrameStorage::NodeFacts> FrameStorage::factsOf(
    const std::string& serial) const {
    const std::string path = nodeFolder(serial) + "/" + MANIFEST;
    struct stat facts;
    if (::stat(path.c_str(), &facts) != 0) return std::make_shared<const NodeFacts>();
    Manifest current;
    current.inode = facts.st_ino;
    current.size = static_cast<uint64_t>(facts.st_size);
    current.changeNs = facts.st_ctim.tv_sec * 1000000000LL + facts.st_ctim.tv_nsec;
    {
        std::lock_guard<std::mutex> hold(manifestsLock_);
        auto known = manifests_.find(serial);
        if (known != manifests_.end() && known->second.inode == current.inode &&
            known->second.size == current.size && known->second.changeNs == current.changeNs)
            return known->second.facts;
    }
    const Vantrel::rcAttrStream stream(ServerFiles::readFile(path));
    auto parsed = std::make_shared<NodeFacts>();
    parsed->id = readString(stream, "Id");
    parsed->parentId = readString(stream, "Parent");
    parsed->frames =
        NodeStore::framesInManifest(stream, std::strtoull(serial.c_str(), nullptr, 10));
    parsed->paths.parseCounted(readString(stream, "Paths"));
    parsed->pathsHost = readString(stream, "PathsHost");
    parsed->pathsOsType = std::atoi(readString(stream, "PathsOSType").c_str());
    current.facts = parsed;
    std::lock_guard<std::mutex> hold(manifestsLock_);
    if (manifests_.size() >= MAX_MANIFESTS) manifests_.clear();
    manifests_[serial] = current;
    return current.facts;
}

bool FrameStorage::isKnownFrame(const std::string& frameId) const {
    std::string serial;
    if (!frameSerial(frameId, serial) || frameId.compare(0, 7, STREAM_PREFIX) == 0) return false;
    return factsOf(serial)->frames.contains(frameId);
}

FrameStorage::FrameNode FrameStorage::nodeOfFrame(const std::string& frameId) const {
    if (!isKnownFrame(frameId)) unknownFrame(frameId);
    std::string serial;
    frameSerial(frameId, serial);
    const std::shared_ptr<const NodeFacts> facts = factsOf(serial);
    return FrameNode{facts->id, facts->parentId};
}

void FrameStorage::delayRead() const {
    if (readDelayMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(readDelayMs_));
}

FrameStorage::OpenFrame FrameStorage::openFrame(const std::string& frameId) const {
    std::string serial;
    if (!frameSerial(frameId, serial) || frameId.compare(0, 7, STREAM_PREFIX) == 0)
        unknownFrame(frameId);
    const std::shared_ptr<const NodeFacts> facts = factsOf(serial);
    const size_t index = facts->frames.indexOf(frameId);
    if (index == FrameIds::npos) unknownFrame(frameId);
    OpenFrame frame = openFrameAt(serial, *facts, index);
    delayRead();
    return frame;
}

FrameStorage::OpenFrame FrameStorage::openFrameAt(const std::string& serial,
                                                  const NodeFacts& facts, size_t index) const {
    size_t size = 0;
    const int fd = openRegular(frameFilePath(serial, facts.frames[index]), size);
    if (fd >= 0) return OpenFrame(fd, size);
    if (index < facts.paths.size()) return openLinked(facts, index);
    return OpenFrame();
}

FrameStorage::OpenFrame FrameStorage::openLinked(const NodeFacts& facts, size_t index) const {
    const std::string given = facts.paths[index];
    const std::string path =
        translate_ ? translate_(given, facts.pathsHost, facts.pathsOsType) : given;
    size_t size = 0;
    const int fd = path.empty() ? (errno = ENOENT, -1) : openRegular(path, size);
    if (fd >= 0) return OpenFrame(fd, size);
    const std::string reason = std::strerror(errno);
    const std::string frameId = facts.frames[index];
    CO_MSG_WARNING("Frame '%s' of node '%s': cannot read its media file '%s': %s",
                   frameId.c_str(), facts.id.c_str(), path.c_str(), reason.c_str());
    throw ServerError("Cannot read the media file of frame '" + frameId + "': " + reason);
}

std::string FrameStorage::loadFrame(const std::string& frameId) const {
    return readAll(openFrame(frameId));
}

std::string FrameStorage::readAll(const OpenFrame& frame) {
    std::string bytes(frame.size(), '\0');
    size_t have = 0;
    while (have < bytes.size()) {
        const ssize_t got =
            ::pread(frame.fd(), &bytes[have], bytes.size() - have, static_cast<off_t>(have));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        have += static_cast<size_t>(got);
    }
    bytes.resize(have);
    return bytes;
}

std::unique_ptr<FrameStorage::IncomingFile> FrameStorage::incomingFrame(
    const std::string& frameId) const {
    if (!isKnownFrame(frameId)) unknownFrame(frameId);
    std::string serial;
    frameSerial(frameId, serial);
    const std::string label = "frame '" + frameId + "'";
    const std::string folder = nodeFolder(serial) + "/" + FRAMES_DIR;
    int folderFd = -1;
    try {
        ServerFiles::makeDirectory(folder);
        folderFd = ServerFiles::openDirectory(folder);
    } catch (const FileError& error) {
        CO_MSG_ERROR("%s", error.what());
        throw ServerError("Cannot write " + label + ": " + error.reason());
    }
    return std::unique_ptr<IncomingFile>(new IncomingFile(folderFd, folder + "/" + frameId, frameId, label, sync_));
}

void FrameStorage::readStream(const std::string& streamId, long long first,
                              long long unitSize, long long& count,
                              const std::function<void(long long count)>& begin,
                              const SendRange& send) const {
    std::string serial;
    if (!frameSerial(streamId, serial) || streamId.compare(0, 7, STREAM_PREFIX) != 0 ||
        !ServerFiles::exists(nodeFolder(serial) + "/" + MANIFEST))
        throw ServerError("Unknown stream id: '" + streamId + "'");
    if (first < 0) throw ServerError("Invalid first unit: " + std::to_string(first));
    if (unitSize <= 0) throw ServerError("Invalid unit size: " + std::to_string(unitSize));
    // Frames are opened one at a time, to learn the stream's length up to the end of the units
    // asked for; those overlapping the units are opened again to be sent.
    const std::shared_ptr<const NodeFacts> facts = factsOf(serial);
    const long long lastUnit = LLONG_MAX / unitSize;  // units past it have no byte offset
    const long long from = std::min(first, lastUnit);
    const long long to = count <= 0 ? from : count > lastUnit - from ? lastUnit : from + count;
    const uint64_t start = static_cast<uint64_t>(from) * static_cast<uint64_t>(unitSize);
    const uint64_t stop =
        std::min(static_cast<uint64_t>(to) * static_cast<uint64_t>(unitSize),
                 start + static_cast<uint64_t>(MAX_STREAM_REPLY / unitSize * unitSize));
    struct Piece {
        size_t index;
        uint64_t offset, length;
    };
    std::vector<Piece> pieces;
    uint64_t at = 0;  // stream offset of the frame's first byte
    for (size_t i = 0; i < facts->frames.size() && at < stop; ++i) {
        const uint64_t end = at + openFrameAt(serial, *facts, i).size();
        if (end > start) {
            const uint64_t from = std::max(at, start);
            pieces.push_back(Piece{i, from - at, std::min(end, stop) - from});
        }
        at = end;
    }
    const long long units = static_cast<long long>(std::min(at, stop) / unitSize);
    count = std::max(0LL, units - first);
    begin(count);
    uint64_t left = static_cast<uint64_t>(count) * static_cast<uint64_t>(unitSize);
    for (const Piece& piece : pieces) {
        if (left == 0) break;
        const uint64_t length = std::min(left, piece.length);
        try {
            send(openFrameAt(serial, *facts, piece.index), piece.offset, length);
        } catch (const ServerError& error) {
            // The count is sent: no error status can follow it any more.
            throw std::runtime_error(std::string("Stream '") + streamId +
                                     "' changed while it was sent: " + error.what());
        }
        left -= length;
    }
}

namespace {

const char TEMP_MARK[] = ".in-";

// A temporary name beside `name`, unique in this process and among processes.
std::string temporaryNameFor(const std::string& name) {
    static std::atomic<unsigned long> counter{0};
    return name + TEMP_MARK + std::to_string(::getpid()) + "-" + std::to_string(++counter) +
           ServerFiles::TEMP_SUFFIX;
}

}  // namespace

bool FrameStorage::isTemporaryName(const std::string& name) {
    const std::string suffix = ServerFiles::TEMP_SUFFIX;
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(),
                                                     suffix) != 0)
        return false;
    // ".in-PROCESS-N" before the suffix
    const size_t end = name.size() - suffix.size();
    const size_t dash = name.rfind('-', end - 1);
    const size_t mark = name.rfind(TEMP_MARK, end);
    if (dash == std::string::npos || mark == std::string::npos) return false;
    const size_t pid = mark + sizeof TEMP_MARK - 1;
    return dash > pid && allDigits(name, pid, dash) && allDigits(name, dash + 1, end);
}

FrameStorage::IncomingFile::IncomingFile(int folderFd, const std::string& targetPath,
                                         const std::string& name, const std::string& label,
                                         ServerFiles::Sync sync)
    : folderFd_(folderFd),
      targetPath_(targetPath),
      name_(name),
      temp_(temporaryNameFor(name)),
      label_(label),
      sync_(sync),
      fd_(::openat(folderFd, temp_.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644)) {
    if (fd_ < 0) {
        const int error = errno;
        ::close(folderFd_);
        fail("create", error);
    }
}

FrameStorage::IncomingFile::~IncomingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlinkat(folderFd_, temp_.c_str(), 0);
    ::close(folderFd_);
}

void FrameStorage::IncomingFile::fail(const char* what, int error) const {
    CO_MSG_ERROR("Cannot %s %s ('%s', through '%s'): %s", what, label_.c_str(),
                 targetPath_.c_str(), temp_.c_str(), std::strerror(error));
    throw ServerError(std::string("Cannot ") + what + " " + label_ + ": " + std::strerror(error));
}

void FrameStorage::IncomingFile::write(const char* bytes, size_t size) {
    while (size > 0 && writeError_ == 0) {
        const ssize_t n = ::write(fd_, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            writeError_ = n < 0 ? errno : EIO;
        } else {
            bytes += n;
            size -= static_cast<size_t>(n);
        }
    }
}

void FrameStorage::IncomingFile::commit() {
    // The error of the write itself: errno has been through other calls since.
    if (writeError_ == 0 && sync_ == ServerFiles::Sync::DURABLE && ::fsync(fd_) != 0)
        writeError_ = errno;
    if (writeError_ != 0) fail("write", writeError_);
    if (::renameat(folderFd_, temp_.c_str(), folderFd_, name_.c_str()) != 0) fail("write", errno);
    committed_ = true;
    if (sync_ == ServerFiles::Sync::DURABLE && ::fsync(folderFd_) != 0) fail("flush", errno);
}

}  // namespace vantreld
