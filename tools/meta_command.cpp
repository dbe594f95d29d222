// vantrel meta ls|get|set: the metadata streams of a node.
#include <fstream>
#include <iostream>
#include <iterator>

#include "NodeFacts.h"
#include "ToolCommands.h"

namespace vantrel_tool {

namespace {

struct MetaOptions {
    std::string path;
    std::string stream;
    std::string file = "-";
    std::string filter;
    int depth = 0;
};

// What `file` holds ("-": standard input); wrong usage when it cannot be read or holds a
// byte a metadata text cannot carry.
std::string readInput(const std::string& file) {
    std::string data;
    if (file == "-") {
        data.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) usageError("cannot read '" + file + "'");
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) usageError("cannot read '" + file + "'");
    }
    if (data.find('\0') != std::string::npos)
        usageError("'" + file + "' holds a NUL byte, which metadata texts cannot carry");
    return data;
}

void addLs(CommandRegistry& registry, CLI::App* meta) {
    auto o = std::make_shared<MetaOptions>();
    CLI::App* command = meta->add_subcommand("ls", "Lists the metadata streams of a node.");
    command->footer("Example:\n  vantrel meta ls '127.0.0.1:7549:/Volume 1/Feature Film/Vault/Main/Reel 1/Opening'");
    command->fallthrough();
    command->add_option("path", o->path, "The node, SERVER:/display/path")->required();
    registry.setAction(command, [o](Tool& tool) {
        const NodePath where = nodePathArgument(o->path);
        VantrelNodeHandle node = tool.resolve(where);
        const nlohmann::json streams = readStreamNames(tool, node, where.text());
        tool.print({{"path", where.text()}, {"streams", streams}}, [&](std::ostream& out) {
            for (const nlohmann::json& name : streams) out << name.get<std::string>() << "\n";
        });
    });
}

void addGet(CommandRegistry& registry, CLI::App* meta) {
    auto o = std::make_shared<MetaOptions>();
    CLI::App* command = meta->add_subcommand("get", "Prints one metadata stream of a node.");
    command->footer("Example:\n  vantrel meta get '127.0.0.1:7549:/Volume 1/Feature Film/Vault/Main/Reel 1/Opening' comments");
    command->fallthrough();
    command->add_option("path", o->path, "The node, SERVER:/display/path")->required();
    command->add_option("stream", o->stream, "The stream's name")->required();
    command->add_option("--filter", o->filter, "A selection of the stream, for servers that can");
    command->add_option("--depth", o->depth, "Levels below the selection, for servers that can");
    registry.setAction(command, [o](Tool& tool) {
        const NodePath where = nodePathArgument(o->path);
        VantrelNodeHandle node = tool.resolve(where);
        bool available = false;
        const std::string what = "reading '" + o->stream + "' of " + where.text();
        tool.check(node.getIsMetaDataStreamAvailable(o->stream.c_str(), available), node, what);
        if (!available)
            throw ToolFailure(EXIT_SERVER_ERROR,
                              where.text() + " has no metadata stream '" + o->stream + "'");
        VantrelStr data;
        tool.check(node.getMetaData(o->stream.c_str(), o->filter.empty() ? nullptr : o->filter.c_str(),
                                    o->depth, data),
                   node, what);
        const nlohmann::json doc = {{"path", where.text()}, {"stream", o->stream},
                                    {"data", data.c_str()}};
        tool.print(doc, [&](std::ostream& out) {
            // Byte for byte into a pipe or file (`meta get | meta set` copies a stream); a
            // terminal gets its prompt back on a line of its own.
            const std::string text = data.c_str();
            const bool endLine = standardOutputIsTerminal() && (text.empty() || text.back() != '\n');
            out << text << (endLine ? "\n" : "");
        });
    });
}

void addSet(CommandRegistry& registry, CLI::App* meta) {
    auto o = std::make_shared<MetaOptions>();
    CLI::App* command = meta->add_subcommand(
        "set", "Sets one metadata stream of a node from a file or standard input.");
    command->footer("Example:\n  echo 'graded' | vantrel meta set '127.0.0.1:7549:/Volume 1/Feature Film/Vault/Main/Reel 1/Opening' comments -");
    command->fallthrough();
    command->add_option("path", o->path, "The node, SERVER:/display/path")->required();
    command->add_option("stream", o->stream, "The stream's name")->required();
    command->add_option("file", o->file, "The file that holds the contents (-: standard input)")
        ->capture_default_str();
    registry.setAction(command, [o](Tool& tool) {
        const NodePath where = nodePathArgument(o->path);
        const std::string data = readInput(o->file);
        VantrelNodeHandle node = tool.resolve(where);
        tool.check(node.setMetaData(o->stream.c_str(), data.c_str()), node,
                   "writing '" + o->stream + "' of " + where.text());
        const nlohmann::json doc = {{"path", where.text()}, {"stream", o->stream},
                                    {"bytes", data.size()}};
        tool.print(doc, [&](std::ostream& out) {
            out << "Wrote " << data.size() << " bytes to '" << o->stream << "' of " << where.text()
                << "\n";
        });
    });
}

}  // namespace

void add_meta_command(CommandRegistry& registry) {
    CLI::App* meta = registry.add("meta", "Lists, reads and writes the metadata streams of a node.",
                                  "vantrel meta ls '127.0.0.1:7549:/Volume 1/Feature Film/Vault/"
                                  "Main/Reel 1/Opening'");
    meta->require_subcommand(1);
    addLs(registry, meta);
    addGet(registry, meta);
    addSet(registry, meta);
}

}  // namespace vantrel_tool
