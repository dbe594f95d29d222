// Attribute streams on arbitrary bytes: every reader, the iterators, comparison, printing and
// the editing operations must stay inside the text, end, and keep their invariants, whatever
// a peer sends.
//
// The whole input is the stream text, so seeds are plain attribute streams. A few knobs are
// derived from it: the first byte picks where the input is split for a second stream, the
// last byte gives the width for the pretty string.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "vantrel/CoMsg.h"
#include "rcApi/rcAttrStream.h"

using Vantrel::CoMsg;
using Vantrel::rcAttrStream;

using fuzzing::DiscardingRouter;

using fuzzing::check;

namespace {

// The text up to its first NUL: what the const char* interfaces can see.
std::string visible(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

// The names the iterator reads, checking that every offset stays inside the data.
std::vector<std::string> readNames(const rcAttrStream& stream) {
    rcAttrStream::ConstIterator it(stream);
    const std::string& data = it.getData();
    std::vector<std::string> names;
    unsigned int namePos, nameLen, valuePos, valueLen;
    while (it.next(namePos, nameLen, valuePos, valueLen)) {
        check(nameLen > 0 && uint64_t{namePos} + nameLen <= data.size());
        check(uint64_t{valuePos} + valueLen <= data.size());
        names.emplace_back(data, namePos, nameLen);
    }
    check(names.size() == it.getSize());
    return names;
}

void readEveryType(const rcAttrStream& stream, const char* name) {
    std::string text;
    char small[1], medium[8], large[80];
    int i;
    unsigned int u, u32;
    uint64_t u64;
    unsigned char uc;
    float f;
    bool b;
    stream.getStringValue(name, text);
    stream.getStringValue(name, small, sizeof small);
    stream.getStringValue(name, medium, sizeof medium);
    stream.getStringValue(name, large, sizeof large);
    stream.getIntValue(name, i);
    stream.getUIntValue(name, u);
    stream.getUInt32Value(name, u32);
    stream.getUInt64Value(name, u64);
    stream.getUCharValue(name, uc);
    stream.getFloatValue(name, f);
    stream.getBoolValue(name, b);
}

void exerciseReaders(const rcAttrStream& stream, const std::vector<std::string>& names) {
    check(stream.isEmpty() == names.empty());
    // Every name the iterator reads is found again by the circular search.
    for (const std::string& name : names) {
        if (name.find('\0') != std::string::npos) continue;
        std::string value;
        check(stream.getStringValue(name.c_str(), value));
        readEveryType(stream, name.c_str());
    }
    readEveryType(stream, "host");
    readEveryType(stream, "");
    readEveryType(stream, nullptr);
}

void exerciseComparison(const rcAttrStream& stream, const std::string& text, size_t split) {
    const rcAttrStream head(text.substr(0, split));
    const rcAttrStream tail(text.substr(split));
    (void)(head == tail);
    (void)(stream == head);
    (void)(tail == stream);
    rcAttrStream copy(stream);
    check(copy == stream);
    rcAttrStream assigned;
    assigned = stream;
    check(assigned == stream);
}

void exercisePrinting(const rcAttrStream& stream, int width) {
    stream.toPrettyString(width);
    stream.prettyDump(width);
    stream.dump();
}

// Removal blanks in place: the text keeps its size and loses at most one attribute.
void exerciseRemoval(rcAttrStream& stream, const std::vector<std::string>& names) {
    const size_t textSize = stream.getStreamStr().size();
    const size_t count = names.size();
    rcAttrStream::Iterator it(stream);
    if (!names.empty() && names.front().find('\0') == std::string::npos) {
        it.remove(names.front().c_str());
        check(readNames(stream).size() + 1 == count);
    }
    it.remove("host");
    it.remove(nullptr);
    check(stream.getStreamStr().size() == textSize);
}

void exerciseWriters(rcAttrStream& stream, const std::string& text, size_t split) {
    const std::string name = visible(text.substr(split, 8));
    const std::string value = visible(text.substr(0, split));
    stream.addStringValue(name.c_str(), value.c_str());
    stream.addStringValue("host", value.c_str());
    stream.addIntValue("i", static_cast<int>(split) - 128);
    stream.addFloatValue("f", static_cast<float>(split) / 3);
    stream.addUInt32Value("u32", static_cast<unsigned int>(split));
    stream.addUInt64Value("u64", uint64_t{split} << 40);
    stream.addBoolValue("b", split % 2 == 0);
    readNames(stream);
    readEveryType(stream, "host");
    readEveryType(stream, name.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const DiscardingRouter router;
    static const bool routed = (CoMsg::setRouter(&router), CoMsg::setFilterLevel(CoMsg::NOTICE_LEVEL), true);
    (void)routed;

    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t split = size > 0 ? data[0] % (size + 1) : 0;
    const int width = size > 0 ? static_cast<int8_t>(data[size - 1]) : 0;

    rcAttrStream stream(text);
    const std::vector<std::string> names = readNames(stream);
    exerciseReaders(stream, names);
    exerciseComparison(stream, text, split);
    exercisePrinting(stream, width);
    exerciseRemoval(stream, names);
    exerciseWriters(stream, text, split);
    return 0;
}
