#include "vantrel/client/VantrelNodeWire.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "loggerBase/CoException.h"
#include "rcApi/rcAttrStream.h"
#include "rcApi/rcParam.h"

namespace VantrelNodeWire {

namespace {

std::string printed(const char* format, ...) __attribute__((format(printf, 1, 2)));

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
    if (text.empty()) return items;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            items.push_back(text.substr(start));
            return items;
        }
        items.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
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
    const std::vector<std::string> items = splitCommaList(text);
    std::vector<VantrelNodeInterface::Child> children;
    children.reserve(items.size() / 2);
    for (size_t i = 0; i + 1 < items.size(); i += 2)
        children.push_back(VantrelNodeInterface::Child{items[i + 1], items[i]});
    return children;
}

bool parseChildrenStream(const std::string& text,
                         std::vector<VantrelNodeInterface::Child>& children) {
    children.clear();
    const Vantrel::rcAttrStream list(text);
    // The reader stops quietly at malformed text and reads a value cut short by the end of
    // the reply as a shorter one: refuse both rather than take a truncated list for a whole
    // one. Blank attributes, anywhere, are absent children.
    if (!list.isWhole()) return false;
    Vantrel::rcAttrStream::ConstIterator it(list);
    const std::string& data = it.getData();
    std::vector<VantrelNodeInterface::Child> read;
    unsigned namePos = 0, nameLen = 0, valuePos = 0, valueLen = 0;
    while (it.next(namePos, nameLen, valuePos, valueLen)) {
        VantrelNodeInterface::Child child;
        const Vantrel::rcAttrStream item(data.substr(valuePos, valueLen));
        if (!item.getStringValue("Id", child.nodeId) ||
            !item.getStringValue("Displ", child.displayName))
            return false;
        read.push_back(std::move(child));
    }
    children.swap(read);
    return true;
}

bool parseIntPair(const std::string& text, int& first, int& second) {
    int a = 0, b = 0;
    if (std::sscanf(text.c_str(), "%d %d", &a, &b) != 2) return false;
    first = a;
    second = b;
    return true;
}

}  // namespace VantrelNodeWire
