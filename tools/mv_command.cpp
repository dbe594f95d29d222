// vantrel mv SERVER:/path NEW_NAME: renames a node (it stays under the same parent).
#include "ToolCommands.h"

namespace vantrel_tool {

void add_mv_command(CommandRegistry& registry) {
    auto path = std::make_shared<std::string>();
    auto name = std::make_shared<std::string>();
    CLI::App* command = registry.add(
        "mv", "Renames a node; it stays where it is in the tree.",
        "vantrel mv '127.0.0.1:7549:/Volume 1/Commercial/Shared Vault/Bin 1' 'Selects'");
    command->add_option("path", *path, "The node, SERVER:/display/path")->required();
    command->add_option("name", *name, "Its new display name")->required();
    registry.setAction(command, [path, name](Tool& tool) {
        const NodePath from = nodePathArgument(*path);
        if (from.isRoot()) usageError("the root cannot be renamed");
        if (splitDisplayPath(*name) != std::vector<std::string>{*name})
            usageError("'" + *name + "' is no display name (no '/', '\\', nor '.' alone)");
        VantrelNodeHandle node = tool.resolve(from);
        tool.check(node.renameNode(name->c_str()), node, "renaming " + from.text());
        NodePath to = from.parent();
        to.components.push_back(*name);
        const nlohmann::json doc = {{"from", from.text()}, {"path", to.text()},
                                    {"id", node.getNodeId().id()}};
        tool.print(doc, [&](std::ostream& out) { out << "Renamed to " << to.text() << "\n"; });
    });
}

}  // namespace vantrel_tool
