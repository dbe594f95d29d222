// vantrel ls SERVER:/path [--depth N] [-l]: the children of a node (and theirs, down to N
// levels), with types, display names and clip formats; with -l also the bytes each holds (a
// clip its frames, any other node everything below it).
#include "ClipSizes.h"
#include "NodeFacts.h"
#include "ToolCommands.h"

namespace vantrel_tool {

namespace {

struct LsOptions {
    std::string path;
    int depth = 1;
    bool sizes = false;
};

// Appends the descendants of `node` down to `levels` levels, each with its path.
void listBelow(Tool& tool, VantrelNodeHandle& node, const NodePath& path, int levels,
               bool sizes, nlohmann::json& rows) {
    tool.forEachChild(node, path, [&](VantrelNodeHandle& child, const NodePath& childPath) {
        const NodeFacts facts = readNodeFacts(tool, child, childPath.text());
        nlohmann::json row = toJson(facts);
        row["path"] = childPath.displayPath();
        if (sizes) row["bytes"] = storedSize(tool, child, childPath, !facts.clip).bytes;
        rows.push_back(row);
        if (levels > 1) listBelow(tool, child, childPath, levels - 1, sizes, rows);
    });
}

}  // namespace

void add_ls_command(CommandRegistry& registry) {
    auto options = std::make_shared<LsOptions>();
    CLI::App* command = registry.add(
        "ls", "Lists the children of a node: type, display name, clip format.",
        "vantrel ls '127.0.0.1:7549:/Volume 1/Commercial/Shared Vault/Library A/Reel 1'");
    command->add_option("path", options->path, "The node, SERVER:/display/path")->required();
    command->add_option("--depth", options->depth, "Levels to list (1: the children only)")
        ->capture_default_str()
        ->check(CLI::Range(1, 1000000));
    command->add_flag("-l,--long", options->sizes,
                      "Show the bytes each node holds: a clip its frames (frames x frame "
                      "size), any other node everything below it (exact in --json, \"bytes\")");
    registry.setAction(command, [options](Tool& tool) {
        const NodePath path = nodePathArgument(options->path);
        VantrelNodeHandle node = tool.resolve(path);
        nlohmann::json rows = nlohmann::json::array();
        listBelow(tool, node, path, options->depth, options->sizes, rows);
        const nlohmann::json doc = {{"path", path.text()}, {"children", rows}};
        tool.print(doc, [&](std::ostream& out) {
            for (const nlohmann::json& row : rows) {
                out << row["type"].get<std::string>() << "\t";
                if (options->sizes) out << humanSize(row["bytes"].get<uint64_t>()) << "\t";
                out
                    << (options->depth > 1 ? row["path"].get<std::string>()
                                           : escapeName(row["name"].get<std::string>()));
                if (row.contains("format"))
                    out << "\t" << row["format"]["width"] << "x" << row["format"]["height"] << " "
                        << row["format"]["tag"].get<std::string>() << ", "
                        << counted(row["frames"].get<long long>(), "frame");
                out << "\n";
            }
        });
    });
}

}  // namespace vantrel_tool
