#include "vantrel/VantrelServerInfo.h"

#include "vantrel/client/connection/VantrelDaemonInfo.h"

VantrelServerInfo::VantrelServerInfo() : info_(new VantrelDaemonInfo()) {}

VantrelServerInfo::VantrelServerInfo(const VantrelDaemonInfo& info)
    : info_(new VantrelDaemonInfo(info)) {}

VantrelServerInfo::VantrelServerInfo(const VantrelServerInfo& other)
    : info_(new VantrelDaemonInfo(*other.info_)) {}

VantrelServerInfo& VantrelServerInfo::operator=(const VantrelServerInfo& other) {
    *info_ = *other.info_;
    return *this;
}

VantrelServerInfo& VantrelServerInfo::operator=(const VantrelDaemonInfo& info) {
    *info_ = info;
    return *this;
}

VantrelServerInfo::~VantrelServerInfo() { delete info_; }

const char* VantrelServerInfo::getHostname() const { return info_->getHostName(); }
const char* VantrelServerInfo::getDisplayName() const { return info_->getDisplayName(); }
const char* VantrelServerInfo::getHostUUID() const { return info_->getHostUUID(); }
const char* VantrelServerInfo::getProduct() const { return info_->getProduct(); }
const char* VantrelServerInfo::getVendor() const { return info_->getVendor(); }
const char* VantrelServerInfo::getProductVersionStr() const {
    return info_->getProductVersionStr();
}
const char* VantrelServerInfo::getStorageId() const { return info_->getStorageId(); }
const char* VantrelServerInfo::getDatabase() const { return info_->getDatabase(); }

int VantrelServerInfo::getVersionMajor() const { return info_->getVersionMajor(); }
int VantrelServerInfo::getVersionMinor() const { return info_->getVersionMinor(); }
int VantrelServerInfo::getVersionMaint() const { return info_->getVersionMaint(); }

int VantrelServerInfo::getProductVersionMajor() const { return info_->getProductVersionMajor(); }
int VantrelServerInfo::getProductVersionMinor() const { return info_->getProductVersionMinor(); }
int VantrelServerInfo::getProductVersionMaint() const { return info_->getProductVersionMaint(); }
int VantrelServerInfo::getProductBuild() const { return info_->getProductBuild(); }

void VantrelServerInfo::setProduct(const char* product) { info_->setProduct(product); }
void VantrelServerInfo::setVendor(const char* vendor) { info_->setVendor(vendor); }
void VantrelServerInfo::setProductVersionStr(const char* text) {
    info_->setProductVersionStr(text);
}
void VantrelServerInfo::setStorageId(const char* storageId) { info_->setStorageId(storageId); }
void VantrelServerInfo::setDatabase(const char* database) { info_->setDatabase(database); }
void VantrelServerInfo::setProductVersionMajor(int major) { info_->setProductVersionMajor(major); }
void VantrelServerInfo::setProductVersionMinor(int minor) { info_->setProductVersionMinor(minor); }
void VantrelServerInfo::setProductVersionMaint(int maint) { info_->setProductVersionMaint(maint); }
void VantrelServerInfo::setProductBuild(int build) { info_->setProductBuild(build); }

VantrelServerId VantrelServerInfo::getId() const {
    VantrelServerId id(info_->getDatabase(), info_->getIPAddr(0), info_->getNodePort());
    id.setStorageId(info_->getStorageId());
    return id;
}

bool VantrelServerInfo::isLocal() const { return info_->isLocal(); }

bool VantrelServerInfo::isSameServer(const VantrelServerId& id) const {
    return info_->isSameServer(id);
}

bool VantrelServerInfo::isSameServer(const VantrelServerInfo& other) const {
    return info_->isSameServer(*other.info_);
}

bool VantrelServerInfo::operator==(const VantrelServerInfo& other) const {
    return *info_ == *other.info_;
}
