#include "vantrel/VantrelServerId.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

const char VantrelServerId::separator = ':';

namespace {

// Reads `text` as atoi() does (white space, sign, leading digits; 0 if none), except that a
// number outside the range of int gives 0 instead of an undefined result.
int leadingNumber(const char* text) {
    errno = 0;
    const long value = std::strtol(text, nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) return 0;
    return static_cast<int>(value);
}

}  // namespace

VantrelServerId::VantrelServerId() : port_(0) {}

VantrelServerId::VantrelServerId(const char* text) : port_(0) {
    if (text != nullptr && text[0] != '\0') setId(text);
}

VantrelServerId::VantrelServerId(const char* database, const char* ipAddr, int port)
    : ipAddr_(ipAddr), database_(database), port_(port) {
    if (port == 0 && database_.isEmpty()) idText_ = ipAddr_;
}

VantrelServerId::VantrelServerId(int port, const char* ipAddr) : ipAddr_(ipAddr), port_(port) {
    if (port == 0) idText_ = ipAddr_;
}

VantrelServerId::VantrelServerId(const VantrelServerId& other) = default;
VantrelServerId& VantrelServerId::operator=(const VantrelServerId& other) = default;
VantrelServerId::~VantrelServerId() = default;

void VantrelServerId::setId(const char* text) {
    // Copy first: `text` may point into one of the fields about to change.
    idText_ = text;
    port_ = 0;
    database_.reset();

    const char* whole = idText_.c_str();
    const char* colon = std::strchr(whole, separator);
    if (colon == nullptr) {
        ipAddr_ = whole;
        return;
    }
    ipAddr_ = std::string(whole, colon).c_str();
    const char* rest = colon + 1;
    const int port = leadingNumber(rest);
    if (port != 0)
        port_ = port;
    else
        database_ = rest;
}

const char* VantrelServerId::getId() const {
    if (idText_.isEmpty()) {
        char text[1024];
        if (!database_.isEmpty())
            std::snprintf(text, sizeof text, "%s%c%s", ipAddr_.c_str(), separator, database_.c_str());
        else
            std::snprintf(text, sizeof text, "%s%c%d", ipAddr_.c_str(), separator, port_);
        idText_ = text;
    }
    return idText_.c_str();
}

void VantrelServerId::setIPAddr(const char* ipAddr) {
    ipAddr_ = ipAddr;
    forgetTextForm();
}

void VantrelServerId::setDB(const char* database) {
    database_ = database;
    forgetTextForm();
}

void VantrelServerId::setPort(int port) {
    port_ = port;
    forgetTextForm();
}

void VantrelServerId::setStorageId(const char* storageId) { storageId_ = storageId; }

bool VantrelServerId::isValid() const {
    return port_ != 0 || !idText_.isEmpty() || !ipAddr_.isEmpty() || !database_.isEmpty() ||
           !storageId_.isEmpty();
}

bool VantrelServerId::operator==(const VantrelServerId& other) const {
    return port_ == other.port_ && ipAddr_ == other.ipAddr_ && storageId_ == other.storageId_ &&
           database_ == other.database_;
}
