// vantrel servers [--database DB]: the servers that discovery finds.
#include <chrono>
#include <iomanip>
#include <thread>

#include "ToolCommands.h"

namespace vantrel_tool {

namespace {

nlohmann::json serverJson(const VantrelServerInfo& info) {
    const VantrelServerId id = info.getId();
    // ADDRESS:PORT ([ADDRESS]:PORT for IPv6), the id that connects to it directly.
    return {{"server", VantrelServerId(id.getPort(), id.getIPAddr()).getId()},
            {"displayName", info.getDisplayName()},
            {"hostname", info.getHostname()},
            {"address", id.getIPAddr()},
            {"port", id.getPort()},
            {"database", info.getDatabase()},
            {"storageId", info.getStorageId()},
            {"product", info.getProduct()},
            {"productVersion", info.getProductVersionStr()}};
}

void printServers(std::ostream& out, const nlohmann::json& servers) {
    if (servers.empty()) {
        out << "No servers found.\n";
        return;
    }
    out << std::left << std::setw(24) << "SERVER" << std::setw(20) << "NAME" << std::setw(12)
        << "DATABASE" << "STORAGE ID\n";
    for (const nlohmann::json& s : servers)
        out << std::setw(24) << s["server"].get<std::string>() << std::setw(20)
            << s["displayName"].get<std::string>() << std::setw(12)
            << s["database"].get<std::string>() << s["storageId"].get<std::string>() << "\n";
}

}  // namespace

struct ServersOptions {
    std::string database;
    double waitSeconds = 1.0;
};

void add_servers_command(CommandRegistry& registry) {
    auto o = std::make_shared<ServersOptions>();
    CLI::App* command = registry.add(
        "servers", "Lists the servers that answer discovery on the network.",
        "vantrel servers --database QLXFS");
    command->add_option("--database", o->database, "Only the servers of this database");
    command->add_option("--wait", o->waitSeconds, "Seconds to listen for more answers")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 3600.0));
    registry.setAction(command, [o](Tool& tool) {
        tool.startLibrary();
        VantrelServerList list(o->database.c_str());
        int count = 0;
        // The first search ends with the first answer (and the servers that one knows of);
        // the others answer a second search while discovery keeps listening.
        bool ok = list.getNumNodes(count);
        if (ok && o->waitSeconds > 0) {
            ok = list.refresh();
            std::this_thread::sleep_for(std::chrono::duration<double>(o->waitSeconds));
            ok = ok && list.getNumNodes(count);
        }
        if (!ok)
            throw ToolFailure(EXIT_UNREACHABLE,
                              std::string("searching for servers: ") + list.lastError());
        nlohmann::json servers = nlohmann::json::array();
        for (int i = 0; i < count; ++i) {
            VantrelServerInfo info;
            if (list.getNode(i, info)) servers.push_back(serverJson(info));
        }
        tool.print({{"servers", servers}}, [&](std::ostream& out) { printServers(out, servers); });
    });
}

}  // namespace vantrel_tool
