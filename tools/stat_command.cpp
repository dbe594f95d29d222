// vantrel stat SERVER:/path: everything about one node.
#include "NodeFacts.h"
#include "ToolCommands.h"

namespace vantrel_tool {

void add_stat_command(CommandRegistry& registry) {
    auto path = std::make_shared<std::string>();
    CLI::App* command = registry.add(
        "stat", "Describes one node: id, type, children, clip format, frames, metadata.",
        "vantrel stat '127.0.0.1:7549:/Volume 1/Feature Film/Vault/Main/Reel 1/Opening'");
    command->add_option("path", *path, "The node, SERVER:/display/path")->required();
    registry.setAction(command, [path](Tool& tool) {
        const NodePath where = nodePathArgument(*path);
        VantrelNodeHandle node = tool.resolve(where);
        const NodeFacts facts = readNodeFacts(tool, node, where.text());
        int children = 0;
        tool.check(node.getNumChildren(children), node, "reading " + where.text());
        const nlohmann::json streams = readStreamNames(tool, node, where.text());
        nlohmann::json doc = toJson(facts);
        doc["path"] = where.text();
        doc["children"] = children;
        doc["metaDataStreams"] = streams;
        tool.print(doc, [&](std::ostream& out) {
            out << "Path:       " << where.text() << "\n"
                << "Name:       " << facts.name << "\n"
                << "Type:       " << facts.type << " (" << facts.typeNumber << ")\n"
                << "Id:         " << facts.id << "\n"
                << "Children:   " << children << "\n";
            if (facts.format) {
                out << "Format:     " << summary(*facts.format) << "\n"
                    << "Frame size: " << facts.format->frameBufferSize() << " bytes, "
                    << VantrelClipFormat::scanFormatStr(facts.format->scanFormat())
                    << ", pixel ratio " << facts.format->pixelRatio() << "\n"
                    << "Format data: " << facts.format->metaDataTag() << ": "
                    << facts.format->metaData() << "\n"
                    << "Frames:     " << facts.frames << "\n";
            }
            out << "Metadata:   ";
            for (size_t i = 0; i < streams.size(); ++i)
                out << (i ? ", " : "") << streams[i].get<std::string>();
            out << (streams.empty() ? "none\n" : "\n");
        });
    });
}

}  // namespace vantrel_tool
