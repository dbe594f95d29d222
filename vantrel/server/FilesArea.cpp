#include "vantrel/server/FilesArea.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "vantrel/CoMsg.h"

namespace vantreld {

namespace {

[[noreturn]] void invalidName(const std::string& remoteName, const char* why = "") {
    throw ServerError("Invalid file name: '" + remoteName + "'" + why);
}

// The components of a remote name, empty ones skipped; refuses the names no file may have.
std::vector<std::string> componentsOf(const std::string& remoteName) {
    if (remoteName.empty() || remoteName[0] == '/' || remoteName.back() == '/' ||
        remoteName.find("..") != std::string::npos || remoteName.find('\0') != std::string::npos)
        invalidName(remoteName);
    std::vector<std::string> components;
    for (size_t start = 0; start <= remoteName.size();) {
        const size_t slash = std::min(remoteName.find('/', start), remoteName.size());
        const std::string component = remoteName.substr(start, slash - start);
        if (component == ".") invalidName(remoteName);
        if (!component.empty()) components.push_back(component);
        start = slash + 1;
    }
    if (FrameStorage::isTemporaryName(components.back())) invalidName(remoteName);
    return components;
}

bool isLink(int folderFd, const std::string& name) {
    struct stat facts;
    return ::fstatat(folderFd, name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISLNK(facts.st_mode);
}

// Opens `name` in `folderFd` without following a link; -1 with errno on failure.
int openBeneath(int folderFd, const std::string& name, int flags) {
    return ::openat(folderFd, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace

FilesArea::FilesArea(const std::string& treeDirectory, ServerFiles::Sync sync)
    : folder_(treeDirectory + "/" + FOLDER), sync_(sync) {
    ServerFiles::makeDirectory(folder_);
    removeLeftovers(folder_);
}

void FilesArea::removeLeftovers(const std::string& folder) const {
    try {
        for (const std::string& name : ServerFiles::list(folder)) {
            const std::string path = folder + "/" + name;
            struct stat facts;
            if (::lstat(path.c_str(), &facts) != 0) continue;
            if (S_ISDIR(facts.st_mode)) {
                removeLeftovers(path);
            } else if (S_ISREG(facts.st_mode) && FrameStorage::isTemporaryName(name)) {
                CO_MSG_NOTICE("Removing '%s', left by an interrupted push", path.c_str());
                ::unlink(path.c_str());
            }
        }
    } catch (const FileError& error) {
        CO_MSG_WARNING("Files area: %s", error.what());
    }
}

int FilesArea::openFolderOf(const std::string& remoteName, bool create,
                            std::string& leaf) const {
    std::vector<std::string> components = componentsOf(remoteName);
    leaf = components.back();
    components.pop_back();
    int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        CO_MSG_ERROR("Cannot open the files area '%s': %s", folder_.c_str(), std::strerror(errno));
        throw ServerError("Cannot open the files area: " + std::string(std::strerror(errno)));
    }
    for (const std::string& name : components) {
        int next = openBeneath(fd, name, O_RDONLY | O_DIRECTORY);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(fd, name.c_str(), 0755) != 0 && errno != EEXIST) {
                const int error = errno;
                ::close(fd);
                throw ServerError("Cannot write file '" + remoteName +
                                  "': " + std::strerror(error));
            }
            next = openBeneath(fd, name, O_RDONLY | O_DIRECTORY);
        }
        const int error = errno;
        const bool link = next < 0 && isLink(fd, name);
        ::close(fd);
        if (link) invalidName(remoteName, " (a link)");
        if (next < 0 && error == ENOTDIR) invalidName(remoteName);
        if (next < 0)
            throw ServerError(create ? "Cannot write file '" + remoteName + "': " +
                                           std::strerror(error)
                                     : "Cannot open '" + remoteName + "'");
        fd = next;
    }
    return fd;
}

FrameStorage::OpenFrame FilesArea::open(const std::string& remoteName) const {
    std::string leaf;
    const int folder = openFolderOf(remoteName, false, leaf);
    // Non-blocking: opening a FIFO planted in the area must not hold the thread.
    const int fd = openBeneath(folder, leaf, O_RDONLY | O_NONBLOCK);
    const bool link = fd < 0 && isLink(folder, leaf);
    ::close(folder);
    if (link) invalidName(remoteName, " (a link)");
    struct stat facts;
    if (fd >= 0 && ::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode))
        return FrameStorage::OpenFrame(fd, static_cast<size_t>(facts.st_size));
    if (fd >= 0) ::close(fd);
    throw ServerError("Cannot open '" + remoteName + "'");
}

std::unique_ptr<FrameStorage::IncomingFile> FilesArea::incoming(
    const std::string& remoteName) const {
    std::string leaf;
    const int folder = openFolderOf(remoteName, true, leaf);
    if (isLink(folder, leaf)) {
        ::close(folder);
        invalidName(remoteName, " (a link)");
    }
    return std::unique_ptr<FrameStorage::IncomingFile>(new FrameStorage::IncomingFile(
        folder, folder_ + "/" + remoteName, leaf, "file '" + remoteName + "'", sync_));
}

}  // namespace vantreld
