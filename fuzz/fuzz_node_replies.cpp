// The decoders of node replies on arbitrary bytes: the counted list, both children lists, the
// clip format text and the number pairs. None may read outside its input or crash, and what
// they accept must hold together: a decoded counted list encodes and decodes to the same items,
// a children text gives one child per pair, a clip format keeps its texts within their limits.
//
// The first byte picks the decoder (its value modulo 4); the rest is the reply text. Seeds are
// replies of each kind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "vantrel/client/nodes/VantrelCountedList.h"
#include "vantrel/client/nodes/VantrelNodeWire.h"

using fuzzing::check;

namespace {

void countedList(const std::string& text) {
    std::vector<std::string> items;
    if (!VantrelCountedList::decode(text, items)) {
        check(items.empty());
        return;
    }
    size_t bytes = 0;
    for (const std::string& item : items) bytes += item.size();
    check(bytes <= text.size());
    std::vector<std::string> again;
    check(VantrelCountedList::decode(VantrelCountedList::encode(items), again));
    check(again == items);
}

void childrenLists(const std::string& text) {
    const size_t commas = static_cast<size_t>(std::count(text.begin(), text.end(), ','));
    const size_t items = text.empty() ? 0 : commas + 1;
    check(VantrelNodeWire::parseChildrenText(text).size() == items / 2);
    std::vector<VantrelNodeInterface::Child> children;
    if (!VantrelNodeWire::parseChildrenStream(text, children)) check(children.empty());
}

void clipFormat(const std::string& text) {
    VantrelClipFormat format;
    if (!VantrelNodeWire::parseClipFormatText(text, format)) return;
    check(std::strlen(format.formatTag()) <= 255);
    check(std::strlen(format.metaDataTag()) <= 255);
    check(std::strlen(format.metaData()) <= 4095);
}

void intPair(const std::string& text) {
    int first = 7, second = 9;
    if (!VantrelNodeWire::parseIntPair(text, first, second)) check(first == 7 && second == 9);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 4) {
        case 0: countedList(text); break;
        case 1: childrenLists(text); break;
        case 2: clipFormat(text); break;
        default: intPair(text); break;
    }
    return 0;
}
