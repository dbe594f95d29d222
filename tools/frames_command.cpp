// vantrel frames SERVER:/path/clip: the frame ids of a clip and the files they are linked to.
#include "ToolCommands.h"

namespace vantrel_tool {

void add_frames_command(CommandRegistry& registry) {
    auto path = std::make_shared<std::string>();
    CLI::App* command = registry.add(
        "frames", "Lists the frames of a clip: index, frame id, linked file path.",
        "vantrel frames '127.0.0.1:7549:/Volume 1/Feature Film/Vault/Main/Reel 1/Opening'");
    command->add_option("path", *path, "The clip, SERVER:/display/path")->required();
    registry.setAction(command, [path](Tool& tool) {
        const NodePath where = nodePathArgument(*path);
        VantrelNodeHandle node = tool.resolve(where);
        const std::string what = "reading the frames of " + where.text();
        bool clip = false;
        tool.check(node.getIsClipNode(clip), node, what);
        if (!clip) throw ToolFailure(EXIT_SERVER_ERROR, where.text() + " is no clip");
        int count = 0;
        tool.check(node.getNumFrames(count), node, what);
        nlohmann::json frames = nlohmann::json::array();
        for (int i = 0; i < count; ++i) {
            VantrelStr id, file;
            tool.check(node.getFrameId(i, id) && node.getFrameIdPath(i, file), node, what);
            frames.push_back({{"index", i}, {"id", id.c_str()}, {"path", file.c_str()}});
        }
        tool.print({{"path", where.text()}, {"frames", frames}}, [&](std::ostream& out) {
            for (const nlohmann::json& f : frames) {
                out << f["index"].get<int>() << "\t" << f["id"].get<std::string>();
                if (!f["path"].get<std::string>().empty())
                    out << "\t" << f["path"].get<std::string>();
                out << "\n";
            }
        });
    });
}

}  // namespace vantrel_tool
