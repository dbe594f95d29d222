#include "vantrel/server/ServerSettings.h"

#include <fstream>
#include <sstream>

#include "loggerBase/CoMsg.h"
#include "osal/CoConfigFile.h"
#include "vantrel/client/VantrelOS.h"
#include "vantrel/server/ServerError.h"

namespace vantreld {

namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = (a[i] >= 'A' && a[i] <= 'Z') ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        const char y = (b[i] >= 'A' && b[i] <= 'Z') ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
}

bool matches(const std::string& pattern, const std::string& value) {
    return pattern == "*" || sameIgnoringCase(pattern, value);
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string value(const Vantrel::CoConfigFileReader& config, const std::string& section,
                  const char* key, const char* defaultValue = "") {
    std::string text;
    config.get(section, key, text, defaultValue);
    return text;
}

std::string numbered(const char* kind, size_t index) {
    return std::string(kind) + " " + std::to_string(index);
}

void apply(const Vantrel::CoConfigFileReader& config, ServerSettings& settings) {
    for (const std::string& warning : config.warnings()) CO_MSG_WARNING("%s", warning.c_str());
    settings.displayName = value(config, "Server", "DisplayName", settings.displayName.c_str());
    settings.database = value(config, "Server", "Database", settings.database.c_str());
    unsigned int readAheads = static_cast<unsigned int>(settings.readAheads);
    config.get("Server", "ReadAheads", readAheads, readAheads);
    settings.readAheads = static_cast<int>(readAheads);

    config.get("SelfDiscovery", "Port", settings.discoveryPort, settings.discoveryPort);
    settings.discoveryScope =
        value(config, "SelfDiscovery", "Scope", settings.discoveryScope.c_str());
    config.get("SelfDiscovery", "TTL", settings.discoveryTTL, settings.discoveryTTL);
    config.get("SelfDiscovery", "ResyncTime", settings.resyncSeconds, settings.resyncSeconds);

    for (size_t i = 0; config.hasSection(numbered("HostTranslation", i)); ++i) {
        const std::string s = numbered("HostTranslation", i);
        settings.hostTranslations.push_back(
            {value(config, s, "SrcHost"), value(config, s, "SrcPath"), value(config, s, "DstHost"),
             value(config, s, "DstPath")});
    }
    for (size_t i = 0; config.hasSection(numbered("OsTypeTranslation", i)); ++i) {
        const std::string s = numbered("OsTypeTranslation", i);
        settings.osTypeTranslations.push_back(
            {value(config, s, "SrcType"), value(config, s, "SrcPath"), value(config, s, "DstType"),
             value(config, s, "DstPath")});
    }
    for (size_t i = 0; config.hasSection(numbered("TranslationGroup", i)); ++i) {
        const std::string s = numbered("TranslationGroup", i);
        TranslationGroup group;
        group.name = value(config, s, "Name");
        unsigned int number = 0;
        config.get(s, "Number", number, 0);
        group.number = static_cast<int>(number);
        config.getList(s, "Hosts", group.hosts);
        settings.translationGroups.push_back(group);
    }
}

// The rest of a path, its separators made those of the destination system.
std::string convertSeparators(std::string rest, int dstType) {
    const bool windows = dstType == VantrelOS::WindowsNT;
    for (char& c : rest)
        if (c == '/' || c == '\\') c = windows ? '\\' : '/';
    return rest;
}

}  // namespace

void ServerSettings::readFile(const std::string& path) {
    Vantrel::CoConfigFileReader config;
    if (!config.readFile(path)) throw ServerError("Cannot read configuration file '" + path + "'");
    apply(config, *this);
}

void ServerSettings::readText(const std::string& text) {
    Vantrel::CoConfigFileReader config;
    std::istringstream input(text);
    config.read(input, "configuration text");
    apply(config, *this);
}

std::string ServerSettings::translatePath(const std::string& path, const std::string& srcHost,
                                          int srcType, const std::string& dstHost,
                                          int dstType) const {
    for (const HostTranslation& rule : hostTranslations)
        if (matches(rule.srcHost, srcHost) && matches(rule.dstHost, dstHost) &&
            startsWith(path, rule.srcPath))
            return rule.dstPath + path.substr(rule.srcPath.size());
    const std::string srcName = VantrelOS::OsTypeStr(static_cast<VantrelOS::OsType>(srcType));
    const std::string dstName = VantrelOS::OsTypeStr(static_cast<VantrelOS::OsType>(dstType));
    for (const OsTypeTranslation& rule : osTypeTranslations)
        if (matches(rule.srcType, srcName) && matches(rule.dstType, dstName) &&
            startsWith(path, rule.srcPath))
            return rule.dstPath + convertSeparators(path.substr(rule.srcPath.size()), dstType);
    return path;
}

}  // namespace vantreld
