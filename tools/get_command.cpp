// vantrel get SERVER:/path/clip [FRAMES] [-o NAME]: the bytes of a clip's frames, by index
// ranges, into files or standard output, reading ahead.
#include "ClipFrames.h"
#include "FileNamePattern.h"
#include "ToolCommands.h"
#include "TransferSupport.h"

namespace vantrel_tool {
namespace {

struct GetOptions {
    std::string clip;
    std::string frames;
    std::string output = "-";
    size_t start = 0;
    bool noClobber = false;
};

// Where the frames go: one file per frame under a numbered name, else one stream (a file or
// standard output) holding them in the order read.
class FrameFiles {
public:
    // Frame i goes to the file numbered `start` + i.
    FrameFiles(const std::string& output, size_t start)
        : pattern_(fileNameArgument(output)), start_(start) {
        if (!pattern_.numbered()) stream_ = std::make_unique<LocalOutput>(output);
    }

    // Writes frame `index`; the name of the file it went to.
    std::string write(size_t index, const std::vector<unsigned char>& bytes) {
        if (stream_) {
            stream_->write(bytes.data(), bytes.size());
            return pattern_.name(start_ + index);
        }
        const std::string name = pattern_.name(start_ + index);
        LocalOutput file(name);
        file.write(bytes.data(), bytes.size());
        file.close();
        return name;
    }
    void close() {
        if (stream_) stream_->close();
    }

private:
    FileNamePattern pattern_;
    size_t start_;
    std::unique_ptr<LocalOutput> stream_;
};

void runGet(Tool& tool, const GetOptions& options) {
    if (options.output == "-" && tool.json())
        usageError("--json needs --output: standard output carries the frames");
    if (options.output == "-" && standardOutputIsTerminal())
        usageError("frames are not written to a terminal (give -o NAME, or a pipe)");
    const NodePath path = nodePathArgument(options.clip);
    fileNameArgument(options.output);  // a bad name fails before any transfer
    VantrelNodeHandle clip = resolveClip(tool, path);
    ClipReader reader(tool, clip);
    const FrameSelection selection = frameSelectionArgument(options.frames, reader.frameCount());
    if (options.noClobber && options.output != "-") {
        const FileNamePattern names = fileNameArgument(options.output);
        if (!names.numbered()) refuseExistingFile(options.output);
        for (size_t position = 0; names.numbered() && position < selection.size(); ++position)
            refuseExistingFile(names.name(options.start + selection[position]));
    }
    FrameFiles files(options.output, options.start);
    ProgressBar progress(stderr, progressWanted(tool.options().quiet), "frames", selection.size(),
                         selection.size() * reader.frameSize());
    nlohmann::json written = nlohmann::json::array();
    reader.read(selection, [&](size_t index, const std::vector<unsigned char>& bytes) {
        const std::string name = files.write(index, bytes);
        written.push_back({{"index", index}, {"file", name}, {"bytes", bytes.size()}});
        progress.advance(1, bytes.size());
    });
    files.close();
    progress.finish();
    if (options.output == "-") return;
    const uint64_t total = selection.size() * reader.frameSize();
    tool.print({{"clip", path.text()}, {"frames", written}, {"bytes", total}},
               [&](std::ostream& out) {
                   out << "got " << counted(selection.size(), "frame") << " (" << total << " bytes) into "
                       << options.output << "\n";
               });
}

}  // namespace

void add_get_command(CommandRegistry& registry) {
    auto options = std::make_shared<GetOptions>();
    CLI::App* command = registry.add(
        "get", "Reads frames of a clip, by index ranges, into files or standard output.",
        "vantrel get "
        "'127.0.0.1:7549:/Volume 1/Feature Film/Vault/Main/Reel 1/Colour Bars' "
        "0-3,7 -o bars.%04d.raw");
    command->add_option("clip", options->clip, "The clip (SERVER:/display/path)")->required();
    command->add_option("frames", options->frames,
                        "Frame indexes and ranges, such as 0-23,40, 10- or 0-100x2 (default: every "
                        "frame)");
    command->add_option("-o,--output", options->output,
                        "File name; %04d or #### in it gives one file per frame, numbered by frame index "
                        "(default: - for standard output)");
    addStartOption(command, options->start);
    addNoClobberOption(command, options->noClobber, "a file it would write exists");
    registry.setAction(command, [options](Tool& tool) { runGet(tool, *options); });
}

}  // namespace vantrel_tool
