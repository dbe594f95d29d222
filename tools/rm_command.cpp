// vantrel rm [-r] SERVER:/path...: removes nodes (with -r, also ones that have children).
#include "ToolCommands.h"

namespace vantrel_tool {

namespace {

struct Removal {
    NodePath where;
    VantrelNodeHandle node;
    int children = 0;
};

// Every node named, checked before any is removed: a wrong path or a node with children
// (without -r) removes nothing.
std::vector<Removal> findRemovals(Tool& tool, const std::vector<std::string>& paths,
                                  bool recursive) {
    std::vector<Removal> removals;
    for (const std::string& text : paths) {
        Removal removal{nodePathArgument(text), VantrelNodeHandle(), 0};
        if (removal.where.isRoot()) usageError("the root cannot be removed");
        removals.push_back(removal);
    }
    for (Removal& removal : removals) {
        removal.node = tool.resolve(removal.where);
        tool.check(removal.node.getNumChildren(removal.children), removal.node,
                   "listing " + removal.where.text());
        if (removal.children > 0 && !recursive)
            usageError(removal.where.text() + " has " +
                       counted(removal.children, "child", "children") +
                       "; -r removes them too");
    }
    return removals;
}

}  // namespace

void add_rm_command(CommandRegistry& registry) {
    auto paths = std::make_shared<std::vector<std::string>>();
    auto recursive = std::make_shared<bool>(false);
    CLI::App* command = registry.add(
        "rm", "Removes nodes with their frames and metadata (-r: with their whole subtrees).",
        "vantrel rm -r '127.0.0.1:7549:/Volume 1/Commercial/Shared Vault/Library A/Dailies'");
    command->add_option("paths", *paths, "The nodes, SERVER:/display/path ...")
        ->required()
        ->expected(1, CLI::detail::expected_max_vector_size);
    command->add_flag("-r,--recursive", *recursive, "Remove nodes that have children too");
    registry.setAction(command, [paths, recursive](Tool& tool) {
        std::vector<Removal> removals = findRemovals(tool, *paths, *recursive);
        nlohmann::json docs = nlohmann::json::array();
        for (Removal& removal : removals) {
            tool.check(removal.node.destroyNode(), removal.node,
                       "removing " + removal.where.text());
            docs.push_back({{"removed", removal.where.text()}, {"children", removal.children}});
        }
        // One document for one node, as it always was; a list of them for several.
        tool.print(docs.size() == 1 ? docs[0] : docs, [&](std::ostream& out) {
            for (const Removal& removal : removals) out << "Removed " << removal.where.text() << "\n";
        });
    });
}

}  // namespace vantrel_tool
