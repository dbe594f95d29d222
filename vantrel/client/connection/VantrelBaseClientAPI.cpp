#include "vantrel/client/connection/VantrelBaseClientAPI.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "rcApi/rcAttrStream.h"
#include "vantrel/client/connection/VantrelClientConnection.h"
#include "vantrel/protocol/EventWire.h"

using Vantrel::rcAttrStream;

namespace {

constexpr unsigned int LONG_TIMEOUT_MS = VantrelClientConnection::LONG_TIMEOUT_MS;
constexpr size_t PREFIX_BUFFER_SIZE = 1024;

std::string stringValue(const rcAttrStream& stream, const char* name) {
    std::string value;
    stream.getStringValue(name, value);
    return value;
}

// The row index a key names: decimal as "%d" writes it, below `count`; -1 for other keys.
int rowIndex(const std::string& data, unsigned int at, unsigned int length, int count) {
    if (length == 0 || length > 9 || (length > 1 && data[at] == '0')) return -1;
    int index = 0;
    for (unsigned int i = at; i < at + length; ++i) {
        if (data[i] < '0' || data[i] > '9') return -1;
        index = index * 10 + (data[i] - '0');
    }
    return index < count ? index : -1;
}

// The values of the keys "0" to "count - 1" (the first of each; empty when absent), read in
// one pass: a lookup per row would cost rows times attributes, which a hostile reply of many
// tiny attributes and a large count makes hours of work.
std::vector<std::string> rowTexts(const rcAttrStream& stream, int count) {
    std::vector<std::string> rows(static_cast<size_t>(count));
    std::vector<bool> seen(static_cast<size_t>(count), false);
    rcAttrStream::ConstIterator it(stream);
    const std::string& data = it.getData();
    unsigned int namePos, nameLen, valuePos, valueLen;
    while (it.next(namePos, nameLen, valuePos, valueLen)) {
        const int index = rowIndex(data, namePos, nameLen, count);
        if (index < 0 || seen[static_cast<size_t>(index)]) continue;
        seen[static_cast<size_t>(index)] = true;
        rows[static_cast<size_t>(index)].assign(data, valuePos, valueLen);
    }
    return rows;
}

// The records of a table reply: "COUNT-KEY" holds their number, and the keys "0", "1", ...
// the records; a record the reply lacks is an empty one. The number is believed up to
// VantrelBaseClientAPI::MAX_TABLE_ROWS, so that a hostile count cannot make this process
// allocate without bound.
template <class Record>
void decodeTable(const std::string& reply, const char* countKey, std::vector<Record>& table,
                 void (*decodeRecord)(const std::string&, Record&)) {
    table.clear();
    const rcAttrStream stream(reply);
    int count = 0;
    stream.getIntValue(countKey, count);
    count = std::max(0, std::min(count, VantrelBaseClientAPI::MAX_TABLE_ROWS));
    for (const std::string& text : rowTexts(stream, count)) {
        Record record;
        decodeRecord(text, record);
        table.push_back(record);
    }
}

void decodeHostTranslation(const std::string& text, VantrelServerHandle::HostTranslation& out) {
    const rcAttrStream record(text);
    out.srcHost = stringValue(record, "srcHost").c_str();
    out.srcPath = stringValue(record, "srcPath").c_str();
    out.dstHost = stringValue(record, "dstHost").c_str();
    out.dstPath = stringValue(record, "dstPath").c_str();
}

void decodeOsTypeTranslation(const std::string& text,
                             VantrelServerHandle::OsTypeTranslation& out) {
    const rcAttrStream record(text);
    out.srcType = stringValue(record, "srcType").c_str();
    out.srcPath = stringValue(record, "srcPath").c_str();
    out.dstType = stringValue(record, "dstType").c_str();
    out.dstPath = stringValue(record, "dstPath").c_str();
}

void decodeTranslationGroup(const std::string& text, VantrelServerHandle::TranslationGroup& out) {
    VantrelStrList items;
    VantrelBaseClientAPI::splitList(text, items);
    if (items.size() > 0) out.name = items[0];
    if (items.size() > 1) out.number = std::atoi(items[1]);
    for (unsigned i = 2; i < items.size(); ++i) out.entries.push_back(items[i]);
}

bool isEmpty(const char* text) { return text == nullptr || text[0] == '\0'; }

}  // namespace

VantrelBaseInterface::~VantrelBaseInterface() = default;

VantrelBaseClientAPI::VantrelBaseClientAPI(VantrelClientConnection* connection)
    : connection_(connection) {}

VantrelBaseClientAPI::~VantrelBaseClientAPI() = default;

bool VantrelBaseClientAPI::call(const char* method, const std::string& args, std::string& reply,
                                unsigned int timeoutMs) {
    try {
        connection_->call(method, args, true, reply, timeoutMs);
        return true;
    } catch (const std::exception& e) {
        setLastError(e.what());
        return false;
    }
}

bool VantrelBaseClientAPI::ping(unsigned int timeoutMs) {
    std::string reply;
    return call("Ping", "", reply, timeoutMs);
}

bool VantrelBaseClientAPI::queryVersion(int& major, int& minor) {
    std::string reply;
    if (!call("QueryVersion", "", reply, LONG_TIMEOUT_MS)) return false;
    // A reply without two numbers must not pass as a version.
    if (std::sscanf(reply.c_str(), "%d %d", &major, &minor) != 2) {
        setLastError("Invalid version reply: '" + reply + "'");
        return false;
    }
    return true;
}

std::shared_ptr<const VantrelDaemonInfo> VantrelBaseClientAPI::daemonInfo() {
    try {
        return connection_->daemonInfo();
    } catch (const std::exception& e) {
        setLastError(e.what());
        return nullptr;
    }
}

bool VantrelBaseClientAPI::shutdown() {
    std::string reply;
    return call("Shutdown", "", reply, LONG_TIMEOUT_MS);
}

std::string VantrelBaseClientAPI::translatePathsArgs(const VantrelStrList& in, const char* srcHost,
                                                     const char* dstHost,
                                                     VantrelOS::OsType srcType,
                                                     VantrelOS::OsType dstType) {
    char prefix[PREFIX_BUFFER_SIZE];
    std::snprintf(prefix, sizeof prefix, "\"%s\" %d \"%s\" %d ", srcHost, static_cast<int>(srcType),
                  dstHost, static_cast<int>(dstType));
    std::string args = prefix;
    for (unsigned i = 0; i < in.size(); ++i) {
        if (i > 0) args += ',';
        args += '"';
        args += in[i];
        args += '"';
    }
    return args;
}

void VantrelBaseClientAPI::splitList(const std::string& reply, VantrelStrList& out) {
    out.resize(-1);
    if (reply.empty()) return;
    size_t start = 0;
    for (;;) {
        const size_t comma = reply.find(',', start);
        out.push_back(reply.substr(start, comma - start).c_str());
        if (comma == std::string::npos) return;
        start = comma + 1;
    }
}

bool VantrelBaseClientAPI::translatePaths(const VantrelStrList& in, VantrelStrList& out,
                                          const char* srcHost, const char* dstHost,
                                          VantrelOS::OsType srcType, VantrelOS::OsType dstType) {
    if (isEmpty(srcHost)) {
        setLastError("Invalid source host name given");
        return false;
    }
    if (isEmpty(dstHost)) {
        setLastError("Invalid destination host name given");
        return false;
    }
    std::string reply;
    if (!call("TranslatePaths", translatePathsArgs(in, srcHost, dstHost, srcType, dstType), reply,
              LONG_TIMEOUT_MS))
        return false;
    splitList(reply, out);
    return true;
}

bool VantrelBaseClientAPI::eventsCall(const char* method, int port, int connection,
                                      const char* nodeId, unsigned int timeoutMs) {
    const VantrelEventWire::Registration registration{port, connection,
                                                      nodeId != nullptr ? nodeId : ""};
    std::string reply;
    return call(method, VantrelEventWire::encodeRegistration(registration), reply, timeoutMs);
}

bool VantrelBaseClientAPI::registerEvents(int port, int connection, const char* nodeId) {
    return eventsCall(VantrelEventWire::REGISTER_METHOD, port, connection, nodeId,
                      VantrelEventWire::REGISTER_TIMEOUT_MS);
}

bool VantrelBaseClientAPI::unregisterEvents(int port, int connection, const char* nodeId) {
    return eventsCall(VantrelEventWire::UNREGISTER_METHOD, port, connection, nodeId,
                      VantrelEventWire::UNREGISTER_TIMEOUT_MS);
}

void VantrelBaseClientAPI::decodeHostTranslations(
    const std::string& reply, std::vector<VantrelServerHandle::HostTranslation>& table) {
    decodeTable(reply, "numHostTranslations", table, decodeHostTranslation);
}

void VantrelBaseClientAPI::decodeOsTypeTranslations(
    const std::string& reply, std::vector<VantrelServerHandle::OsTypeTranslation>& table) {
    decodeTable(reply, "numOsTypeTranslations", table, decodeOsTypeTranslation);
}

void VantrelBaseClientAPI::decodeTranslationGroups(
    const std::string& reply, std::vector<VantrelServerHandle::TranslationGroup>& table) {
    decodeTable(reply, "numGroups", table, decodeTranslationGroup);
}

bool VantrelBaseClientAPI::getHostTranslations(
    std::vector<VantrelServerHandle::HostTranslation>& table) {
    table.clear();
    std::string reply;
    if (!call("GetHostTranslations", "", reply, LONG_TIMEOUT_MS)) return false;
    decodeHostTranslations(reply, table);
    return true;
}

bool VantrelBaseClientAPI::getOsTypeTranslations(
    std::vector<VantrelServerHandle::OsTypeTranslation>& table) {
    table.clear();
    std::string reply;
    if (!call("GetOsTypeTranslations", "", reply, LONG_TIMEOUT_MS)) return false;
    decodeOsTypeTranslations(reply, table);
    return true;
}

bool VantrelBaseClientAPI::getTranslationGroups(
    std::vector<VantrelServerHandle::TranslationGroup>& table) {
    table.clear();
    std::string reply;
    if (!call("GetTranslationGroups", "", reply, LONG_TIMEOUT_MS)) return false;
    decodeTranslationGroups(reply, table);
    return true;
}

bool VantrelBaseClientAPI::isConnected() { return connection_->isConnected(); }
