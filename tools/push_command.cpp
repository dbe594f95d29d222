// vantrel push FILES... SERVER:/name: local files into a server's files area.
#include "ToolCommands.h"
#include "TransferSupport.h"

namespace vantrel_tool {
namespace {

struct PushOptions {
    std::vector<std::string> paths;  // the files, then the remote name
};

void runPush(Tool& tool, const PushOptions& options) {
    const std::vector<std::string> files(options.paths.begin(), options.paths.end() - 1);
    const std::string& target = options.paths.back();
    const NodePath path = nodePathArgument(target);
    const bool intoFolder = files.size() > 1 || target.back() == '/';
    uint64_t total = 0;
    for (const std::string& file : files) total += localFileSize(file);
    VantrelServerHandle& server = tool.server(path.server);
    ProgressBar progress(stderr, progressWanted(tool.options().quiet), "files", files.size(), total);
    nlohmann::json pushed = nlohmann::json::array();
    for (const std::string& file : files) {
        const std::string remote = remoteFileName(path, file, intoFolder);
        const uint64_t size = localFileSize(file);
        tool.check(server.pushStream(remote.c_str(), file.c_str()), server,
                   "cannot push '" + file + "' to '" + remote + "'");
        pushed.push_back({{"from", file}, {"to", path.server + ":/" + remote}, {"bytes", size}});
        progress.advance(1, size);
    }
    progress.finish();
    printCopies(tool, pushed, total);
}

}  // namespace

void add_push_command(CommandRegistry& registry) {
    auto options = std::make_shared<PushOptions>();
    CLI::App* command = registry.add("push", "Copies local files into a server's files area.",
                                     "vantrel push notes.txt cut.edl 127.0.0.1:7549:/incoming/");
    addSourcesAndTarget(command, options->paths,
                        "The files, then the name in the files area (SERVER:/dir/name; a name "
                        "ending in / or the root takes the files under their own names)");
    registry.setAction(command, [options](Tool& tool) { runPush(tool, *options); });
}

}  // namespace vantrel_tool
