// vantrel tree SERVER:/path [--depth N]: a node and its descendants, indented.
#include "NodeFacts.h"
#include "ToolCommands.h"

namespace vantrel_tool {

namespace {

struct TreeOptions {
    std::string path;
    int depth = 64;
};

// `node` as JSON with its "children" down to `levels` more levels; each node is printed for
// people as it is read, so a big tree shows up at once.
nlohmann::json walk(Tool& tool, VantrelNodeHandle& node, const NodePath& path, int indent,
                    int levels) {
    const NodeFacts facts = readNodeFacts(tool, node, path.text());
    if (!tool.json()) tool.writeLine(std::string(2 * indent, ' ') + summary(facts));
    nlohmann::json json = toJson(facts);
    if (levels == 0) return json;
    json["children"] = nlohmann::json::array();
    tool.forEachChild(node, path, [&](VantrelNodeHandle& child, const NodePath& childPath) {
        json["children"].push_back(walk(tool, child, childPath, indent + 1, levels - 1));
    });
    return json;
}

}  // namespace

void add_tree_command(CommandRegistry& registry) {
    auto options = std::make_shared<TreeOptions>();
    CLI::App* command = registry.add("tree", "Prints a node and its descendants, indented.",
                                     "vantrel tree --depth 2 '127.0.0.1:7549:/Volume 1'");
    command->add_option("path", options->path, "The node, SERVER:/display/path")->required();
    command->add_option("--depth", options->depth, "Levels below the node to show")
        ->capture_default_str()
        ->check(CLI::Range(0, 1000000));
    registry.setAction(command, [options](Tool& tool) {
        const NodePath path = nodePathArgument(options->path);
        VantrelNodeHandle node = tool.resolve(path);
        nlohmann::json doc = walk(tool, node, path, 0, options->depth);
        doc["path"] = path.text();
        if (tool.json()) tool.print(doc, nullptr);
    });
}

}  // namespace vantrel_tool
