#include "vantrel/server/ServerSettings.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "vantrel/CoMsg.h"
#include "osal/CoConfigFile.h"
#include "vantrel/VantrelOS.h"
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

bool isWholeNumber(const std::string& text) {
    return !text.empty() && text.size() <= 19 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// The keys of each section kind, and which of them take a whole number.
struct SectionKeys {
    const char* kind;
    bool numbered;
    std::vector<const char*> keys;
    std::vector<const char*> numbers;
};

const SectionKeys SECTIONS[] = {
    {"Server", false, {"DisplayName", "Database", "ReadAheads"}, {"ReadAheads"}},
    {"Limits", false,
     {"MaxNodes", "MaxFramesPerNode", "MaxFramesPerServer", "MaxMetadataBytesPerNode",
      "MaxMetadataBytesPerServer"},
     {"MaxNodes", "MaxFramesPerNode", "MaxFramesPerServer", "MaxMetadataBytesPerNode",
      "MaxMetadataBytesPerServer"}},
    {"SelfDiscovery", false, {"Port", "Scope", "TTL", "ResyncTime"}, {"Port", "TTL", "ResyncTime"}},
    {"HostTranslation", true, {"SrcHost", "SrcPath", "DstHost", "DstPath"}, {}},
    {"OsTypeTranslation", true, {"SrcType", "SrcPath", "DstType", "DstPath"}, {}},
    {"TranslationGroup", true, {"Name", "Number", "Hosts"}, {"Number"}},
    // Read by the frame server (FrameServer::readRedirects).
    {"FrameRedirect", true, {"Frames", "Address", "NodePort", "FramePort"}, {"NodePort", "FramePort"}},
};

bool listed(const std::vector<const char*>& names, const std::string& name) {
    for (const char* candidate : names)
        if (name == candidate) return true;
    return false;
}

const SectionKeys* sectionKeys(const std::string& section) {
    for (const SectionKeys& keys : SECTIONS) {
        const std::string kind = keys.kind;
        if (!keys.numbered && section == kind) return &keys;
        if (keys.numbered && section.size() > kind.size() + 1 && startsWith(section, kind + " ") &&
            isWholeNumber(section.substr(kind.size() + 1)))
            return &keys;
    }
    return nullptr;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Warnings for the lines the settings cannot use: sections and keys this server does not
// know, numbers that are not numbers. The syntax itself is the reader's to check.
std::vector<std::string> unusableLines(std::istream& input, const std::string& source) {
    std::vector<std::string> warnings;
    std::string line, section;
    const SectionKeys* keys = nullptr;
    for (long long number = 1; std::getline(input, line); ++number) {
        const std::string where = source + ":" + std::to_string(number) + ": ";
        line = trimmed(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            section = line.size() >= 2 ? line.substr(1, line.size() - 2) : std::string();
            keys = sectionKeys(section);
            if (keys == nullptr) warnings.push_back(where + "unknown section [" + section + "]");
            continue;
        }
        const size_t equals = line.find('=');
        if (keys == nullptr || equals == std::string::npos) continue;
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        if (!listed(keys->keys, key))
            warnings.push_back(where + "unknown key '" + key + "' in [" + section + "]");
        else if (listed(keys->numbers, key) && !isWholeNumber(value))
            warnings.push_back(where + "'" + key + "' needs a whole number, not '" + value +
                               "'; the line is ignored");
    }
    return warnings;
}

uint64_t limit(const Vantrel::CoConfigFileReader& config, const char* key, uint64_t fallback) {
    std::string text;
    config.get("Limits", key, text, "");
    return isWholeNumber(text) ? std::strtoull(text.c_str(), nullptr, 10) : fallback;
}

void applyLimits(const Vantrel::CoConfigFileReader& config, StoreLimits& limits) {
    limits.maxNodes = limit(config, "MaxNodes", limits.maxNodes);
    limits.maxFramesPerNode = limit(config, "MaxFramesPerNode", limits.maxFramesPerNode);
    limits.maxFramesPerServer = limit(config, "MaxFramesPerServer", limits.maxFramesPerServer);
    limits.maxMetadataBytesPerNode =
        limit(config, "MaxMetadataBytesPerNode", limits.maxMetadataBytesPerNode);
    limits.maxMetadataBytesPerServer =
        limit(config, "MaxMetadataBytesPerServer", limits.maxMetadataBytesPerServer);
}

void apply(const Vantrel::CoConfigFileReader& config, ServerSettings& settings) {
    settings.warnings.insert(settings.warnings.end(), config.warnings().begin(),
                             config.warnings().end());
    for (const std::string& warning : settings.warnings) CO_MSG_WARNING("%s", warning.c_str());
    applyLimits(config, settings.limits);
    std::string readAheadsText;
    config.get("Server", "ReadAheads", readAheadsText, "");
    settings.displayName = value(config, "Server", "DisplayName", settings.displayName.c_str());
    settings.database = value(config, "Server", "Database", settings.database.c_str());
    if (isWholeNumber(readAheadsText) && readAheadsText.size() < 10)
        settings.readAheads = std::atoi(readAheadsText.c_str());

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
        const std::string number = value(config, s, "Number");
        group.number = isWholeNumber(number) && number.size() < 10 ? std::atoi(number.c_str()) : 0;
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
    std::ifstream file(path);
    Vantrel::CoConfigFileReader config;
    if (!file || !config.readFile(path))
        throw ServerError("Cannot read configuration file '" + path + "'");
    warnings = unusableLines(file, path);
    apply(config, *this);
}

void ServerSettings::readText(const std::string& text) {
    Vantrel::CoConfigFileReader config;
    std::istringstream input(text);
    config.read(input, "configuration text");
    std::istringstream again(text);
    warnings = unusableLines(again, "configuration text");
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
