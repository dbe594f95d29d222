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

void endInterruptedTransfer(int signalNumber) {
    const char* temporary = pendingTemporary.load();
    if (temporary != nullptr) ::unlink(temporary);
    if (progressLineOpen.load()) {
        if (::write(STDERR_FILENO, "\n", 1) < 0) {
            // Nothing left to tell anyone: the process ends below.
        }
    }
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

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

}  // namespace vantrel_tool
