#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "vantrel/server/ServerFiles.h"

namespace vantreld {

namespace {

[[noreturn]] void fail(const char* what, const std::string& path, int error) {
    throw ServerError(std::string(what) + " '" + path + "': " + std::strerror(error));
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

std::string ServerFiles::readFile(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) fail("Cannot open", path, errno);
    std::string bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("Cannot read", path, errno);
        }
        if (n == 0) break;
        bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
}

void ServerFiles::writeFileAtomically(const std::string& path, const std::string& bytes,
                                      Sync sync) {
    const std::string temp = path + TEMP_SUFFIX;
    {
        Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (fd.get() < 0) fail("Cannot create", temp, errno);
        writeAll(fd.get(), bytes, temp);
        if (sync == Sync::DURABLE && ::fsync(fd.get()) != 0) fail("Cannot flush", temp, errno);
        if (const int error = fd.closeNow()) fail("Cannot close", temp, error);
    }
    rename(temp, path, sync);
}

void ServerFiles::makeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && !(errno == EEXIST && isDirectory(path)))
        fail("Cannot create directory", path, errno);
}

void ServerFiles::rename(const std::string& from, const std::string& to, Sync sync) {
    if (::rename(from.c_str(), to.c_str()) != 0) fail("Cannot rename", from, errno);
    if (sync == Sync::DURABLE) syncDirectory(parentOf(to));
}

void ServerFiles::syncDirectory(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) fail("Cannot open directory", path, errno);
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

}  // namespace vantreld
