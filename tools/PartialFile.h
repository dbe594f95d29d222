// PartialFile: a local file that appears under its name only once it is whole.
//
// The bytes go to a temporary name beside the target (same folder, same extension, so that
// writers that choose a format by the extension still do); commit() renames it over the
// target. A PartialFile destroyed without commit() removes the temporary file, so a failed
// transfer leaves neither a truncated file under the final name nor a temporary one, and an
// existing target stays as it was. A target that exists and is not a plain file (a device
// such as /dev/null, a named pipe, a symbolic link) is written in place instead: renaming
// over it would replace the device or the link itself.
//
// SIGINT and SIGTERM: while a PartialFile exists, these signals remove its temporary file,
// end a progress line left open (ProgressBar) and then end the process as the signal would
// have (status 128 + signal to a shell). The handlers are installed by the first PartialFile,
// progress bar drawn on a terminal or interrupt note, and stay; with no PartialFile alive they
// only end the progress line, write the note and end the process.
//
// Threads: PartialFiles are made and destroyed on the main thread, one at a time (the signal
// handler knows the latest one). Failures of commit() throw ToolFailure with EXIT_USAGE.
#pragma once

#include <string>

namespace vantrel_tool {

class PartialFile {
public:
    explicit PartialFile(const std::string& target);
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    // The name to write to.
    const std::string& temporary() const { return temporary_; }
    // Moves the temporary file over the target.
    void commit();

    // "dir/name.vantrel-PID.ext" for "dir/name.ext".
    static std::string temporaryNameFor(const std::string& target);

private:
    std::string target_;
    bool inPlace_;
    std::string temporary_;
    bool committed_ = false;
};

// Tells the signal handlers whether a progress line is drawn and not yet ended.
void setProgressLineOpen(bool open);

// Installs the SIGINT and SIGTERM handlers described above (once; later calls do nothing).
void installInterruptHandlers();

// The line those handlers write on standard error before the process ends (what the
// interrupted work leaves behind, such as a partial copy on a server); none for "". Installs
// the handlers. Main thread.
void setInterruptNote(const std::string& text);

}  // namespace vantrel_tool
