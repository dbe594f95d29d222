#include "vantrel/protocol/EventWire.h"

#include <climits>

#include "rcApi/rcAttrStream.h"

namespace VantrelEventWire {

namespace {

bool readDecimal(const Vantrel::rcAttrStream& stream, const char* key, int& value,
                 std::string& error) {
    std::string text;
    if (!stream.getStringValue(key, text)) {
        error = std::string("Missing '") + key + "' parameter";
        return false;
    }
    if (!parseDecimal(text, value)) {
        error = std::string("Invalid '") + key + "' value: '" + text.substr(0, 32) + "'";
        return false;
    }
    return true;
}

// NAME ' ' LENGTH ' ' VALUE, with every byte of the value (a NUL included).
void appendAttribute(std::string& out, const char* name, const std::string& value) {
    out += name;
    out += ' ';
    out += std::to_string(value.size());
    out += ' ';
    out += value;
}

}  // namespace

bool parseDecimal(const std::string& text, int& value) {
    size_t at = text.size() > 0 && text[0] == '-' ? 1 : 0;
    if (at == text.size() || text.size() - at > 10) return false;
    long long number = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9') return false;
        number = number * 10 + (text[at] - '0');
    }
    if (text[0] == '-') number = -number;
    if (number < INT_MIN || number > INT_MAX) return false;
    value = static_cast<int>(number);
    return true;
}

std::string encodeRegistration(const Registration& registration) {
    std::string out;
    appendAttribute(out, "Port", std::to_string(registration.port));
    appendAttribute(out, "Connection", std::to_string(registration.connection));
    appendAttribute(out, "Subject", registration.subject);
    return out;
}

bool decodeRegistration(const std::string& text, Registration& out, std::string& error) {
    const Vantrel::rcAttrStream stream(text);
    if (!readDecimal(stream, "Port", out.port, error)) return false;
    if (!readDecimal(stream, "Connection", out.connection, error)) return false;
    if (!stream.getStringValue("Subject", out.subject)) {
        error = "Missing 'Subject' parameter";
        return false;
    }
    return true;
}

std::string encodeNodeEvent(const NodeEvent& event) {
    std::string out;
    out.reserve(event.nodeId.size() + event.type.size() + event.details.size() + 48);
    appendAttribute(out, "NodeId", event.nodeId);
    appendAttribute(out, "Type", event.type);
    appendAttribute(out, "Details", event.details);
    return out;
}

std::string encodeDetails(const std::vector<std::pair<std::string, std::string>>& details) {
    std::string out;
    for (const auto& detail : details) appendAttribute(out, detail.first.c_str(), detail.second);
    return out;
}

bool decodeNodeEvent(const std::string& text, NodeEvent& out, std::string& missingKey) {
    const Vantrel::rcAttrStream stream(text);
    const struct {
        const char* key;
        std::string* value;
    } fields[] = {{"NodeId", &out.nodeId}, {"Type", &out.type}, {"Details", &out.details}};
    for (const auto& field : fields) {
        if (!stream.getStringValue(field.key, *field.value)) {
            missingKey = field.key;
            return false;
        }
    }
    return true;
}

}  // namespace VantrelEventWire
