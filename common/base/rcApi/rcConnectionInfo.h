// The connection record: who is on the other end of a remote-call connection.
//
// A client fills one from its own process (fillInfo) and sends it, as an attribute stream, as
// the argument of "_login". The server rebuilds it from that text, checks its checksum, then
// completes it with what it sees of the connection and keeps it for the client.
//
// The checksum is part of the protocol: both ends compute it the same way. It is a CRC-32
// (IEEE 802.3, reflected, polynomial 0xEDB88320) run over, in order: the user name, the group
// name (when known), the host UUID (when known), the host name, the password and the IP
// address, then the four bytes of the time stamp and of the serial, least significant byte
// first. Each text continues the running value, except that an empty text sets it to 0 and so
// discards what came before. The process name and id are not covered. A record with user name,
// host name and IP address "abc", no group, no UUID, empty password, time stamp 0 and serial 0
// has the checksum 0x4A219138.
//
// Failure: missing information never fails; defaults stay and a debug message is posted. A
// received record whose checksum does not match is marked not valid (and an error posted).
//
// Threads: a record is used by one thread at a time. The serial counter is process-wide and
// atomic.
#pragma once

#include <cstdint>
#include <string>

#include "rcApi/rcAttrStream.h"

namespace Vantrel {

class CoIoDescriptor;

class rcConnectionInfo {
public:
    // Defaults ("undefined" texts, address "0.0.0.0", not valid) and the next serial of the
    // process (the first record made has serial 0).
    rcConnectionInfo();
    // Rebuilds a received record from its attribute-stream text; valid only when the checksum
    // matches. When `io` is given, the address is then replaced by the peer address of `io`
    // (the check covers the address the sender reported). `stream` null counts as empty.
    rcConnectionInfo(const char* stream, const CoIoDescriptor* io);
    rcConnectionInfo(const rcConnectionInfo&) = default;
    rcConnectionInfo& operator=(const rcConnectionInfo&) = default;
    virtual ~rcConnectionInfo();

    // Fills the record from the current process (rcLocalFacts) and, when `io` is given, the
    // local address of that connection; marks it valid and computes the checksum.
    void fillInfo(const CoIoDescriptor* io);

    // The record as an attribute stream; the text stays valid until the next call or the
    // record's destruction.
    const char* toAttrStream();

    // Copies who the other record describes (valid flag, user, group, password, process, host,
    // host UUID, address; not serial, time stamp or checksum); when `io` is given the address
    // becomes its peer address. Recomputes the checksum.
    void setClientInfo(const rcConnectionInfo& other, const CoIoDescriptor* io);
    void setSerial(unsigned int serial);
    void setTimestamp(unsigned int seconds);

    bool isValid() const { return valid_; }
    const char* getUserName() const { return userName_.c_str(); }
    // The group name when known, else "undefined".
    const char* getGroupName() const;
    const char* getHostName() const { return hostName_.c_str(); }
    const char* getHostUUID() const { return hostUUID_.c_str(); }
    const char* getProcessName() const { return processName_.c_str(); }
    const char* getIpAddr() const { return ipAddr_.c_str(); }
    int getProcessId() const { return processId_; }
    int getSerial() const { return static_cast<int>(serial_); }
    int getTimestamp() const { return static_cast<int>(timestamp_); }

    // Posts "Connection [serial] [user/group] [host/address] [process/pid] " at notice level.
    void logConnection() const;

private:
    unsigned int generateCRC() const;
    void updateCRC() { crc_ = generateCRC(); }
    bool validateCRC();
    void readFields();

    rcAttrStream stream_;
    bool valid_;
    std::string userName_;
    std::string groupName_;
    bool groupKnown_;
    std::string password_;
    std::string processName_;
    int processId_;
    std::string hostName_;
    std::string hostUUID_;
    bool hostUUIDKnown_;
    std::string ipAddr_;
    unsigned int serial_;
    unsigned int crc_;
    unsigned int timestamp_;
};

}  // namespace Vantrel
