#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "vantrel/server/ServerFiles.h"

namespace vantreld {

namespace {

[[noreturn]] void fail(const char* what, const std::string& path, int error) {
    throw FileError(std::string(what) + " '" + path + "': " + std::strerror(error),
                    std::strerror(error));
}

// Closes a descriptor when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void release() { fd_ = -1; }
    // Closes now and reports the error of the close (data may fail to reach disk there).
    int closeNow() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd_;
};

std::string parentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void writeAll(int fd, const std::string& bytes, const std::string& path) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("Cannot write", path, errno);
        }
        done += static_cast<size_t>(n);
    }
}

}  // namespace

bool ServerFiles::exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

bool ServerFiles::isDirectory(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ServerFiles::readFile(const std::string& path, size_t maxBytes) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) fail("Cannot open", path, errno);
    std::string bytes;
    char chunk[65536];
    while (bytes.size() < maxBytes) {
        const ssize_t n =
            ::read(fd.get(), chunk, std::min(sizeof chunk, maxBytes - bytes.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("Cannot read", path, errno);
        }
        if (n == 0) break;
        bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
}

uint64_t ServerFiles::fileSize(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return 0;
        fail("Cannot inspect", path, errno);
    }
    return static_cast<uint64_t>(info.st_size);
}

void ServerFiles::writeFileAtomically(const std::string& path, const std::string& bytes,
                                      Sync sync) {
    const std::string temp = path + TEMP_SUFFIX;
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) fail("Cannot create", temp, errno);
    try {
        writeAll(fd.get(), bytes, temp);
        if (sync == Sync::DURABLE && ::fsync(fd.get()) != 0) fail("Cannot flush", temp, errno);
        if (const int error = fd.closeNow()) fail("Cannot close", temp, error);
        rename(temp, path, sync);
    } catch (const FileError&) {
        // A half-written temporary file would hold on to space a full disk needs back.
        ::unlink(temp.c_str());
        throw;
    }
}

void ServerFiles::makeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && !(errno == EEXIST && isDirectory(path)))
        fail("Cannot create directory", path, errno);
}

void ServerFiles::rename(const std::string& from, const std::string& to, Sync sync) {
    if (::rename(from.c_str(), to.c_str()) != 0) fail("Cannot rename", from, errno);
    if (sync == Sync::DURABLE) syncDirectory(parentOf(to));
}

int ServerFiles::openDirectory(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) fail("Cannot open directory", path, errno);
    return fd;
}

void ServerFiles::syncDirectory(const std::string& path) {
    Fd fd(openDirectory(path));
    if (::fsync(fd.get()) != 0) fail("Cannot flush directory", path, errno);
}

std::vector<std::string> ServerFiles::list(const std::string& directory) {
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) fail("Cannot list", directory, errno);
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void ServerFiles::removeTree(const std::string& path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return;
        fail("Cannot inspect", path, errno);
    }
    if (S_ISDIR(info.st_mode)) {
        for (const std::string& name : list(path)) removeTree(path + "/" + name);
        if (::rmdir(path.c_str()) != 0 && errno != ENOENT) fail("Cannot remove", path, errno);
    } else if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        fail("Cannot remove", path, errno);
    }
}

// ------------------------------------------------------------------------------ DirectoryLock

DirectoryLock::DirectoryLock(const std::string& directory) : fd_(-1) {
    const std::string path = directory + "/" + LOCK_FILE;
    Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (fd.get() < 0) fail("Cannot create", path, errno);
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) fail("Cannot lock", path, errno);
        std::string holder = ServerFiles::readFile(path);
        holder = holder.substr(0, holder.find_first_not_of("0123456789"));
        throw ServerError("Tree directory '" + directory + "' is in use by another vantreld" +
                          (holder.empty() ? std::string() : " (process " + holder + ")"));
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd.get(), 0) != 0) fail("Cannot write", path, errno);
    writeAll(fd.get(), pid, path);
    fd_ = fd.get();
    fd.release();
}

DirectoryLock::~DirectoryLock() {
    if (fd_ >= 0) ::close(fd_);  // drops the lock
}

}  // namespace vantreld
