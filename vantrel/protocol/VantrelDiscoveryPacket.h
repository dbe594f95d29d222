// The discovery datagram: what servers announce on the multicast group and what clients send
// to find them.
//
// Form: one datagram of at most MAX_SIZE bytes, no terminating NUL, holding an attribute
// stream (rcApi/rcAttrStream.h) with the keys, in this order:
//   "Version"  decimal int; senders write 1, readers accept every value but 0
//   "Type"     decimal int, one of the Type values below
//   "Data"     the payload, itself an attribute-stream text (may be empty)
// A FIND_SERVERS request with no payload is the 26 bytes "Version 1 1Type 2 74Data 0 ".
//
// Payloads: DISCOVER_SERVERS, DISCOVER_SERVERS_REPLY and REMOVE_SERVER carry one server
// description record; FIND_SERVERS carries nothing, or a record holding only "Database" (the
// kind of server wanted), for example "Database 5 QLXFS".
//
// Threads: plain functions and values.
#pragma once

#include <cstddef>
#include <string>

class VantrelDiscoveryPacket {
public:
    enum Type {
        INVALID = 0,
        START_OF_SERVICES = 70,  // lower bound of the valid range, never sent
        DISCOVER_SERVERS = 71,
        DISCOVER_SERVERS_REPLY = 72,
        REMOVE_SERVER = 73,
        FIND_SERVERS = 74,
        END_OF_SERVICES = 75,  // upper bound of the valid range, never sent
    };
    static constexpr size_t MAX_SIZE = 1024;
    static constexpr int VERSION = 1;

    // "INVALID", "START_OF_SERVICES", ... "END_OF_SERVICES"; "UNKNOWN" for any other value.
    static const char* typeName(int type);
    // Whether `type` lies in START_OF_SERVICES..END_OF_SERVICES.
    static bool isKnownType(int type);

    // The datagram text of a packet of version 1. Nothing is checked: a payload that makes
    // the text longer than MAX_SIZE is the sender's to refuse.
    static std::string encode(int type, const std::string& payload);

    // The FIND_SERVERS payload: "" for a null or empty database, else a record holding only
    // "Database".
    static std::string findServersPayload(const char* database);

    // Reads a received datagram (any bytes). True with version, type and payload set; false
    // with `error` set to the reason, one of
    //   "Request is lacking a version tag: TEXT."   "Request's version is incompatible: 0"
    //   "Request is lacking a type tag: TEXT."      "Unknown request type: N."
    //   "Request is lacking data: TEXT."
    // where TEXT is the datagram. Never reads outside `data`.
    struct Decoded {
        int version = 0;
        int type = INVALID;
        std::string payload;
    };
    static bool decode(const char* data, size_t size, Decoded& out, std::string& error);
};
