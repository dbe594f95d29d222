#include "rcApi/rcConnectionInfo.h"

#include <array>
#include <atomic>

#include "vantrel/CoMsg.h"
#include "osal/CoTime.h"
#include "rcApi/rcLocalFacts.h"
#include "tcp/CoIoDescriptor.h"

namespace Vantrel {

namespace {

const char UNDEFINED[] = "undefined";

std::atomic<unsigned int> nextSerial{0};

const std::array<uint32_t, 256>& crcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

// CRC-32 of `count` bytes continued from the running value `crc` (0 starts a plain CRC-32).
uint32_t crc32(uint32_t crc, const unsigned char* bytes, size_t count) {
    const std::array<uint32_t, 256>& table = crcTable();
    crc = ~crc;
    for (size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t sumText(uint32_t crc, const std::string& text) {
    if (text.empty()) return 0;  // an empty text discards what came before: part of the protocol
    return crc32(crc, reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

uint32_t sumNumber(uint32_t crc, uint32_t number) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(number), static_cast<unsigned char>(number >> 8),
        static_cast<unsigned char>(number >> 16), static_cast<unsigned char>(number >> 24)};
    return crc32(crc, bytes, sizeof bytes);
}

std::string addressOf(const CoIoDescriptor* io, bool peer) {
    std::string address;
    if (peer)
        io->getPeerIP(address);
    else
        io->getSocketIP(address);
    return address;
}

}  // namespace

rcConnectionInfo::rcConnectionInfo()
    : valid_(false), userName_(UNDEFINED), groupName_(UNDEFINED), groupKnown_(false),
      processName_(UNDEFINED), processId_(0), hostName_(UNDEFINED), hostUUID_(UNDEFINED),
      hostUUIDKnown_(false), ipAddr_("0.0.0.0"), serial_(nextSerial.fetch_add(1)), crc_(0),
      timestamp_(0) {}

rcConnectionInfo::rcConnectionInfo(const char* stream, const CoIoDescriptor* io)
    : stream_(stream != nullptr ? stream : ""), valid_(true), groupKnown_(false), processId_(0),
      hostUUIDKnown_(false), serial_(0), crc_(0), timestamp_(0) {
    readFields();
    validateCRC();
    if (io != nullptr) ipAddr_ = addressOf(io, true);
}

rcConnectionInfo::~rcConnectionInfo() = default;

void rcConnectionInfo::readFields() {
    groupKnown_ = stream_.getStringValue("StrGroupName", groupName_);
    hostUUIDKnown_ = stream_.getStringValue("StrHostUUID", hostUUID_);
    bool complete = stream_.getStringValue("StrUserName", userName_);
    stream_.getStringValue("StrPassword", password_);
    complete &= stream_.getStringValue("StrProcessName", processName_);
    complete &= stream_.getIntValue("IntProcessId", processId_);
    complete &= stream_.getStringValue("StrHostName", hostName_);
    complete &= stream_.getStringValue("StrIpAddr", ipAddr_);
    // The unsigned fields travel as signed decimals; reading them back restores the 32 bits.
    int serial = 0, timestamp = 0, crc = 0;
    complete &= stream_.getIntValue("IntSerial", serial);
    complete &= stream_.getIntValue("IntTimestamp", timestamp);
    complete &= stream_.getIntValue("IntCRC", crc);
    serial_ = static_cast<unsigned int>(serial);
    timestamp_ = static_cast<unsigned int>(timestamp);
    crc_ = static_cast<unsigned int>(crc);
    if (!complete)
        CO_MSG_DEBUG("Syntax error while parsing connection information, output values won't be "
                     "accurate");
}

void rcConnectionInfo::fillInfo(const CoIoDescriptor* io) {
    const rcLocalFacts& facts = rcLocalFacts::current();
    valid_ = true;
    facts.getUserName(userName_);
    bool complete = facts.getHostName(hostName_);
    groupKnown_ = facts.getGroupName(groupName_);
    hostUUIDKnown_ = facts.getHostUUID(hostUUID_);
    complete &= groupKnown_ && hostUUIDKnown_;
    complete &= facts.getProcessName(processName_);
    complete &= facts.getProcessId(processId_);
    if (io != nullptr) ipAddr_ = addressOf(io, false);
    if (!complete) CO_MSG_DEBUG("User process information couldn't be adequately retrieved");
    updateCRC();
}

const char* rcConnectionInfo::toAttrStream() {
    stream_.setStream(std::string());
    stream_.addStringValue("StrUserName", userName_.c_str());
    if (groupKnown_) stream_.addStringValue("StrGroupName", groupName_.c_str());
    if (hostUUIDKnown_) stream_.addStringValue("StrHostUUID", hostUUID_.c_str());
    stream_.addStringValue("StrPassword", password_.c_str());
    stream_.addStringValue("StrProcessName", processName_.c_str());
    stream_.addIntValue("IntProcessId", processId_);
    stream_.addStringValue("StrHostName", hostName_.c_str());
    stream_.addStringValue("StrIpAddr", ipAddr_.c_str());
    stream_.addIntValue("IntSerial", static_cast<int>(serial_));
    stream_.addIntValue("IntTimestamp", static_cast<int>(timestamp_));
    stream_.addIntValue("IntCRC", static_cast<int>(crc_));
    return stream_.getStream();
}

void rcConnectionInfo::setClientInfo(const rcConnectionInfo& other, const CoIoDescriptor* io) {
    valid_ = other.valid_;
    userName_ = other.userName_;
    groupName_ = other.groupName_;
    groupKnown_ = other.groupKnown_;
    password_ = other.password_;
    processName_ = other.processName_;
    processId_ = other.processId_;
    hostName_ = other.hostName_;
    hostUUID_ = other.hostUUID_;
    hostUUIDKnown_ = other.hostUUIDKnown_;
    ipAddr_ = io != nullptr ? addressOf(io, true) : other.ipAddr_;
    updateCRC();
}

void rcConnectionInfo::setSerial(unsigned int serial) {
    serial_ = serial;
    updateCRC();
}

void rcConnectionInfo::setTimestamp(unsigned int seconds) {
    timestamp_ = seconds;
    updateCRC();
}

const char* rcConnectionInfo::getGroupName() const {
    return groupKnown_ ? groupName_.c_str() : UNDEFINED;
}

void rcConnectionInfo::logConnection() const {
    CO_MSG_NOTICE("Connection [%d] [%s/%s] [%s/%s] [%s/%d] ", getSerial(), userName_.c_str(),
                  groupName_.c_str(), hostName_.c_str(), ipAddr_.c_str(), processName_.c_str(),
                  processId_);
}

unsigned int rcConnectionInfo::generateCRC() const {
    uint32_t crc = sumText(0, userName_);
    if (groupKnown_) crc = sumText(crc, groupName_);
    if (hostUUIDKnown_) crc = sumText(crc, hostUUID_);
    crc = sumText(crc, hostName_);
    crc = sumText(crc, password_);
    crc = sumText(crc, ipAddr_);
    crc = sumNumber(crc, timestamp_);
    crc = sumNumber(crc, serial_);
    return crc;
}

bool rcConnectionInfo::validateCRC() {
    valid_ = generateCRC() == crc_;
    if (!valid_) {
        CO_MSG_ERROR("Unable to establish connection [%d]: checksum failed.", getSerial());
        const long long now = static_cast<long long>(CoTime::getTime() / 1000000u);
        CO_MSG_DEBUG("Connection [%d] Timestamp: %d Age: %d Checksum 0x%X", getSerial(),
                     getTimestamp(), static_cast<int>(now - timestamp_), crc_);
    }
    return valid_;
}

}  // namespace Vantrel
