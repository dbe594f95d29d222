// vantrel du SERVER:/path: the bytes stored under a node (clip frames x frame size), for each
// child and in total.
#include "ClipSizes.h"
#include "ToolCommands.h"

namespace vantrel_tool {

namespace {

nlohmann::json toJson(const NodePath& path, const StoredSize& size) {
    return {{"path", path.text()},
            {"bytes", size.bytes},
            {"frames", size.frames},
            {"clips", size.clips}};
}

void runDu(Tool& tool, const std::string& text) {
    const NodePath path = nodePathArgument(text);
    VantrelNodeHandle node = tool.resolve(path);
    StoredSize total = storedSize(tool, node, path, false);
    nlohmann::json children = nlohmann::json::array();
    tool.forEachChild(node, path, [&](VantrelNodeHandle& child, const NodePath& childPath) {
        const StoredSize size = storedSize(tool, child, childPath, true);
        total += size;
        if (!tool.json()) tool.writeLine(humanSize(size.bytes) + "\t" + childPath.text());
        children.push_back(toJson(childPath, size));
    });
    nlohmann::json doc = toJson(path, total);
    doc["children"] = children;
    tool.print(doc, [&](std::ostream& out) {
        out << humanSize(total.bytes) << "\t" << path.text() << " (" << total.bytes << " bytes, "
            << counted(static_cast<long long>(total.frames), "frame") << " in "
            << counted(static_cast<long long>(total.clips), "clip") << ")\n";
    });
}

}  // namespace

void add_du_command(CommandRegistry& registry) {
    auto path = std::make_shared<std::string>();
    CLI::App* command = registry.add(
        "du",
        "Sums the bytes stored under a node (clip frames x frame size): each child, then the "
        "total.",
        "vantrel du '127.0.0.1:7549:/Volume 1/Commercial'");
    command->add_option("path", *path, "The node, SERVER:/display/path")->required();
    registry.setAction(command, [path](Tool& tool) { runDu(tool, *path); });
}

}  // namespace vantrel_tool
