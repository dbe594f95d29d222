#include "vantrel/client/nodes/VantrelNodeWire.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vantrel/CoException.h"
#include "vantrel/VantrelExport.h"
#include "rcApi/rcAttrStream.h"
#include "rcApi/rcParam.h"
#include "vantrel/client/nodes/VantrelCountedList.h"

namespace VantrelNodeWire {

namespace {

std::string printed(const char* format, ...) VANTREL_PRINTF(1, 2);

std::string printed(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0) std::vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    return text;
}

// Calls `visit` with the position and length of each item between commas, empty ones
// included; the empty text has no items.
template <class Visit>
void forEachCommaItem(const std::string& text, Visit visit) {
    if (text.empty()) return;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            visit(start, text.size() - start);
            return;
        }
        visit(start, comma - start);
        start = comma + 1;
    }
}

// How many children a "GetChildrenEx" text can hold, counted before they are read so that the
// list is sized once. Never more than the text's bytes allow a sound child (an attribute around
// "Id 0 Displ 0 ", at least 18 bytes): a text of small items that are no children costs little.
size_t childCountBound(const std::string& text) {
    constexpr size_t SMALLEST_CHILD_BYTES = 18;
    Vantrel::rcAttrView list(text);
    std::string_view name, value;
    size_t count = 0;
    while (count < text.size() / SMALLEST_CHILD_BYTES && list.next(name, value)) ++count;
    return count;
}

}  // namespace

std::string nodeIdText(const VantrelNodeId& id) {
    if (std::strchr(id.id(), ' ') == nullptr) return id.id();
    return Vantrel::rcParamStringToEscapedString(id.id()).getEscapedString();
}

std::string commaFormNodeIdText(const VantrelNodeId& id) {
    if (std::strchr(id.id(), ',') != nullptr) {
        const std::string message = "Invalid node id: '" + std::string(id.id()) + "'.";
        Vantrel::CoException(__LINE__, __FILE__).fire(message.c_str(), nullptr);
    }
    return nodeIdText(id);
}

std::string clipFormatText(const VantrelClipFormat& f) {
    // No cut at a fixed size: a cut request would create a node with a corrupted format.
    return printed("%d %d %d %d %d %g %g %s %d %s ", f.width(), f.height(), f.bitsPerPixel(),
                   f.numChannels(), f.frameBufferSize(), static_cast<double>(f.pixelRatio()),
                   static_cast<double>(f.frameRate()), f.formatTag(),
                   static_cast<int>(f.scanFormat()), f.metaDataTag()) +
           Vantrel::rcParamStringToEscapedString(f.metaData()).getEscapedString();
}

bool parseClipFormatText(const std::string& text, VantrelClipFormat& format) {
    int width = 0, height = 0, bitsPerPixel = 0, numChannels = 0, bufferSize = 0, scan = 0;
    float pixelRatio = 0, frameRate = 0;
    char formatTag[256] = {};
    char metaDataTag[256] = {};
    char metaData[4096] = {};
    const int fields = std::sscanf(text.c_str(), "%d %d %d %d %d %g %g %255s %d %255s %4095c",
                                   &width, &height, &bitsPerPixel, &numChannels, &bufferSize,
                                   &pixelRatio, &frameRate, formatTag, &scan, metaDataTag,
                                   metaData);
    if (fields < 10) return false;
    format.setWidth(width);
    format.setHeight(height);
    format.setBitsPerPixel(bitsPerPixel);
    format.setNumChannels(numChannels);
    format.setFrameBufferSize(bufferSize);
    format.setPixelRatio(pixelRatio);
    format.setFrameRate(frameRate);
    format.setFormatTag(formatTag);
    format.setScanFormat(static_cast<VantrelClipFormat::ScanFormat>(scan));
    format.setMetaDataTag(metaDataTag);
    format.setMetaData(metaData);
    return true;
}

std::string clipFormatStream(const VantrelClipFormat& f) {
    Vantrel::rcAttrStream stream;
    stream.addIntValue("w", f.width());
    stream.addIntValue("h", f.height());
    stream.addIntValue("bpp", f.bitsPerPixel());
    stream.addIntValue("nch", f.numChannels());
    stream.addIntValue("sz", f.frameBufferSize());
    stream.addFloatValue("asp", f.pixelRatio());
    stream.addFloatValue("rate", f.frameRate());
    stream.addStringValue("fmt", f.formatTag());
    stream.addIntValue("scan", static_cast<int>(f.scanFormat()));
    stream.addStringValue("metag", f.metaDataTag());
    stream.addStringValue("meta", f.metaData());
    return stream.getStreamStr();
}

std::vector<std::string> splitCommaList(const std::string& text) {
    std::vector<std::string> items;
    forEachCommaItem(text, [&](size_t pos, size_t length) { items.push_back(text.substr(pos, length)); });
    return items;
}

std::string joinCommaList(const std::vector<std::string>& items) {
    size_t bytes = items.size();
    for (const std::string& item : items) bytes += item.size();
    std::string text;
    text.reserve(bytes);
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += ',';
        text += items[i];
    }
    return text;
}

std::vector<VantrelNodeInterface::Child> parseChildrenText(const std::string& text) {
    // Read in place, item by item: a list of a million children is not split into strings
    // first.
    std::vector<VantrelNodeInterface::Child> children;
    // Sized once: growing a list of a million children would move every one of them again
    // and again, into fresh memory each time.
    if (!text.empty()) children.reserve((std::count(text.begin(), text.end(), ',') + 1) / 2);
    size_t idPos = 0, idLength = 0;
    bool haveId = false;
    forEachCommaItem(text, [&](size_t pos, size_t length) {
        if (haveId)
            children.push_back(
                VantrelNodeInterface::Child{text.substr(pos, length), text.substr(idPos, idLength)});
        idPos = pos;
        idLength = length;
        haveId = !haveId;
    });
    return children;
}

bool parseChildrenStream(const std::string& text,
                         std::vector<VantrelNodeInterface::Child>& children) {
    children.clear();
    // Read in place: neither the list nor its items are copied before they are read.
    Vantrel::rcAttrView list(text);
    // The reader stops quietly at malformed text and reads a value cut short by the end of
    // the reply as a shorter one: refuse both rather than take a truncated list for a whole
    // one. Blank attributes, anywhere, are absent children.
    if (!list.isWhole()) return false;
    std::vector<VantrelNodeInterface::Child> read;
    read.reserve(childCountBound(text));
    std::string_view name, value;
    while (list.next(name, value)) {
        VantrelNodeInterface::Child child;
        Vantrel::rcAttrView item(value);
        if (!item.getStringValue("Id", child.nodeId) ||
            !item.getStringValue("Displ", child.displayName))
            return false;
        read.push_back(std::move(child));
    }
    children.swap(read);
    return true;
}

bool parseFrameIdList(const std::string& text, std::vector<VantrelFrameId>& ids) {
    ids.clear();
    std::vector<VantrelFrameId> read;
    std::string id;
    const bool ok = VantrelCountedList::visit(
        text, [&](size_t count) { read.reserve(count); },
        [&](size_t pos, size_t length) {
            id.assign(text, pos, length);
            read.emplace_back(id.c_str());
        });
    if (ok) ids.swap(read);
    return ok;
}

std::vector<VantrelFrameId> parseFrameIdCommaList(const std::string& text) {
    std::vector<VantrelFrameId> ids;
    std::string id;
    forEachCommaItem(text, [&](size_t pos, size_t length) {
        id.assign(text, pos, length);
        ids.emplace_back(id.c_str());
    });
    return ids;
}

bool parseIntPair(const std::string& text, int& first, int& second) {
    int a = 0, b = 0;
    if (std::sscanf(text.c_str(), "%d %d", &a, &b) != 2) return false;
    first = a;
    second = b;
    return true;
}

}  // namespace VantrelNodeWire
