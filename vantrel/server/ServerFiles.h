// The file operations the node store is built on: whole-file reads, atomic replacement of a
// file, directories created and committed by rename, and recursive removal.
//
// Atomic replacement: the bytes go to a temporary file beside the target, which is flushed to
// disk (with Sync::DURABLE), renamed over the target, and the directory is flushed, so that a
// process killed at any moment leaves either the old file or the new one, never a mix.
// Temporary names end in TEMP_SUFFIX; whoever loads a directory removes such leftovers.
//
// Failure: every operation throws ServerError with a text naming the path and the system's
// reason (strerror). Threads: no shared state; callers serialise work on one directory.
#pragma once

#include <string>
#include <vector>

#include "vantrel/server/ServerError.h"

namespace vantreld {

class ServerFiles {
public:
    enum class Sync { DURABLE, FAST };  // FAST skips fsync (bulk building, benchmarks)

    static constexpr const char* TEMP_SUFFIX = ".tmp";

    static bool exists(const std::string& path);
    static bool isDirectory(const std::string& path);
    static std::string readFile(const std::string& path);
    // Replaces (or creates) `path` with `bytes` atomically.
    static void writeFileAtomically(const std::string& path, const std::string& bytes, Sync sync);
    // Creates `path` (its parent must exist); an existing directory is fine.
    static void makeDirectory(const std::string& path);
    // Renames `from` to `to` (replacing a file `to`) and flushes the directory of `to`.
    static void rename(const std::string& from, const std::string& to, Sync sync);
    static void syncDirectory(const std::string& path);
    // Names in a directory, "." and ".." left out, sorted.
    static std::vector<std::string> list(const std::string& directory);
    // Removes a file or a whole directory tree; a missing path is fine.
    static void removeTree(const std::string& path);
};

}  // namespace vantreld
