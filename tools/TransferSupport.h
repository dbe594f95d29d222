// What the transfer subcommands (get, put, push, pull, export, import) share: the clip they
// name, the progress bar, and local files.
//
// Local file failures throw ToolFailure with EXIT_USAGE ("cannot read 'x': No such file or
// directory"); a path that is not a clip throws EXIT_SERVER_ERROR, like a wrong path.
// Threads: the main thread of the tool.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "FileNamePattern.h"
#include "FrameSelection.h"
#include "PartialFile.h"
#include "ProgressBar.h"
#include "Tool.h"

namespace vantrel_tool {

// The clip at `path`; fails when the path leads nowhere or to another kind of node.
VantrelNodeHandle resolveClip(Tool& tool, const NodePath& path);

// The frames `text` names in a clip of `frameCount` frames; usage error otherwise.
FrameSelection frameSelectionArgument(const std::string& text, size_t frameCount);
// The file name pattern `text`; usage error otherwise.
FileNamePattern fileNameArgument(const std::string& text);

// Adds to `command` the positional list "paths": sources, then a target (at least one of
// each), as put, push, pull and import take them.
void addSourcesAndTarget(CLI::App* command, std::vector<std::string>& paths,
                         const std::string& description);
// Adds --start N to `command`: the number in the file name of the first frame (file numbers
// are frame indexes + N; default 0).
void addStartOption(CLI::App* command, size_t& start);
// Whether long transfers draw a progress bar: standard error is a terminal and not `quiet`.
bool progressWanted(bool quiet);

// The name in a server's files area that `path` (SERVER:/dir/name) gives `localFile`: the
// path itself, or, when `intoFolder` or the path is the root, the local file's name inside it.
std::string remoteFileName(const NodePath& path, const std::string& localFile, bool intoFolder);

// Prints the result of push and pull: `copies` is a list of {"from", "to", "bytes"}, shown
// to people as "FROM -> TO (N bytes)" lines.
void printCopies(Tool& tool, const nlohmann::json& copies, uint64_t totalBytes);

// The size of the regular file `path`.
uint64_t localFileSize(const std::string& path);
// The whole regular file `path`, refused when larger than `limit` bytes.
std::vector<unsigned char> readLocalFile(const std::string& path, uint64_t limit);
// The last component of `path` ("a/b.mov" gives "b.mov").
std::string baseName(const std::string& path);
bool isLocalDirectory(const std::string& path);
// With --no-clobber: a usage error "'NAME' exists (--no-clobber): nothing written" when
// `name` exists (as anything, a dangling link included).
void refuseExistingFile(const std::string& name);
// Adds --no-clobber to `command`, telling what it keeps from being replaced.
void addNoClobberOption(CLI::App* command, bool& noClobber, const std::string& what);

// A local file being written: made under a temporary name by the constructor, closed,
// checked and given its name by close(); the destructor closes and removes it (PartialFile).
// "-" is standard output.
class LocalOutput {
public:
    explicit LocalOutput(const std::string& path);
    ~LocalOutput();
    LocalOutput(const LocalOutput&) = delete;
    LocalOutput& operator=(const LocalOutput&) = delete;

    void write(const void* data, size_t size);
    void close();

private:
    std::string path_;
    std::unique_ptr<PartialFile> partial_;  // null for standard output
    FILE* file_;
};

}  // namespace vantrel_tool
