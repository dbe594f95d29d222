#include "vantrel/client/connection/VantrelDaemonInfo.h"

#include <cstdio>
#include <string>

#include "vantrel/CoMsg.h"
#include "osal/CoTime.h"
#include "tcp/CoIoTcpDescriptor.h"
#include "vantrel/client/connection/VantrelLocalHostProvider.h"

using Vantrel::rcAttrStream;

namespace {

const char IP_KEY[] = "IP";
const char FRAME_IP_KEY[] = "FrameIP";
const char OLD_HOST_NAME_KEY[] = "Hostname";  // metadata address 0, for old peers
const char UNKNOWN_PRODUCT[] = "unknown";

std::string indexedKey(const char* prefix, int index) { return prefix + std::to_string(index); }

// Stores the value of `name` into `target` when the key is present.
bool readText(const rcAttrStream& stream, const char* name, VantrelStr& target) {
    std::string value;
    if (!stream.getStringValue(name, value)) return false;
    target = value.c_str();
    return true;
}

// The value of `name`, or `fallback` when the key is missing.
std::string textOr(const rcAttrStream& stream, const char* name, const char* fallback) {
    std::string value;
    return stream.getStringValue(name, value) ? value : std::string(fallback);
}

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The numeric address of a host name (one that begins with a letter); the text itself for a
// numeric address or a name that does not resolve.
std::string numericAddressOf(const char* address) {
    std::string numeric;
    if (isAsciiLetter(address[0]) && Vantrel::CoIoTcpDescriptor::getIpAddrFromHostName(address, numeric))
        return numeric;
    return address;
}

bool readLocalHostUUID(std::string& uuid) {
    return VantrelLocalHostProvider::current().hostUUID(uuid) && !uuid.empty();
}

}  // namespace

VantrelDaemonInfo::VantrelDaemonInfo()
    : versionMajor_(2015), versionBuild_(5858), lastSeen_(Vantrel::CoTime::getTime()) {}

VantrelDaemonInfo::VantrelDaemonInfo(const rcAttrStream& stream) : lastSeen_(Vantrel::CoTime::getTime()) {
    decodeAddressesAndNames(stream);
    decodeNumbers(stream);
    decodeProduct(stream);
    // Servers before protocol version 3 sent no meaningful storage id.
    if (versionMajor_ >= 3) readText(stream, "StorageId", storageId_);
    readText(stream, "HostUUID", hostUUID_);
}

VantrelDaemonInfo::~VantrelDaemonInfo() = default;

void VantrelDaemonInfo::decodeAddressesAndNames(const rcAttrStream& stream) {
    // Each list is read up to its first missing key or empty value: the lists are dense, and
    // an address after an empty one could never be used. True when it holds an address.
    auto readList = [&stream](const char* prefix, AddressList& list) {
        for (int i = 0; i < MAX_IPS; ++i)
            if (!readText(stream, indexedKey(prefix, i).c_str(), list[i]) || list[i].isEmpty())
                break;
        return countAddresses(list) > 0;
    };
    const std::string oldHostName = textOr(stream, OLD_HOST_NAME_KEY, "");
    if (!readList(IP_KEY, ipAddrs_)) ipAddrs_[0] = oldHostName.c_str();
    hostName_ = textOr(stream, "HostName", oldHostName.c_str()).c_str();
    if (!readList(FRAME_IP_KEY, frameIpAddrs_)) frameIpAddrs_[0] = ipAddrs_[0];
    displayName_ = textOr(stream, "DisplayName", hostName_).c_str();
    osType_ = VantrelOS::strToOsType(textOr(stream, "OSType", VantrelOS::OS_TYPE_UNKNOWN_STR()).c_str());
    readText(stream, "Database", database_);
}

void VantrelDaemonInfo::decodeNumbers(const rcAttrStream& stream) {
    stream.getIntValue("NodePort", nodePort_);
    stream.getIntValue("FramePort", framePort_);
    stream.getIntValue("VersionMajor", versionMajor_);
    stream.getIntValue("VersionMinor", versionMinor_);
    stream.getIntValue("VersionMaint", versionMaint_);
    stream.getIntValue("VersionBuild", versionBuild_);
    stream.getIntValue("ProductVersionMajor", productVersionMajor_);
    stream.getIntValue("ProductVersionMinor", productVersionMinor_);
    stream.getIntValue("ProductVersionMaint", productVersionMaint_);
    stream.getIntValue("ProductBuild", productBuild_);
}

void VantrelDaemonInfo::decodeProduct(const rcAttrStream& stream) {
    product_ = textOr(stream, "Product", UNKNOWN_PRODUCT).c_str();
    vendor_ = textOr(stream, "Vendor", UNKNOWN_PRODUCT).c_str();
    if (!readText(stream, "ProductVersionStr", productVersionStr_)) {
        char text[128];
        std::snprintf(text, sizeof text, "%d.%d.%d", productVersionMajor_, productVersionMinor_,
                      productVersionMaint_);
        productVersionStr_ = text;
    }
}

rcAttrStream VantrelDaemonInfo::toAttrStream() const {
    rcAttrStream stream;
    auto writeList = [&stream](const char* prefix, const AddressList& list) {
        for (int i = 0; i < countAddresses(list); ++i)
            stream.addStringValue(indexedKey(prefix, i).c_str(), list[i]);
    };
    writeList(IP_KEY, ipAddrs_);
    writeList(FRAME_IP_KEY, frameIpAddrs_);
    stream.addStringValue(OLD_HOST_NAME_KEY, ipAddrs_[0]);
    stream.addStringValue("HostName", hostName_);
    stream.addStringValue("DisplayName", displayName_);
    stream.addStringValue("OSType", VantrelOS::OsTypeStr(getOSType()));
    stream.addStringValue("Database", database_);
    stream.addIntValue("NodePort", nodePort_);
    stream.addIntValue("FramePort", framePort_);
    stream.addIntValue("VersionMajor", versionMajor_);
    stream.addIntValue("VersionMinor", versionMinor_);
    stream.addIntValue("VersionMaint", versionMaint_);
    stream.addIntValue("VersionBuild", versionBuild_);
    stream.addStringValue("Product", product_);
    stream.addStringValue("Vendor", vendor_);
    stream.addIntValue("ProductVersionMajor", productVersionMajor_);
    stream.addIntValue("ProductVersionMinor", productVersionMinor_);
    stream.addIntValue("ProductVersionMaint", productVersionMaint_);
    stream.addStringValue("ProductVersionStr", productVersionStr_);
    stream.addIntValue("ProductBuild", productBuild_);
    stream.addStringValue("StorageId", storageId_);
    stream.addStringValue("HostUUID", hostUUID_);
    return stream;
}

const char* VantrelDaemonInfo::getAddress(const AddressList& list, int index) {
    return (index >= 0 && index < MAX_IPS) ? list[index].c_str() : "";
}

void VantrelDaemonInfo::setAddress(AddressList& list, int index, const char* address) {
    if (index < 0 || index >= MAX_IPS) {
        CO_MSG_WARNING("Exceding maximum number of IPs allowed, ignoring %s", address != nullptr ? address : "");
        return;
    }
    list[index] = address;
}

int VantrelDaemonInfo::countAddresses(const AddressList& list) {
    int count = 0;
    while (count < MAX_IPS && !list[count].isEmpty()) ++count;
    return count;
}

const char* VantrelDaemonInfo::getIPAddr(int index) const { return getAddress(ipAddrs_, index); }
void VantrelDaemonInfo::setIPAddr(int index, const char* address) { setAddress(ipAddrs_, index, address); }
const char* VantrelDaemonInfo::getFrameIPAddr(int index) const { return getAddress(frameIpAddrs_, index); }
void VantrelDaemonInfo::setFrameIPAddr(int index, const char* address) {
    setAddress(frameIpAddrs_, index, address);
}
int VantrelDaemonInfo::getNumIPAddrs() const { return countAddresses(ipAddrs_); }
int VantrelDaemonInfo::getNumFrameIPAddrs() const { return countAddresses(frameIpAddrs_); }

void VantrelDaemonInfo::setVersion(int major, int minor, int maint, int build) {
    versionMajor_ = major;
    versionMinor_ = minor;
    versionMaint_ = maint;
    versionBuild_ = build;
}

bool VantrelDaemonInfo::isSameServer(const VantrelServerId& id) const {
    if (id.getStorageId()[0] != '\0') return storageId_ == id.getStorageId();
    if (id.getPort() != 0 && id.getPort() != nodePort_) return false;
    if (id.getDB()[0] != '\0' && database_ != id.getDB()) return false;
    return matchesAddress(id.getIPAddr(), VantrelOS::isLoopBackIP);
}

bool VantrelDaemonInfo::isSameServer(const VantrelDaemonInfo& other) const {
    if (!storageId_.isEmpty() || !other.storageId_.isEmpty()) return storageId_ == other.storageId_;
    if (database_ != other.database_) return false;
    if (!hostUUID_.isEmpty() || !other.hostUUID_.isEmpty()) return hostUUID_ == other.hostUUID_;
    for (const AddressList* list : {&other.ipAddrs_, &other.frameIpAddrs_})
        for (int i = 0; i < countAddresses(*list); ++i)
            if (matchesAddress((*list)[i], VantrelOS::isLocalIP)) return true;
    return false;
}

bool VantrelDaemonInfo::isLocal() const {
    std::string localUUID;
    if (!hostUUID_.isEmpty() && readLocalHostUUID(localUUID)) return hostUUID_ == localUUID.c_str();
    return allIPAddrsLocal();
}

bool VantrelDaemonInfo::holdsAddress(const char* address) const {
    for (const AddressList* list : {&ipAddrs_, &frameIpAddrs_})
        for (int i = 0; i < countAddresses(*list); ++i)
            if ((*list)[i] == address) return true;
    return false;
}

bool VantrelDaemonInfo::matchesAddress(const char* address, bool (*onThisMachine)(const char*)) const {
    const std::string numeric = numericAddressOf(address);
    // The text as written counts too: a record seeded from a server id by host name holds
    // that name, and must still be found by the same id.
    if (holdsAddress(numeric.c_str()) || holdsAddress(address)) return true;
    if (!onThisMachine(numeric.c_str())) return false;
    return isLocal();
}

bool VantrelDaemonInfo::allIPAddrsLocal() const {
    for (int i = 0; i < countAddresses(ipAddrs_); ++i)
        if (!VantrelOS::isLocalIP(ipAddrs_[i])) return false;
    return true;
}

bool VantrelDaemonInfo::operator==(const VantrelDaemonInfo& other) const {
    for (int i = 0; i < MAX_IPS; ++i)
        if (ipAddrs_[i] != other.ipAddrs_[i] || frameIpAddrs_[i] != other.frameIpAddrs_[i]) return false;
    return hostName_ == other.hostName_ && displayName_ == other.displayName_ &&
           osType_ == other.osType_ && database_ == other.database_ && nodePort_ == other.nodePort_ &&
           framePort_ == other.framePort_ && versionMajor_ == other.versionMajor_ &&
           versionMinor_ == other.versionMinor_ && versionMaint_ == other.versionMaint_ &&
           versionBuild_ == other.versionBuild_ && product_ == other.product_ &&
           vendor_ == other.vendor_ && productVersionMajor_ == other.productVersionMajor_ &&
           productVersionMinor_ == other.productVersionMinor_ &&
           productVersionMaint_ == other.productVersionMaint_ && productBuild_ == other.productBuild_ &&
           productVersionStr_ == other.productVersionStr_ && storageId_ == other.storageId_ &&
           hostUUID_ == other.hostUUID_;
}

bool VantrelDaemonInfo::operator<(const VantrelDaemonInfo& other) const {
    if (displayName_ != other.displayName_) return displayName_ < other.displayName_;
    return database_ < other.database_;
}

VantrelDaemonInfoMgr::~VantrelDaemonInfoMgr() = default;
