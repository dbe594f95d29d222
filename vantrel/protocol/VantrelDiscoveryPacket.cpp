#include "vantrel/protocol/VantrelDiscoveryPacket.h"

#include "rcApi/rcAttrStream.h"

namespace {

const char VERSION_KEY[] = "Version";
const char TYPE_KEY[] = "Type";
const char DATA_KEY[] = "Data";
const char DATABASE_KEY[] = "Database";

}  // namespace

const char* VantrelDiscoveryPacket::typeName(int type) {
    switch (type) {
    case INVALID: return "INVALID";
    case START_OF_SERVICES: return "START_OF_SERVICES";
    case DISCOVER_SERVERS: return "DISCOVER_SERVERS";
    case DISCOVER_SERVERS_REPLY: return "DISCOVER_SERVERS_REPLY";
    case REMOVE_SERVER: return "REMOVE_SERVER";
    case FIND_SERVERS: return "FIND_SERVERS";
    case END_OF_SERVICES: return "END_OF_SERVICES";
    default: return "UNKNOWN";
    }
}

bool VantrelDiscoveryPacket::isKnownType(int type) {
    return type >= START_OF_SERVICES && type <= END_OF_SERVICES;
}

std::string VantrelDiscoveryPacket::encode(int type, const std::string& payload) {
    Vantrel::rcAttrStream stream;
    stream.addIntValue(VERSION_KEY, VERSION);
    stream.addIntValue(TYPE_KEY, type);
    // The payload may hold NUL bytes; the stream's setters stop at the first, so the value
    // is appended by hand in the same form.
    std::string text = stream.getStreamStr();
    text += DATA_KEY;
    text += ' ';
    text += std::to_string(payload.size());
    text += ' ';
    text += payload;
    return text;
}

std::string VantrelDiscoveryPacket::findServersPayload(const char* database) {
    if (database == nullptr || database[0] == '\0') return std::string();
    Vantrel::rcAttrStream stream;
    stream.addStringValue(DATABASE_KEY, database);
    return stream.getStreamStr();
}

bool VantrelDiscoveryPacket::decode(const char* data, size_t size, Decoded& out,
                                    std::string& error) {
    const std::string text(data, size);
    const Vantrel::rcAttrStream stream(text);
    if (!stream.getIntValue(VERSION_KEY, out.version)) {
        error = "Request is lacking a version tag: " + text + ".";
        return false;
    }
    if (out.version == 0) {
        error = "Request's version is incompatible: 0";
        return false;
    }
    if (!stream.getIntValue(TYPE_KEY, out.type)) {
        error = "Request is lacking a type tag: " + text + ".";
        return false;
    }
    if (!isKnownType(out.type)) {
        error = "Unknown request type: " + std::to_string(out.type) + ".";
        return false;
    }
    if (!stream.getStringValue(DATA_KEY, out.payload)) {
        error = "Request is lacking data: " + text + ".";
        return false;
    }
    return true;
}
