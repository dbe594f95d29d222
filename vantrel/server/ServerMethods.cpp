#include "vantrel/server/ServerMethods.h"

#include "vantrel/protocol/VantrelServerListPayload.h"

#include <algorithm>

#include "rcApi/rcAttrStream.h"
#include "vantrel/VantrelOS.h"
#include "vantrel/server/NodeMethods.h"
#include "vantrel/server/NodeStore.h"
#include "vantrel/server/ServerError.h"
#include "vantrel/server/ServerSettings.h"
#include "vantrel/server/WireText.h"

namespace vantreld {

namespace {

// The quoted paths of "TranslatePaths": "P1","P2",... (each in double quotes, separated by
// commas; the paths themselves are not escaped).
std::vector<std::string> quotedPaths(const std::string& text) {
    std::vector<std::string> paths;
    if (text.empty()) return paths;
    if (text.size() < 2 || text.front() != '"' || text.back() != '"')
        throw ServerError("Malformed argument: paths must be quoted, not '" + text + "'");
    const std::string inner = text.substr(1, text.size() - 2);
    const std::string separator = "\",\"";
    size_t start = 0;
    for (size_t found; (found = inner.find(separator, start)) != std::string::npos;
         start = found + separator.size())
        paths.push_back(inner.substr(start, found - start));
    paths.push_back(inner.substr(start));
    return paths;
}

template <typename Item, typename Encode>
std::string table(const char* countKey, const std::vector<Item>& items, Encode encode) {
    AttrStreamWriter out;
    out.addInt(countKey, static_cast<long long>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) out.add(std::to_string(i), encode(items[i]));
    return out.take();
}

std::string fourStrings(const char* k1, const std::string& v1, const char* k2,
                        const std::string& v2, const char* k3, const std::string& v3,
                        const char* k4, const std::string& v4) {
    AttrStreamWriter out;
    out.add(k1, v1);
    out.add(k2, v2);
    out.add(k3, v3);
    out.add(k4, v4);
    return out.take();
}

}  // namespace

// --------------------------------------------------------------------------- ServerMethods

ServerMethods::ServerMethods(const NodeStore& store, const ServerSettings& settings,
                             const ProtocolVersion& version, std::function<void()> shutdown)
    : store_(store),
      settings_(settings),
      version_(version),
      shutdown_(std::move(shutdown)),
      nodePort_(0) {}

void ServerMethods::setEndpoint(const std::vector<std::string>& addresses, int nodePort,
                                int framePort) {
    addresses_ = addresses;
    if (addresses_.size() > static_cast<size_t>(VantrelDaemonInfo::MAX_IPS))
        addresses_.resize(VantrelDaemonInfo::MAX_IPS);
    nodePort_ = nodePort;
    framePort_ = framePort;
}

VantrelDaemonInfo ServerMethods::daemonInfo() const {
    VantrelDaemonInfo info;
    for (size_t i = 0; i < addresses_.size(); ++i) {
        info.setIPAddr(static_cast<int>(i), addresses_[i].c_str());
        info.setFrameIPAddr(static_cast<int>(i), addresses_[i].c_str());
    }
    const VantrelStr hostName = VantrelOS::getHostName();
    info.setHostName(hostName.c_str());
    info.setDisplayName(settings_.displayName.empty() ? hostName.c_str()
                                                      : settings_.displayName.c_str());
    info.setOSType(VantrelOS::getOSType());
    info.setDatabase(settings_.database.c_str());
    info.setNodePort(nodePort_);
    info.setFramePort(framePort_);
    info.setVersion(version_.major, version_.minor, version_.maint, version_.build);
    info.setProduct(NodeMethods::PRODUCT);
    info.setVendor(NodeMethods::VENDOR);
    info.setProductVersionMajor(NodeMethods::PRODUCT_MAJOR);
    info.setProductVersionMinor(NodeMethods::PRODUCT_MINOR);
    info.setProductVersionMaint(0);
    info.setProductBuild(1);
    info.setProductVersionStr("1.0.0");
    info.setStorageId(store_.storageId().c_str());
    info.setHostUUID(store_.hostUUID().c_str());
    return info;
}

std::string ServerMethods::daemonListStream(const std::vector<VantrelDaemonInfo>& servers) {
    std::vector<std::string> records;
    for (const VantrelDaemonInfo& server : servers)
        records.push_back(server.toAttrStream().getStreamStr());
    return VantrelServerListPayload::encode(records);
}

void ServerMethods::registerWith(MethodDispatcher& d) {
    d.add("Ping", [](const Request&) { return std::string(); });
    d.add("QueryVersion", [this](const Request&) {
        return std::to_string(version_.major) + " " + std::to_string(version_.minor);
    });
    d.add("GetDaemonInfo",
          [this](const Request&) { return daemonInfo().toAttrStream().getStreamStr(); });
    d.add("GetDaemonList", [this](const Request&) {
        return daemonListStream(knownServers_ ? knownServers_() : std::vector<VantrelDaemonInfo>{
                                                                      daemonInfo()});
    });
    d.add("Shutdown", [this](const Request& r) {
        if (!r.fromLoopback) throw ServerError("Shutdown is accepted from this host only");
        if (shutdown_) shutdown_();
        return std::string();
    });
    d.add("TranslatePaths", [this](const Request& r) { return translatePaths(r.args); });
    d.add("GetHostTranslations", [this](const Request&) { return hostTranslations(); });
    d.add("GetOsTypeTranslations", [this](const Request&) { return osTypeTranslations(); });
    d.add("GetTranslationGroups", [this](const Request&) { return translationGroups(); });
}

std::string ServerMethods::translatePaths(const std::string& args) const {
    const ArgumentWords words(args, 4);
    words.requireAtLeast(4);
    const int srcType = parseInt(words[1]);
    const int dstType = parseInt(words[3]);
    std::vector<std::string> paths = quotedPaths(words.rest());
    for (std::string& path : paths)
        path = settings_.translatePath(path, words[0], srcType, words[2], dstType);
    return joinComma(paths);
}

std::string ServerMethods::hostTranslations() const {
    return table("numHostTranslations", settings_.hostTranslations, [](const HostTranslation& t) {
        return fourStrings("srcHost", t.srcHost, "srcPath", t.srcPath, "dstHost", t.dstHost,
                           "dstPath", t.dstPath);
    });
}

std::string ServerMethods::osTypeTranslations() const {
    return table("numOsTypeTranslations", settings_.osTypeTranslations,
                 [](const OsTypeTranslation& t) {
                     return fourStrings("srcType", t.srcType, "srcPath", t.srcPath, "dstType",
                                        t.dstType, "dstPath", t.dstPath);
                 });
}

std::string ServerMethods::translationGroups() const {
    return table("numGroups", settings_.translationGroups, [](const TranslationGroup& group) {
        std::vector<std::string> items{group.name, std::to_string(group.number)};
        items.insert(items.end(), group.hosts.begin(), group.hosts.end());
        return joinComma(items);
    });
}

}  // namespace vantreld
