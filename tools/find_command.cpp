// vantrel find SERVER:/path [--name GLOB] [--type TYPE] [--depth N]: the nodes below a node
// whose display name and type match, in depth-first order.
//
// Each node walked is listed once (one children request, names included); a node's type is
// asked only when --type is given and its name matched, so a search by name on a folder of
// 100,000 children costs one request. Folders waiting to be walked are kept on a stack, not
// in recursion, so a deep tree cannot exhaust the tool's stack.
#include <fnmatch.h>
#include <strings.h>

#include <climits>
#include <vector>

#include "ToolCommands.h"

namespace vantrel_tool {

namespace {

struct FindOptions {
    std::string path;
    std::string name = "*";
    std::string type;  // empty: any
    int depth = INT_MAX;
};

struct Pending {
    VantrelNodeHandle node;
    NodePath path;
    int level;  // below the start node
};

// The type text of `node` when it equals `wanted` regardless of case; "" otherwise.
std::string matchingType(const Tool& tool, VantrelNodeHandle& node, const NodePath& path,
                         const std::string& wanted) {
    VantrelStr type;
    tool.check(node.getNodeTypeStr(type), node, "reading " + path.text());
    return ::strcasecmp(type.c_str(), wanted.c_str()) == 0 ? std::string(type.c_str()) : "";
}

// The match row of `pending`, or null when it does not match.
nlohmann::json matchOf(const Tool& tool, Pending& pending, const FindOptions& options) {
    const std::string name = pending.path.name();
    if (::fnmatch(options.name.c_str(), name.c_str(), 0) != 0) return nullptr;
    nlohmann::json row = {{"path", pending.path.text()}, {"name", name}};
    if (options.type.empty()) return row;
    const std::string type = matchingType(tool, pending.node, pending.path, options.type);
    if (type.empty()) return nullptr;
    row["type"] = type;
    return row;
}

void runFind(Tool& tool, const FindOptions& options) {
    const NodePath start = nodePathArgument(options.path);
    std::vector<Pending> stack{{tool.resolve(start), start, 0}};
    nlohmann::json matches = nlohmann::json::array();
    while (!stack.empty()) {
        Pending current = std::move(stack.back());
        stack.pop_back();
        if (current.level > 0) {
            nlohmann::json row = matchOf(tool, current, options);
            if (!row.is_null()) {
                if (!tool.json()) tool.writeLine(current.path.text());
                matches.push_back(std::move(row));
            }
        }
        if (current.level >= options.depth) continue;
        std::vector<Pending> children;
        tool.forEachChild(current.node, current.path,
                          [&](VantrelNodeHandle& child, const NodePath& childPath) {
                              children.push_back({child, childPath, current.level + 1});
                          });
        stack.insert(stack.end(), std::make_move_iterator(children.rbegin()),
                     std::make_move_iterator(children.rend()));
    }
    if (tool.json()) tool.print({{"path", start.text()}, {"matches", matches}}, nullptr);
}

}  // namespace

void add_find_command(CommandRegistry& registry) {
    auto options = std::make_shared<FindOptions>();
    CLI::App* command = registry.add(
        "find", "Finds the nodes below a node by display name (a glob) and type.",
        "vantrel find '127.0.0.1:7549:/Volume 1' --name 'Shot 0*' --type clip");
    command->add_option("path", options->path, "Where to search, SERVER:/display/path")
        ->required();
    command->add_option("--name", options->name,
                        "Display names to find, a glob: * any text, ? one character, [a-z] a "
                        "set (default: every name)");
    command->add_option("--type", options->type,
                        "Node type to find, any case (clip, folder, reel, ...; default: any)");
    command->add_option("--depth", options->depth,
                        "Levels below the node to search (1: its children only; default: all)")
        ->check(CLI::Range(1, INT_MAX));
    registry.setAction(command, [options](Tool& tool) { runFind(tool, *options); });
}

}  // namespace vantrel_tool
