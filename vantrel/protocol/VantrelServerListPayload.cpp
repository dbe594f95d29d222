#include "vantrel/protocol/VantrelServerListPayload.h"

#include <map>

#include "vantrel/CoMsg.h"
#include "rcApi/rcAttrStream.h"

namespace {

const char COUNT_KEY[] = "Count";
const char NODE_KEY[] = "Node";
constexpr size_t NODE_KEY_LENGTH = sizeof NODE_KEY - 1;

// The index of a key written as "Node" and "%d" with 0 <= index < count; -1 for any other.
long nodeIndex(const std::string& data, unsigned pos, unsigned len, int count) {
    if (len <= NODE_KEY_LENGTH || data.compare(pos, NODE_KEY_LENGTH, NODE_KEY) != 0) return -1;
    const size_t digits = len - NODE_KEY_LENGTH;
    const size_t first = pos + NODE_KEY_LENGTH;
    if (digits > 10 || (digits > 1 && data[first] == '0')) return -1;
    long index = 0;
    for (size_t i = first; i < first + digits; ++i) {
        if (data[i] < '0' || data[i] > '9') return -1;
        index = index * 10 + (data[i] - '0');
    }
    return index < count ? index : -1;
}

// Every node record present, by index; the first of duplicated keys wins.
std::map<long, std::string> presentNodes(const Vantrel::rcAttrStream& stream, int count) {
    std::map<long, std::string> nodes;
    Vantrel::rcAttrStream::ConstIterator it(stream);
    const std::string& data = it.getData();
    unsigned namePos, nameLen, valuePos, valueLen;
    while (it.next(namePos, nameLen, valuePos, valueLen)) {
        const long index = nodeIndex(data, namePos, nameLen, count);
        if (index >= 0) nodes.emplace(index, data.substr(valuePos, valueLen));
    }
    return nodes;
}

// Reports the missing indices first..last (nothing when first > last); a run of them in one
// message, so that the messages stay as few as the records present.
void reportMissing(long first, long last, int count) {
    if (first == last) CO_MSG_ERROR("Stream is missing node %ld of %d.", first, count);
    if (first < last) CO_MSG_ERROR("Stream is missing nodes %ld to %ld of %d.", first, last, count);
}

}  // namespace

std::string VantrelServerListPayload::encode(const std::vector<std::string>& records) {
    Vantrel::rcAttrStream stream;
    stream.addIntValue(COUNT_KEY, static_cast<int>(records.size()));
    for (size_t i = 0; i < records.size(); ++i)
        stream.addStringValue((NODE_KEY + std::to_string(i)).c_str(), records[i].c_str());
    return stream.getStreamStr();
}

std::vector<std::string> VantrelServerListPayload::decode(const std::string& payload) {
    const Vantrel::rcAttrStream stream(payload);
    int count = 0;
    if (!stream.getIntValue(COUNT_KEY, count) || count <= 0) {
        CO_MSG_DEBUG("Stream does not have any nodes.");
        return {};
    }
    const std::map<long, std::string> nodes = presentNodes(stream, count);
    std::vector<std::string> records;
    long next = 0;
    for (const auto& node : nodes) {
        reportMissing(next, node.first - 1, count);
        records.push_back(node.second);
        next = node.first + 1;
    }
    reportMissing(next, count - 1L, count);
    return records;
}
