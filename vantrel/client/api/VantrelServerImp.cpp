#include "vantrel/client/api/VantrelServerImp.h"

#include <exception>

#include "vantrel/client/connection/VantrelBaseClientAPI.h"
#include "vantrel/client/nodes/VantrelNodeClientAPI.h"
#include "vantrel/client/api/VantrelServerFrames.h"
#include "vantrel/client/connection/VantrelTextConversion.h"

VantrelServerImp::VantrelServerImp(const VantrelServerId& id)
    : frames_(new VantrelServerFrames(*this)), serverId_(id) {}

// The frame operations live as long as this object (another thread may stop them): they go
// first, and a rebinding keeps them.
VantrelServerImp::~VantrelServerImp() {
    frames_.reset();
    unbind();
}

// The clients refer to the connection: they go before the reference on it.
void VantrelServerImp::unbind() {
    connection_ = nullptr;
    events_.reset();
    nodeClient_.reset();
    baseClient_.reset();
    info_.reset();
    shared_.release();
}

bool VantrelServerImp::bind() {
    std::string error;
    if (attach(error)) return true;
    setLastError(error);
    return false;
}

VantrelClientConnection* VantrelServerImp::bindForStop() {
    std::string ignored;
    return attach(ignored) ? connection_.load() : nullptr;
}

bool VantrelServerImp::attach(std::string& error) {
    Vantrel::CoMutexGuard guard(bindLock_);
    if (shared_.isLive()) return true;
    unbind();
    try {
        shared_.acquire(serverId_);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    VantrelClientConnection* connection = shared_.get();
    baseClient_.reset(new VantrelBaseClientAPI(connection));
    nodeClient_.reset(new VantrelNodeClientAPI(connection));
    if (VantrelEventMonitor::instance() != nullptr)
        events_.reset(new VantrelEventMonitor::Connection(connection));
    connection_ = connection;
    return true;
}

VantrelEventMonitor::Connection* VantrelServerImp::events() {
    return bind() ? events_.get() : nullptr;
}

VantrelNodeClientAPI* VantrelServerImp::nodeClient() {
    return bind() ? nodeClient_.get() : nullptr;
}

VantrelBaseClientAPI* VantrelServerImp::baseClient() {
    return bind() ? baseClient_.get() : nullptr;
}

VantrelClientConnection* VantrelServerImp::connection() {
    return bind() ? connection_.load() : nullptr;
}

const VantrelDaemonInfo* VantrelServerImp::getDaemonInfo() {
    if (!bind()) return nullptr;
    VantrelClientConnection::DaemonInfoSnapshot info = baseClient_->daemonInfo();
    if (info == nullptr) {
        setLastError(baseClient_->lastError());
        recordSuspect_ = true;
        return nullptr;
    }
    recordSuspect_ = false;
    info_ = std::move(info);
    return info_.get();
}

void VantrelServerImp::invalidateDaemonInfo() { recordSuspect_ = true; }

template <class Record>
bool VantrelServerImp::refreshTable(std::vector<Record>& table, bool& stale,
                                    bool (VantrelBaseClientAPI::*fetch)(std::vector<Record>&)) {
    if (!stale) return true;
    if (!bind()) return false;
    table.clear();
    if (!(baseClient_.get()->*fetch)(table)) {
        setLastError(baseClient_->lastError());
        return false;
    }
    stale = false;
    return true;
}

template <class Record>
bool VantrelServerImp::copyRecord(const std::vector<Record>& table, int index, Record& out,
                                  const char* rangeError) {
    if (index < 0 || index >= static_cast<int>(table.size())) {
        setLastError(rangeError);
        return false;
    }
    out = table[static_cast<size_t>(index)];
    return true;
}

bool VantrelServerImp::getNumHostTranslations(int& count) {
    if (!refreshTable(hostTranslations_, hostTranslationsStale_,
                      &VantrelBaseClientAPI::getHostTranslations))
        return false;
    count = static_cast<int>(hostTranslations_.size());
    return true;
}

bool VantrelServerImp::getHostTranslation(int index,
                                          VantrelServerHandle::HostTranslation& translation) {
    return refreshTable(hostTranslations_, hostTranslationsStale_,
                        &VantrelBaseClientAPI::getHostTranslations) &&
           copyRecord(hostTranslations_, index, translation, "Host Translation index out of range");
}

bool VantrelServerImp::getNumOsTypeTranslations(int& count) {
    if (!refreshTable(osTypeTranslations_, osTypeTranslationsStale_,
                      &VantrelBaseClientAPI::getOsTypeTranslations))
        return false;
    count = static_cast<int>(osTypeTranslations_.size());
    return true;
}

bool VantrelServerImp::getOsTypeTranslation(int index,
                                            VantrelServerHandle::OsTypeTranslation& translation) {
    return refreshTable(osTypeTranslations_, osTypeTranslationsStale_,
                        &VantrelBaseClientAPI::getOsTypeTranslations) &&
           copyRecord(osTypeTranslations_, index, translation,
                      "OS Type Translation index out of range");
}

bool VantrelServerImp::getNumTranslationGroups(int& count) {
    if (!refreshTable(translationGroups_, translationGroupsStale_,
                      &VantrelBaseClientAPI::getTranslationGroups))
        return false;
    count = static_cast<int>(translationGroups_.size());
    return true;
}

bool VantrelServerImp::getTranslationGroup(int index, VantrelServerHandle::TranslationGroup& group) {
    return refreshTable(translationGroups_, translationGroupsStale_,
                        &VantrelBaseClientAPI::getTranslationGroups) &&
           copyRecord(translationGroups_, index, group, "Translation group index out of range");
}

bool VantrelServerImp::translatePaths(const VantrelStrList& in, VantrelStrList& out,
                                      const char* srcHost, const char* dstHost,
                                      VantrelOS::OsType srcType, VantrelOS::OsType dstType) {
    if (!bind()) return false;
    if (srcHost == nullptr || dstHost == nullptr) {
        const VantrelDaemonInfo* info = getDaemonInfo();
        if (info != nullptr) {
            if (srcHost == nullptr) srcHost = info->getDisplayName();
            if (dstHost == nullptr) dstHost = info->getHostName();
        } else if (srcHost == nullptr) {
            return false;  // the reason is the failed fetch's
        }
    }
    // Paths travel in UTF-8, like every text exchanged with the server.
    VantrelStrList sent;
    for (unsigned i = 0; i < in.size(); ++i) sent.push_back(VantrelLocaleToUTF8(in[i]).c_str());
    VantrelStrList received;
    if (!baseClient_->translatePaths(sent, received, srcHost, dstHost, srcType, dstType)) {
        setLastError(baseClient_->lastError());
        return false;
    }
    out.resize(-1);
    for (unsigned i = 0; i < received.size(); ++i) {
        std::string path = received[i];
        VantrelUTF8ToLocale(path);
        out.push_back(path.c_str());
    }
    return true;
}
