// vantrel pull SERVER:/name... LOCAL: files of a server's files area into local files.
#include "ToolCommands.h"
#include "TransferSupport.h"

namespace vantrel_tool {
namespace {

struct PullOptions {
    std::vector<std::string> paths;  // the remote names, then the local file or folder
    bool noClobber = false;
};

void runPull(Tool& tool, const PullOptions& options) {
    const std::string& local = options.paths.back();
    std::vector<NodePath> sources;
    for (size_t i = 0; i + 1 < options.paths.size(); ++i) {
        sources.push_back(nodePathArgument(options.paths[i]));
        if (sources.back().isRoot()) usageError("'" + options.paths[i] + "' names no file");
    }
    const bool intoFolder = sources.size() > 1 || isLocalDirectory(local);
    if (sources.size() > 1 && !isLocalDirectory(local))
        usageError("'" + local + "' is not a folder, and several files go into it");
    const auto targetOf = [&](const NodePath& source) {
        return intoFolder ? local + "/" + source.name() : local;
    };
    if (options.noClobber)
        for (const NodePath& source : sources) refuseExistingFile(targetOf(source));
    ProgressBar progress(stderr, progressWanted(tool.options().quiet), "files", sources.size(), 0);
    nlohmann::json pulled = nlohmann::json::array();
    uint64_t total = 0;
    for (const NodePath& source : sources) {
        const std::string remote = remoteFileName(source, "", false);
        const std::string target = targetOf(source);
        VantrelServerHandle& server = tool.server(source.server);
        // Arrives beside its target and replaces it only when whole.
        PartialFile incoming(target);
        tool.check(server.pullStream(remote.c_str(), incoming.temporary().c_str()), server,
                   "cannot pull '" + remote + "'");
        incoming.commit();
        const uint64_t size = localFileSize(target);
        total += size;
        pulled.push_back({{"from", source.text()}, {"to", target}, {"bytes", size}});
        progress.advance(1, size);
    }
    progress.finish();
    printCopies(tool, pulled, total);
}

}  // namespace

void add_pull_command(CommandRegistry& registry) {
    auto options = std::make_shared<PullOptions>();
    CLI::App* command =
        registry.add("pull", "Copies files of a server's files area into local files.",
                     "vantrel pull 127.0.0.1:7549:/incoming/cut.edl .");
    addSourcesAndTarget(command, options->paths,
                        "The names in the files area (SERVER:/dir/name), then the local file, or "
                        "a folder that takes them under their own names");
    addNoClobberOption(command, options->noClobber, "a local file it would write exists");
    registry.setAction(command, [options](Tool& tool) { runPull(tool, *options); });
}

}  // namespace vantrel_tool
