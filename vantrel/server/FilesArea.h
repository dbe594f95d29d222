// The files area of the frame port: the folder files/ of the tree directory, where "PushFile"
// stores and "PullFile" reads files by remote name.
//
// Remote names are relative paths whose components are separated by "/" ("a/b.mov"; empty
// components are skipped). A name is refused with "Invalid file name: 'NAME'" when it is
// empty, absolute, ends in "/", holds ".." or a NUL byte, when its last component has the
// form of the store's temporary files (FrameStorage::isTemporaryName), or when one of its
// folders is a file.
//
// Links: nothing is opened through a link inside the area. Every name is opened beneath the
// area's folder one component at a time without following links, so a link planted in the
// area (as a folder or as the file itself) is refused ("Invalid file name: 'NAME' (a link)")
// and nothing outside the area is read or written. The area's own folder may be a link: that
// is where the server's administrator put it.
//
// A push creates the missing folders of its name (mode 0755) and writes the file through
// FrameStorage::IncomingFile, so it appears whole or not at all. Opening the area removes the
// temporary files that interrupted pushes left anywhere in it (a killed server), so a
// half-pushed file is never served.
//
// Failure: throws ServerError with the text of the error status; a failing file operation
// names the remote file and the system's reason, never a path of the server (the path goes
// to the log). Threads: any thread; no shared state beyond the file system.
#pragma once

#include <memory>
#include <string>

#include "vantrel/server/FrameStorage.h"

namespace vantreld {

class FilesArea {
public:
    static constexpr const char* FOLDER = "files";

    // Creates the area in `treeDirectory` when it is missing and removes leftovers of
    // interrupted pushes (a folder that cannot be cleaned is logged and skipped). Throws
    // FileError when the area cannot be made.
    FilesArea(const std::string& treeDirectory, ServerFiles::Sync sync);

    // The regular file `remoteName` open for reading. Throws "Invalid file name: ..." or, when
    // there is no such regular file, "Cannot open 'NAME'".
    FrameStorage::OpenFrame open(const std::string& remoteName) const;
    // A new file `remoteName`, creating its missing folders.
    std::unique_ptr<FrameStorage::IncomingFile> incoming(const std::string& remoteName) const;

    const std::string& folder() const { return folder_; }

private:
    // The open folder that holds `remoteName` (the caller closes it) and, in `leaf`, the
    // file's name in it. With `create`, missing folders are made.
    int openFolderOf(const std::string& remoteName, bool create, std::string& leaf) const;
    void removeLeftovers(const std::string& folder) const;

    const std::string folder_;
    const ServerFiles::Sync sync_;
};

}  // namespace vantreld
