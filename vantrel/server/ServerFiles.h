// The file operations the node store is built on: whole-file reads, atomic replacement of a
// file, directories created and committed by rename, and recursive removal.
//
// Atomic replacement: the bytes go to a temporary file beside the target, which is flushed to
// disk (with Sync::DURABLE), renamed over the target, and the directory is flushed, so that a
// process killed at any moment leaves either the old file or the new one, never a mix.
// Temporary names end in TEMP_SUFFIX; whoever loads a directory removes such leftovers.
//
// Failure: every operation throws FileError, a ServerError whose text names the path and the
// system's reason (strerror) and whose reason() is the system's reason alone (for replies
// that must not show server paths). Threads: no shared state; callers serialise work on one
// directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vantrel/server/ServerError.h"

namespace vantreld {

class FileError : public ServerError {
public:
    FileError(const std::string& text, const std::string& reason)
        : ServerError(text), reason_(reason) {}
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
};

class ServerFiles {
public:
    enum class Sync { DURABLE, FAST };  // FAST skips fsync (bulk building, benchmarks)

    static constexpr const char* TEMP_SUFFIX = ".tmp";

    static bool exists(const std::string& path);
    static bool isDirectory(const std::string& path);
    // The file's bytes, at most `maxBytes` of them from its start.
    static std::string readFile(const std::string& path, size_t maxBytes = SIZE_MAX);
    // Size in bytes of a file; 0 when it is missing.
    static uint64_t fileSize(const std::string& path);
    // Replaces (or creates) `path` with `bytes` atomically. On failure (a full disk, say) the
    // temporary file is removed at once: it would hold on to space until the next load.
    static void writeFileAtomically(const std::string& path, const std::string& bytes, Sync sync);
    // Creates `path` (its parent must exist); an existing directory is fine.
    static void makeDirectory(const std::string& path);
    // Renames `from` to `to` (replacing a file `to`) and flushes the directory of `to`.
    static void rename(const std::string& from, const std::string& to, Sync sync);
    static void syncDirectory(const std::string& path);
    // A descriptor of the directory `path` (following links), open for *at() calls; the
    // caller closes it.
    static int openDirectory(const std::string& path);
    // Names in a directory, "." and ".." left out, sorted.
    static std::vector<std::string> list(const std::string& directory);
    // Removes a file or a whole directory tree; a missing path is fine.
    static void removeTree(const std::string& path);
};

// An exclusive lock on a directory, held from construction to destruction through the file
// LOCK_FILE inside it (an advisory lock that the system drops when the process ends, so a
// killed server leaves no stale lock). The file holds the process number of the holder.
// Two locks on one directory conflict also within one process.
// Failure: the constructor throws ServerError "Tree directory 'DIR' is in use by another
// vantreld (process N)" when another holder has it, FileError when the file cannot be made.
class DirectoryLock {
public:
    static constexpr const char* LOCK_FILE = "vantreld.lock";

    explicit DirectoryLock(const std::string& directory);
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

private:
    int fd_;
};

}  // namespace vantreld
