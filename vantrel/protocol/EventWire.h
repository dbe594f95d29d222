// The wire forms of node events, spoken by the client library and by vantreld alike.
//
// Registration ("RegisterEvents" / "UnregisterEvents", client to server): one attribute
// stream with "Port" (the client's event port, decimal), "Connection" (the client's connection
// number, decimal) and "Subject" (the node id text; empty in "UnregisterEvents" means every
// subject of that connection), written in that order:
//     Port 5 41000Connection 1 7Subject 6 clip 3
//
// Event ("NodeEvent", server to the client's event port, on the object whose id is the
// registration's connection number): one string parameter, an attribute stream with
// "NodeId", "Type" and "Details" (itself the attribute-stream text of a dictionary), written
// in that order:
//     NodeId 4 hostType 12 ChildCreatedDetails 14 Child 6 clip 3
//
// Reading is for bytes from a peer we do not control: any text is read in time linear in its
// size without reading outside it, and a missing key is reported by name.
// Threads: pure functions.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace VantrelEventWire {

constexpr const char* REGISTER_METHOD = "RegisterEvents";
constexpr const char* UNREGISTER_METHOD = "UnregisterEvents";
constexpr const char* NODE_EVENT_METHOD = "NodeEvent";
// Time limits of the two registration calls, in milliseconds.
constexpr unsigned int REGISTER_TIMEOUT_MS = 15000;
constexpr unsigned int UNREGISTER_TIMEOUT_MS = 10000;

struct Registration {
    int port = 0;
    int connection = 0;
    std::string subject;
};

std::string encodeRegistration(const Registration& registration);
// False when a key is missing or "Port" / "Connection" is not a decimal signed 32-bit number;
// `error` then names what is wrong ("Missing 'Port' parameter", "Invalid 'Port' value: '12x'").
bool decodeRegistration(const std::string& text, Registration& out, std::string& error);

struct NodeEvent {
    std::string nodeId;
    std::string type;
    std::string details;  // attribute-stream text
};

std::string encodeNodeEvent(const NodeEvent& event);
// The "Details" text: the pairs as attributes, in order (names must hold no space).
std::string encodeDetails(const std::vector<std::pair<std::string, std::string>>& details);
// Reads "NodeId", then "Type", then "Details". False at the first one missing, with its name in
// `missingKey` (`out` then holds what was read before it).
bool decodeNodeEvent(const std::string& text, NodeEvent& out, std::string& missingKey);

// The strict decimal reading used for "Port" and "Connection": an optional '-', one or more
// digits, nothing else, within the signed 32-bit range.
bool parseDecimal(const std::string& text, int& value);

}  // namespace VantrelEventWire
