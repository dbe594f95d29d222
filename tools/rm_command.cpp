// vantrel rm [-r] SERVER:/path: removes a node (with -r, also one that has children).
#include "ToolCommands.h"

namespace vantrel_tool {

void add_rm_command(CommandRegistry& registry) {
    auto path = std::make_shared<std::string>();
    auto recursive = std::make_shared<bool>(false);
    CLI::App* command = registry.add(
        "rm", "Removes a node with its frames and metadata (-r: with its whole subtree).",
        "vantrel rm -r '127.0.0.1:7549:/Volume 1/Commercial/Shared Vault/Library A/Dailies'");
    command->add_option("path", *path, "The node, SERVER:/display/path")->required();
    command->add_flag("-r,--recursive", *recursive, "Remove a node that has children too");
    registry.setAction(command, [path, recursive](Tool& tool) {
        const NodePath where = nodePathArgument(*path);
        if (where.isRoot()) usageError("the root cannot be removed");
        VantrelNodeHandle node = tool.resolve(where);
        int children = 0;
        tool.check(node.getNumChildren(children), node, "listing " + where.text());
        if (children > 0 && !*recursive)
            usageError(where.text() + " has " + std::to_string(children) +
                       " children; -r removes them too");
        tool.check(node.destroyNode(), node, "removing " + where.text());
        const nlohmann::json doc = {{"removed", where.text()}, {"children", children}};
        tool.print(doc, [&](std::ostream& out) { out << "Removed " << where.text() << "\n"; });
    });
}

}  // namespace vantrel_tool
