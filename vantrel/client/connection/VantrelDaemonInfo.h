// VantrelDaemonInfo: what a server tells about itself, in its "GetDaemonInfo" reply and in
// its discovery announcements, and the rules that decide whether two descriptions, or a
// description and a server id, name the same server.
//
// Wire form: an attribute stream. Keys, in the order toAttrStream() writes them:
//   "IP0".."IP4"            metadata (node port) addresses, up to the first empty one
//   "FrameIP0".."FrameIP4"  data (frame port) addresses, up to the first empty one
//   "Hostname"              metadata address 0, for old peers (written even when empty)
//   "HostName" "DisplayName" "OSType" (Irix, Linux, WindowsNT, MacOSX, Unknown) "Database"
//   "NodePort" "FramePort" "VersionMajor" "VersionMinor" "VersionMaint" "VersionBuild" (ints)
//   "Product" "Vendor" "ProductVersionMajor" "ProductVersionMinor" "ProductVersionMaint"
//   (ints) "ProductVersionStr" "ProductBuild" (int) "StorageId" "HostUUID"
// The last-seen time is never sent.
//
// Address lists: at most MAX_IPS entries each, dense: the first empty entry ends a list. An
// index outside 0..MAX_IPS-1 reads as "" and is refused on writing (with a warning).
//
// The version fields are the server's protocol version (compared against thresholds by the
// node and frame clients); the product fields describe the product the server runs.
//
// Value: copyable and assignable member by member. Threads: no locks; one object is used by
// one thread at a time (or only read by several). The same-server rules and isLocal() ask
// the installed VantrelLocalHostProvider (this machine's addresses and UUID) and, for host
// names, the installed name resolver; both may be called from any thread.
#pragma once

#include <cstdint>

#include "rcApi/rcAttrStream.h"
#include "vantrel/VantrelOS.h"
#include "vantrel/VantrelServerId.h"
#include "vantrel/VantrelStr.h"

class VantrelDaemonInfo {
public:
    static constexpr int MAX_IPS = 5;

    // Empty texts and ports, OS type 0, protocol version 2015.0.0.5858, product version
    // 0.0.0 build 0; last seen = now.
    VantrelDaemonInfo();
    // Decodes a description. Never fails: each missing key leaves its default, which here is
    // 0 for every number (the protocol version too), "unknown" for product and vendor, and:
    //   - no non-empty "IP<i>": metadata address 0 = "Hostname";
    //   - host name = "HostName", else "Hostname"; display name = "DisplayName", else the
    //     host name;
    //   - no non-empty "FrameIP<i>": data address 0 = metadata address 0;
    //   - product version text = "ProductVersionStr", else "MAJOR.MINOR.MAINT";
    //   - the storage id is read only from servers of protocol version 3 or later.
    // Each address list is read from index 0 up to the first missing key. Last seen = now.
    explicit VantrelDaemonInfo(const Vantrel::rcAttrStream& stream);
    VantrelDaemonInfo(const VantrelDaemonInfo&) = default;
    VantrelDaemonInfo& operator=(const VantrelDaemonInfo&) = default;
    virtual ~VantrelDaemonInfo();

    // A fresh attribute stream holding the description, keys in the order listed above.
    Vantrel::rcAttrStream toAttrStream() const;

    // Addresses. Setters take null as "" and refuse an index outside 0..MAX_IPS-1 with the
    // warning "Exceding maximum number of IPs allowed, ignoring ADDRESS".
    const char* getIPAddr(int index) const;
    void setIPAddr(int index, const char* address);
    const char* getFrameIPAddr(int index) const;
    void setFrameIPAddr(int index, const char* address);
    // Entries before the first empty one.
    int getNumIPAddrs() const;
    int getNumFrameIPAddrs() const;

    // Text fields; setters take null as "".
    const char* getHostName() const { return hostName_; }
    void setHostName(const char* hostName) { hostName_ = hostName; }
    const char* getDisplayName() const { return displayName_; }
    void setDisplayName(const char* displayName) { displayName_ = displayName; }
    const char* getDatabase() const { return database_; }
    void setDatabase(const char* database) { database_ = database; }
    const char* getProduct() const { return product_; }
    void setProduct(const char* product) { product_ = product; }
    const char* getVendor() const { return vendor_; }
    void setVendor(const char* vendor) { vendor_ = vendor; }
    const char* getProductVersionStr() const { return productVersionStr_; }
    void setProductVersionStr(const char* text) { productVersionStr_ = text; }
    const char* getStorageId() const { return storageId_; }
    void setStorageId(const char* storageId) { storageId_ = storageId; }
    const char* getHostUUID() const { return hostUUID_; }
    void setHostUUID(const char* hostUUID) { hostUUID_ = hostUUID; }

    VantrelOS::OsType getOSType() const { return static_cast<VantrelOS::OsType>(osType_); }
    void setOSType(VantrelOS::OsType type) { osType_ = type; }

    int getNodePort() const { return nodePort_; }
    void setNodePort(int port) { nodePort_ = port; }
    int getFramePort() const { return framePort_; }
    void setFramePort(int port) { framePort_ = port; }

    int getVersionMajor() const { return versionMajor_; }
    int getVersionMinor() const { return versionMinor_; }
    int getVersionMaint() const { return versionMaint_; }
    int getVersionBuild() const { return versionBuild_; }
    void setVersion(int major, int minor, int maint, int build);

    int getProductVersionMajor() const { return productVersionMajor_; }
    void setProductVersionMajor(int major) { productVersionMajor_ = major; }
    int getProductVersionMinor() const { return productVersionMinor_; }
    void setProductVersionMinor(int minor) { productVersionMinor_ = minor; }
    int getProductVersionMaint() const { return productVersionMaint_; }
    void setProductVersionMaint(int maint) { productVersionMaint_ = maint; }
    int getProductBuild() const { return productBuild_; }
    void setProductBuild(int build) { productBuild_ = build; }

    // Microseconds since 1970 (CoTime::getTime) when the description was made or last
    // heard of.
    uint64_t getLastSeen() const { return lastSeen_; }
    void setLastSeen(uint64_t microseconds) { lastSeen_ = microseconds; }

    // Whether `id` names this server:
    //   1. an id with a storage id: the storage ids are equal;
    //   2. the id's port, when not 0, must be the node port; its database, when not empty,
    //      the database;
    //   3. the id's address (a host name is first resolved to its numeric address) is one of
    //      the metadata or data addresses: the same;
    //   4. an address other than loopback: not the same; a loopback address: isLocal().
    // A host name that does not resolve is compared as written; the address as written
    // matching one of the record's also counts (a record seeded from an id by name).
    bool isSameServer(const VantrelServerId& id) const;
    // Whether `other` describes the same server:
    //   1. either has a storage id: the storage ids are equal;
    //   2. the databases differ: not the same;
    //   3. either has a host UUID: the host UUIDs are equal;
    //   4. otherwise the same when one of the other's metadata addresses, then one of its
    //      data addresses, belongs to this record: it is one of this record's addresses, or
    //      it is an address of this machine and isLocal().
    bool isSameServer(const VantrelDaemonInfo& other) const;
    // Whether the server runs on this machine: with a host UUID here and this machine's UUID
    // known, whether they are equal; otherwise whether every metadata address is an address
    // of this machine (true when there is none).
    bool isLocal() const;

    // Every field equal, the five slots of each address list pairwise; last seen aside.
    bool operator==(const VantrelDaemonInfo& other) const;
    bool operator!=(const VantrelDaemonInfo& other) const { return !(*this == other); }
    // The order of server lists: by display name, then by database (byte-wise).
    bool operator<(const VantrelDaemonInfo& other) const;

private:
    typedef VantrelStr AddressList[MAX_IPS];

    static const char* getAddress(const AddressList& list, int index);
    static void setAddress(AddressList& list, int index, const char* address);
    static int countAddresses(const AddressList& list);

    void decodeAddressesAndNames(const Vantrel::rcAttrStream& stream);
    void decodeNumbers(const Vantrel::rcAttrStream& stream);
    void decodeProduct(const Vantrel::rcAttrStream& stream);

    // `address` is among the metadata or data addresses in use (exact bytes).
    bool holdsAddress(const char* address) const;
    // `address`, resolved when it is a host name, is one of this record's; or else it is an
    // address of this machine by `onThisMachine` and the record is local.
    bool matchesAddress(const char* address, bool (*onThisMachine)(const char*)) const;
    bool allIPAddrsLocal() const;

    AddressList ipAddrs_;
    AddressList frameIpAddrs_;
    VantrelStr hostName_;
    VantrelStr displayName_;
    int osType_ = VantrelOS::Unknown;
    VantrelStr database_;
    int nodePort_ = 0;
    int framePort_ = 0;
    int versionMajor_ = 0;
    int versionMinor_ = 0;
    int versionMaint_ = 0;
    int versionBuild_ = 0;
    VantrelStr product_;
    VantrelStr vendor_;
    int productVersionMajor_ = 0;
    int productVersionMinor_ = 0;
    int productVersionMaint_ = 0;
    int productBuild_ = 0;
    VantrelStr productVersionStr_;
    VantrelStr storageId_;
    VantrelStr hostUUID_;
    uint64_t lastSeen_;
};

// Provides the current description of one server, for the frame transfer.
class VantrelDaemonInfoMgr {
public:
    virtual ~VantrelDaemonInfoMgr();
    // The caller found the description's addresses failing.
    virtual void invalidateDaemonInfo() = 0;
    // The current description, owned by the provider (valid until its next refresh and
    // while the provider lives), or null on failure with the reason in lastError().
    virtual const VantrelDaemonInfo* getDaemonInfo() = 0;
    // The text of the last failure ("" when none).
    virtual const char* lastError() const = 0;
};
