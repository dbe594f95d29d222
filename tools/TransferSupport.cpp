#include "TransferSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantrel_tool {
namespace {

[[noreturn]] void localFailure(const std::string& what, const std::string& path) {
    usageError("cannot " + what + " '" + path + "': " + std::strerror(errno));
}

}  // namespace

VantrelNodeHandle resolveClip(Tool& tool, const NodePath& path) {
    VantrelNodeHandle clip = tool.resolve(path);
    bool isClip = false;
    tool.check(clip.getIsClipNode(isClip), clip,
               "cannot get the type of '" + path.displayPath() + "'");
    if (!isClip) throw ToolFailure(EXIT_SERVER_ERROR, "'" + path.displayPath() + "' is not a clip");
    return clip;
}

FrameSelection frameSelectionArgument(const std::string& text, size_t frameCount) {
    try {
        return FrameSelection::parse(text, frameCount);
    } catch (const SelectionError& error) {
        usageError(error.what());
    }
}

FileNamePattern fileNameArgument(const std::string& text) {
    try {
        return FileNamePattern(text);
    } catch (const PatternError& error) {
        usageError(error.what());
    }
}

void addSourcesAndTarget(CLI::App* command, std::vector<std::string>& paths,
                         const std::string& description) {
    command->add_option("paths", paths, description)
        ->required()
        ->expected(2, CLI::detail::expected_max_vector_size);
}

void addStartOption(CLI::App* command, size_t& start) {
    command->add_option("--start", start,
                        "Number in the file name of frame 0 (such as 1001; default 0)")
        ->check(CLI::Range(size_t(0), size_t(1) << 40));
}

bool progressWanted(bool quiet) {
    return ProgressBar::shouldShow(STDERR_FILENO, quiet);
}

std::string remoteFileName(const NodePath& path, const std::string& localFile, bool intoFolder) {
    std::string name;
    for (const std::string& component : path.components)
        name += (name.empty() ? "" : "/") + component;
    if (intoFolder || name.empty()) name += (name.empty() ? "" : "/") + baseName(localFile);
    return name;
}

void printCopies(Tool& tool, const nlohmann::json& copies, uint64_t totalBytes) {
    tool.print({{"files", copies}, {"bytes", totalBytes}}, [&](std::ostream& out) {
        for (const nlohmann::json& copy : copies)
            out << copy["from"].get<std::string>() << " -> " << copy["to"].get<std::string>()
                << " (" << copy["bytes"].get<uint64_t>() << " bytes)\n";
    });
}

uint64_t localFileSize(const std::string& path) {
    struct stat facts {};
    if (::stat(path.c_str(), &facts) != 0) localFailure("read", path);
    if (!S_ISREG(facts.st_mode)) usageError("'" + path + "' is not a file");
    return static_cast<uint64_t>(facts.st_size);
}

std::vector<unsigned char> readLocalFile(const std::string& path, uint64_t limit) {
    const uint64_t size = localFileSize(path);
    if (size > limit)
        usageError("'" + path + "' holds " + std::to_string(size) + " bytes, more than the " +
                   std::to_string(limit) + " a frame holds");
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) localFailure("read", path);
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    const size_t read = std::fread(bytes.data(), 1, bytes.size(), file);
    const bool failed = std::ferror(file) != 0;
    const bool changed = !failed && (read != bytes.size() || std::fgetc(file) != EOF);
    std::fclose(file);
    if (failed) localFailure("read", path);
    if (changed) usageError("cannot read '" + path + "': its size changed while it was read");
    return bytes;
}

std::string baseName(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

void refuseExistingFile(const std::string& name) {
    struct stat facts {};
    if (::lstat(name.c_str(), &facts) == 0)
        usageError("'" + name + "' exists (--no-clobber): nothing written");
}

void addNoClobberOption(CLI::App* command, bool& noClobber, const std::string& what) {
    command->add_flag("--no-clobber", noClobber,
                      "Refuse the whole command, writing nothing, when " + what);
}

bool isLocalDirectory(const std::string& path) {
    struct stat facts {};
    return ::stat(path.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode);
}

LocalOutput::LocalOutput(const std::string& path)
    : path_(path == "-" ? "standard output" : path),
      partial_(path == "-" ? nullptr : std::make_unique<PartialFile>(path)),
      file_(partial_ ? std::fopen(partial_->temporary().c_str(), "wb") : stdout) {
    if (file_ == nullptr) localFailure("write", path_);
}

LocalOutput::~LocalOutput() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
}

void LocalOutput::write(const void* data, size_t size) {
    if (std::fwrite(data, 1, size, file_) != size) localFailure("write", path_);
}

void LocalOutput::close() {
    FILE* file = file_;
    file_ = nullptr;
    const bool failed = file == stdout ? std::fflush(file) != 0 : std::fclose(file) != 0;
    if (failed) localFailure("write", path_);
    if (partial_) partial_->commit();
}

}  // namespace vantrel_tool
