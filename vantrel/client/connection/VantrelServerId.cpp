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

// An address as the text form writes it: an IPv6 address (it holds ':') in brackets, so
// that the text reads back with the same address and port.
std::string addressText(const VantrelStr& ipAddr) {
    const std::string address = ipAddr.c_str();
    return address.find(':') == std::string::npos ? address : "[" + address + "]";
}

}  // namespace

VantrelServerId::VantrelServerId() : port_(0) {}

VantrelServerId::VantrelServerId(const char* text) : port_(0) {
    if (text != nullptr && text[0] != '\0') setId(text);
}

VantrelServerId::VantrelServerId(const char* database, const char* ipAddr, int port)
    : ipAddr_(ipAddr), database_(database), port_(port) {
    if (port == 0 && database_.isEmpty()) idText_ = addressText(ipAddr_).c_str();
}

VantrelServerId::VantrelServerId(int port, const char* ipAddr) : ipAddr_(ipAddr), port_(port) {
    if (port == 0) idText_ = addressText(ipAddr_).c_str();
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
    // "[ADDRESS]" brackets an IPv6 address, whose own ':' separate nothing.
    const char* closing = whole[0] == '[' ? std::strchr(whole, ']') : nullptr;
    const char* colon = std::strchr(closing != nullptr ? closing : whole, separator);
    const char* addressEnd = colon != nullptr ? colon : whole + std::strlen(whole);
    if (closing != nullptr && closing + 1 == addressEnd)
        ipAddr_ = std::string(whole + 1, closing).c_str();
    else
        ipAddr_ = std::string(whole, addressEnd).c_str();
    if (colon == nullptr) return;
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
            std::snprintf(text, sizeof text, "%s%c%s", addressText(ipAddr_).c_str(), separator,
                          database_.c_str());
        else
            std::snprintf(text, sizeof text, "%s%c%d", addressText(ipAddr_).c_str(), separator,
                          port_);
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
