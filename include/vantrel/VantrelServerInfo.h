// VantrelServerInfo: the public description of a server, a wrapper around its
// VantrelDaemonInfo record (see VantrelDaemonInfo.h for the fields and the same-server rules).
//
// Value: owns one record on the heap; copies copy it. Text getters return pointers into the
// record, valid until it changes. Setters of texts take null as "".
// Threads: no locks; one object is used by one thread at a time.
#pragma once

#include "vantrel/VantrelServerId.h"
#include "vantrel/VantrelExport.h"

class VantrelDaemonInfo;

class VANTREL_API VantrelServerInfo {
public:
    VantrelServerInfo();
    VantrelServerInfo(const VantrelDaemonInfo& info);
    VantrelServerInfo(const VantrelServerInfo& other);
    VantrelServerInfo& operator=(const VantrelServerInfo& other);
    VantrelServerInfo& operator=(const VantrelDaemonInfo& info);
    virtual ~VantrelServerInfo();

    const char* getHostname() const;
    const char* getDisplayName() const;
    const char* getHostUUID() const;
    const char* getProduct() const;
    const char* getVendor() const;
    const char* getProductVersionStr() const;
    const char* getStorageId() const;
    const char* getDatabase() const;

    // The server's protocol version.
    int getVersionMajor() const;
    int getVersionMinor() const;
    int getVersionMaint() const;

    int getProductVersionMajor() const;
    int getProductVersionMinor() const;
    int getProductVersionMaint() const;
    int getProductBuild() const;

    void setProduct(const char* product);
    void setVendor(const char* vendor);
    void setProductVersionStr(const char* text);
    void setStorageId(const char* storageId);
    void setDatabase(const char* database);
    void setProductVersionMajor(int major);
    void setProductVersionMinor(int minor);
    void setProductVersionMaint(int maint);
    void setProductBuild(int build);

    const VantrelDaemonInfo& getDaemonInfo() const { return *info_; }

    // An id naming this server: its database, its first metadata address and node port, and
    // its storage id.
    VantrelServerId getId() const;

    bool isLocal() const;
    bool isSameServer(const VantrelServerId& id) const;
    bool isSameServer(const VantrelServerInfo& other) const;
    bool operator==(const VantrelServerInfo& other) const;

private:
    VantrelDaemonInfo* info_;
};
