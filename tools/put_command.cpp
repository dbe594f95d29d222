// vantrel put FILES... SERVER:/path/clip [--at N]: files into a clip's frames, one file per
// frame, allocating frames when the clip holds too few.
#include <climits>

#include "ClipFrames.h"
#include "ToolCommands.h"
#include "TransferSupport.h"

namespace vantrel_tool {
namespace {

struct PutOptions {
    std::vector<std::string> paths;  // the files, then the clip
    size_t at = 0;
    bool quiet = false;
};

void runPut(Tool& tool, const PutOptions& options) {
    const std::vector<std::string> files(options.paths.begin(), options.paths.end() - 1);
    if (options.at > static_cast<size_t>(INT_MAX)) usageError("--at is beyond any clip's frames");
    const NodePath path = nodePathArgument(options.paths.back());
    VantrelNodeHandle clip = resolveClip(tool, path);
    ClipWriter writer(tool, clip);
    uint64_t total = 0;
    for (const std::string& file : files) {  // every file fits before a frame is allocated
        const uint64_t size = localFileSize(file);
        if (size > writer.frameSize())
            usageError("'" + file + "' holds " + std::to_string(size) + " bytes, more than the " +
                       std::to_string(writer.frameSize()) + " a frame of the clip holds");
        total += size;
    }
    const size_t before = writer.frameCount();
    writer.reserve(options.at + files.size());
    ProgressBar progress(stderr, progressWanted(options.quiet), "frames", files.size(), total);
    nlohmann::json written = nlohmann::json::array();
    for (size_t i = 0; i < files.size(); ++i) {
        const std::vector<unsigned char> bytes = readLocalFile(files[i], writer.frameSize());
        writer.write(options.at + i, bytes.data(), bytes.size());
        written.push_back({{"index", options.at + i}, {"file", files[i]}, {"bytes", bytes.size()}});
        progress.advance(1, bytes.size());
    }
    progress.finish();
    const size_t allocated = writer.frameCount() - before;
    tool.print(
        {{"clip", path.text()}, {"frames", written}, {"bytes", total}, {"allocated", allocated}},
        [&](std::ostream& out) {
            out << "put " << files.size() << " frames (" << total << " bytes) into " << path.text();
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
        "The files, then the clip (SERVER:/display/path); each file at most a frame");
    command->add_option("--at", options->at,
                        "Index of the frame the first file goes to (default 0)");
    addQuietFlag(command, options->quiet);
    registry.setAction(command, [options](Tool& tool) { runPut(tool, *options); });
}

}  // namespace vantrel_tool
