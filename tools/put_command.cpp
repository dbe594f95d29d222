// vantrel put FILES... SERVER:/path/clip [--at N] [--dry-run] [--no-clobber]: files into a
// clip's frames, one file per frame, allocating frames when the clip holds too few.
#include <climits>
#include <cstdio>

#include "ClipFrames.h"
#include "ToolCommands.h"
#include "TransferSupport.h"

namespace vantrel_tool {
namespace {

struct PutOptions {
    std::vector<std::string> paths;  // the files, then the clip
    size_t at = 0;
    bool dryRun = false;
    bool noClobber = false;
};

// Where frames come from: files, one per frame, or "-", frames back to back on standard
// input (as `get` writes them; the last may be shorter).
class FrameSource {
public:
    FrameSource(const std::vector<std::string>& files, size_t frameSize)
        : files_(files), frameSize_(frameSize) {
        if (fromInput() || files_.size() == 1) return;
        for (const std::string& file : files_)
            if (file == "-") usageError("'-' (standard input) must be the only source");
    }
    bool fromInput() const { return files_.size() == 1 && files_[0] == "-"; }
    // Frames and bytes to come (0: not known before reading, from standard input).
    size_t count() const { return fromInput() ? 0 : files_.size(); }
    // Checks that every file fits in a frame before anything is written; their total bytes.
    uint64_t checkSizes() const {
        uint64_t total = 0;
        for (size_t i = 0; i < count(); ++i) {
            const uint64_t size = localFileSize(files_[i]);
            if (size > frameSize_)
                usageError("'" + files_[i] + "' holds " + std::to_string(size) +
                           " bytes, more than the " + std::to_string(frameSize_) +
                           " a frame of the clip holds");
            total += size;
        }
        return total;
    }
    // The next frame's bytes and where they came from; false at the end.
    bool next(std::vector<unsigned char>& bytes, std::string& name) {
        if (!fromInput()) {
            if (next_ == files_.size()) return false;
            name = files_[next_++];
            bytes = readLocalFile(name, frameSize_);
            return true;
        }
        bytes.resize(frameSize_);
        const size_t read = std::fread(bytes.data(), 1, bytes.size(), stdin);
        if (std::ferror(stdin)) usageError("cannot read standard input");
        bytes.resize(read);
        name = "-";
        return read > 0;
    }

private:
    const std::vector<std::string> files_;
    const size_t frameSize_;
    size_t next_ = 0;
};

// What a put of `files` from frame `at` on would do to a clip of `before` frames.
void planPut(Tool& tool, const NodePath& path, const std::vector<std::string>& files, size_t at,
             size_t before) {
    nlohmann::json planned = nlohmann::json::array();
    for (size_t i = 0; i < files.size(); ++i)
        planned.push_back({{"index", at + i}, {"file", files[i]}, {"bytes", localFileSize(files[i])}});
    const size_t allocated = at + files.size() > before ? at + files.size() - before : 0;
    tool.print({{"clip", path.text()}, {"frames", planned}, {"allocated", allocated}, {"dryRun", true}},
               [&](std::ostream& out) {
                   for (const nlohmann::json& row : planned)
                       out << "would write " << row["file"].get<std::string>() << " into frame "
                           << row["index"].get<size_t>() << "\n";
                   if (allocated > 0) out << "would allocate " << counted(allocated, "frame") << "\n";
               });
}

void runPut(Tool& tool, const PutOptions& options) {
    const std::vector<std::string> files(options.paths.begin(), options.paths.end() - 1);
    if (options.at > static_cast<size_t>(INT_MAX)) usageError("--at is beyond any clip's frames");
    const NodePath path = nodePathArgument(options.paths.back());
    VantrelNodeHandle clip = resolveClip(tool, path);
    ClipWriter writer(tool, clip);
    FrameSource source(files, writer.frameSize());
    const uint64_t expected = source.checkSizes();
    const size_t before = writer.frameCount();
    if (options.noClobber && options.at < before)
        usageError(path.text() + " holds frame " + std::to_string(options.at) +
                   " already (--no-clobber): nothing written");
    if (options.dryRun) {
        if (source.fromInput()) usageError("--dry-run cannot be used with standard input");
        planPut(tool, path, files, options.at, before);
        return;
    }
    writer.reserve(options.at + source.count());
    ProgressBar progress(stderr, progressWanted(tool.options().quiet), "frames", source.count(),
                         expected);
    nlohmann::json written = nlohmann::json::array();
    uint64_t total = 0;
    std::vector<unsigned char> bytes;
    std::string name;
    for (size_t index = options.at; source.next(bytes, name); ++index) {
        writer.reserve(index + 1);
        writer.write(index, bytes.data(), bytes.size());
        written.push_back({{"index", index}, {"file", name}, {"bytes", bytes.size()}});
        total += bytes.size();
        progress.advance(1, bytes.size());
    }
    progress.finish();
    const size_t allocated = writer.frameCount() - before;
    tool.print(
        {{"clip", path.text()}, {"frames", written}, {"bytes", total}, {"allocated", allocated}},
        [&](std::ostream& out) {
            out << "put " << counted(written.size(), "frame") << " (" << total << " bytes) into "
                << path.text();
            if (allocated > 0) out << ", " << allocated << " of them new";
            out << "\n";
        });
}

}  // namespace

void add_put_command(CommandRegistry& registry) {
    auto options = std::make_shared<PutOptions>();
    CLI::App* command = registry.add(
        "put",
        "Writes files into a clip's frames, one file per frame, allocating frames as needed.",
        "vantrel put --at 8 bars.0000.raw bars.0001.raw "
        "'127.0.0.1:7549:/Volume 1/Feature Film/Vault/Main/Reel 1/Colour Bars'");
    addSourcesAndTarget(
        command, options->paths,
        "The files, then the clip (SERVER:/display/path); each file at most a frame; - alone "
        "reads frames back to back from standard input");
    command->add_option("--at", options->at,
                        "Index of the frame the first file goes to (default 0)");
    command->add_flag("-n,--dry-run", options->dryRun,
                      "Check the clip and the files' sizes and show which frames they would go "
                      "to; write nothing");
    addNoClobberOption(command, options->noClobber,
                       "a frame it would write exists in the clip (from --at on)");
    registry.setAction(command, [options](Tool& tool) { runPut(tool, *options); });
}

}  // namespace vantrel_tool
