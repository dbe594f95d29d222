// vantrel info SERVER: the server's record, its versions and its translation tables.
#include "ToolCommands.h"

namespace vantrel_tool {

namespace {

std::string version(int major, int minor, int maint) {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(maint);
}

nlohmann::json recordJson(const std::string& id, const VantrelServerInfo& info) {
    return {{"server", id},
            {"displayName", info.getDisplayName()},
            {"hostname", info.getHostname()},
            {"hostUUID", info.getHostUUID()},
            {"vendor", info.getVendor()},
            {"product", info.getProduct()},
            {"productVersion", info.getProductVersionStr()},
            {"productBuild", info.getProductBuild()},
            {"protocolVersion",
             version(info.getVersionMajor(), info.getVersionMinor(), info.getVersionMaint())},
            {"database", info.getDatabase()},
            {"storageId", info.getStorageId()}};
}

// Rows `0` to count - 1 of one of the server's translation tables, as JSON.
template <typename Row>
nlohmann::json readTable(Tool& tool, VantrelServerHandle& server, const std::string& what,
                         bool (VantrelServerHandle::*count)(int&),
                         bool (VantrelServerHandle::*get)(int, Row&),
                         nlohmann::json (*toJson)(const Row&)) {
    nlohmann::json rows = nlohmann::json::array();
    int rowCount = 0;
    tool.check((server.*count)(rowCount), server, "reading the " + what);
    for (int i = 0; i < rowCount; ++i) {
        Row row;
        tool.check((server.*get)(i, row), server, "reading the " + what);
        rows.push_back(toJson(row));
    }
    return rows;
}

nlohmann::json hostRule(const VantrelServerHandle::HostTranslation& t) {
    return {{"srcHost", t.srcHost.c_str()}, {"srcPath", t.srcPath.c_str()},
            {"dstHost", t.dstHost.c_str()}, {"dstPath", t.dstPath.c_str()}};
}

nlohmann::json osTypeRule(const VantrelServerHandle::OsTypeTranslation& t) {
    return {{"srcType", t.srcType.c_str()}, {"srcPath", t.srcPath.c_str()},
            {"dstType", t.dstType.c_str()}, {"dstPath", t.dstPath.c_str()}};
}

nlohmann::json group(const VantrelServerHandle::TranslationGroup& g) {
    nlohmann::json hosts = nlohmann::json::array();
    for (unsigned h = 0; h < g.entries.size(); ++h) hosts.push_back(g.entries[h]);
    return {{"name", g.name.c_str()}, {"number", g.number}, {"hosts", hosts}};
}

// The record's fields in the order people read them, one per line.
void printRecord(std::ostream& out, const nlohmann::json& doc) {
    const char* const order[][2] = {
        {"server", "Server"},       {"displayName", "Name"},
        {"hostname", "Host"},       {"hostUUID", "Host UUID"},
        {"vendor", "Vendor"},       {"product", "Product"},
        {"productVersion", "Version"}, {"protocolVersion", "Protocol"},
        {"database", "Database"},   {"storageId", "Storage id"}};
    for (const auto& field : order)
        out << std::string(field[1]) + ":" << std::string(12 - std::string(field[1]).size(), ' ')
            << doc[field[0]].get<std::string>() << "\n";
}

// "Host translations:" and one "  SRC:PATH -> DST:PATH" line per rule (`kind` "Host" or
// "Type").
void printRules(std::ostream& out, const std::string& title, const nlohmann::json& rules,
                const std::string& kind) {
    out << title << ":" << (rules.empty() ? " none\n" : "\n");
    for (const nlohmann::json& t : rules)
        out << "  " << t["src" + kind].get<std::string>() << ":" << t["srcPath"].get<std::string>()
            << " -> " << t["dst" + kind].get<std::string>() << ":"
            << t["dstPath"].get<std::string>() << "\n";
}

void printTables(std::ostream& out, const nlohmann::json& doc) {
    printRules(out, "Host translations", doc["hostTranslations"], "Host");
    printRules(out, "OS translations", doc["osTypeTranslations"], "Type");
    out << "Translation groups:" << (doc["translationGroups"].empty() ? " none\n" : "\n");
    for (const nlohmann::json& g : doc["translationGroups"]) {
        out << "  " << g["name"].get<std::string>() << " (" << g["number"].get<int>() << "):";
        for (const nlohmann::json& host : g["hosts"]) out << " " << host.get<std::string>();
        out << "\n";
    }
}

}  // namespace

void add_info_command(CommandRegistry& registry) {
    auto server = std::make_shared<std::string>();
    CLI::App* command =
        registry.add("info", "Shows a server's record, versions and translation tables.",
                     "vantrel info 127.0.0.1:7549");
    command->add_option("server", *server, "The server (SERVER or SERVER:)")->required();
    registry.setAction(command, [server](Tool& tool) {
        const std::string id = serverArgument(*server);
        VantrelServerHandle& handle = tool.server(id);
        VantrelServerInfo info;
        tool.check(handle.getInfo(info), handle, "reading the record of " + id);
        nlohmann::json doc = recordJson(id, info);
        doc["hostTranslations"] =
            readTable(tool, handle, "host translations", &VantrelServerHandle::getNumHostTranslations,
                      &VantrelServerHandle::getHostTranslation, &hostRule);
        doc["osTypeTranslations"] = readTable(
            tool, handle, "OS translations", &VantrelServerHandle::getNumOsTypeTranslations,
            &VantrelServerHandle::getOsTypeTranslation, &osTypeRule);
        doc["translationGroups"] = readTable(
            tool, handle, "translation groups", &VantrelServerHandle::getNumTranslationGroups,
            &VantrelServerHandle::getTranslationGroup, &group);
        tool.print(doc, [&](std::ostream& out) {
            printRecord(out, doc);
            printTables(out, doc);
        });
    });
}

}  // namespace vantrel_tool
