#include "PartialFile.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Tool.h"

namespace vantrel_tool {
namespace {

// What the signal handler may touch: plain atomics and the text they point to.
std::atomic<const char*> pendingTemporary{nullptr};
std::atomic<bool> progressLineOpen{false};
std::atomic<const char*> interruptNote{nullptr};

void writeToStandardError(const char* text, size_t length) {
    if (::write(STDERR_FILENO, text, length) < 0) {
        // Nothing left to tell anyone: the process ends next.
    }
}

void endInterruptedTransfer(int signalNumber) {
    const char* temporary = pendingTemporary.load();
    if (temporary != nullptr) ::unlink(temporary);
    if (progressLineOpen.load()) writeToStandardError("\n", 1);
    const char* note = interruptNote.load();
    if (note != nullptr) writeToStandardError(note, std::strlen(note));
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

}  // namespace

void installInterruptHandlers() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = &endInterruptedTransfer;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        return true;
    }();
    (void)installed;
}

namespace {

// An existing target that is not a plain file (a device such as /dev/null, a pipe, a link):
// renaming over it would replace the device or the link itself, so it is written in place.
bool isWrittenInPlace(const std::string& target) {
    struct stat facts {};
    return ::lstat(target.c_str(), &facts) == 0 && !S_ISREG(facts.st_mode);
}

}  // namespace

std::string PartialFile::temporaryNameFor(const std::string& target) {
    const size_t slash = target.rfind('/');
    const size_t dot = target.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && dot > (slash == std::string::npos ? 0 : slash + 1);
    const std::string stem = hasExtension ? target.substr(0, dot) : target;
    const std::string extension = hasExtension ? target.substr(dot) : std::string();
    return stem + ".vantrel-" + std::to_string(::getpid()) + extension;
}

PartialFile::PartialFile(const std::string& target)
    : target_(target), inPlace_(isWrittenInPlace(target)),
      temporary_(inPlace_ ? target : temporaryNameFor(target)) {
    installInterruptHandlers();
    if (!inPlace_) pendingTemporary.store(temporary_.c_str());
}

PartialFile::~PartialFile() {
    pendingTemporary.store(nullptr);
    if (!committed_ && !inPlace_) std::remove(temporary_.c_str());
}

void PartialFile::commit() {
    if (!inPlace_ && std::rename(temporary_.c_str(), target_.c_str()) != 0)
        usageError("cannot write '" + target_ + "': " + std::strerror(errno));
    committed_ = true;
    pendingTemporary.store(nullptr);
}

void setProgressLineOpen(bool open) { progressLineOpen.store(open); }

void setInterruptNote(const std::string& text) {
    static std::string held;  // main thread only; the handler reads it through the pointer
    installInterruptHandlers();
    interruptNote.store(nullptr);
    held = text.empty() ? text : text + "\n";
    if (!held.empty()) interruptNote.store(held.c_str());
}

}  // namespace vantrel_tool
