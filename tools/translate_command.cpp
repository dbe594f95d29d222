// vantrel translate SERVER PATH: a path as another host or operating system sees it, by the
// server's translation tables.
#include "ToolCommands.h"

namespace vantrel_tool {

namespace {

struct TranslateOptions {
    std::string server;
    std::string path;
    std::string fromHost;
    std::string toHost;
    std::string fromOs;
    std::string toOs;
};

VantrelOS::OsType osType(const std::string& text) {
    if (text.empty()) return VantrelOS::getOSType();
    const VantrelOS::OsType type = VantrelOS::strToOsType(text.c_str());
    if (type == VantrelOS::Unknown && text != VantrelOS::OS_TYPE_UNKNOWN_STR())
        usageError("unknown OS type '" + text + "' (Linux, WindowsNT, MacOSX, Irix)");
    return type;
}

const char* orNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

void add_translate_command(CommandRegistry& registry) {
    auto o = std::make_shared<TranslateOptions>();
    CLI::App* command = registry.add(
        "translate", "Translates a file path between hosts or OS types by the server's tables.",
        "vantrel translate 127.0.0.1:7549 /mnt/media/a.dpx --from-host alpha --to-host beta");
    command->add_option("server", o->server, "The server (SERVER or SERVER:)")->required();
    command->add_option("path", o->path, "The path to translate")->required();
    command->add_option("--from-host", o->fromHost, "Source host (default: the server's name)");
    command->add_option("--to-host", o->toHost, "Destination host (default: the server's host)");
    command->add_option("--from-os", o->fromOs, "Source OS type (default: this machine's)");
    command->add_option("--to-os", o->toOs, "Destination OS type (default: this machine's)");
    registry.setAction(command, [o](Tool& tool) {
        const std::string id = serverArgument(o->server);
        const VantrelOS::OsType from = osType(o->fromOs), to = osType(o->toOs);
        VantrelServerHandle& server = tool.server(id);
        VantrelStr out;
        tool.check(server.translatePath(o->path.c_str(), out, orNull(o->fromHost),
                                        orNull(o->toHost), from, to),
                   server, "translating '" + o->path + "'");
        const nlohmann::json doc = {{"server", id},
                                    {"path", o->path},
                                    {"translated", out.c_str()},
                                    {"fromHost", o->fromHost},
                                    {"toHost", o->toHost},
                                    {"fromOs", VantrelOS::OsTypeStr(from)},
                                    {"toOs", VantrelOS::OsTypeStr(to)}};
        tool.print(doc, [&](std::ostream& stream) { stream << out.c_str() << "\n"; });
    });
}

}  // namespace vantrel_tool
