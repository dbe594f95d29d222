#include "vantrel/server/ClipFormatText.h"

#include <cstdio>

#include "rcApi/rcAttrStream.h"
#include "vantrel/server/WireText.h"

namespace vantreld {

namespace {

// Readers split the text form at white space, so an empty tag would shift every later field:
// it goes out as the word clients already know for "no tag".
const char* tagWord(const char* tag) { return *tag != '\0' ? tag : "none"; }

}  // namespace

std::string ClipFormatText::toReplyText(const VantrelClipFormat& f) {
    // Tags are single words of at most 255 bytes for readers; the buffer holds both.
    char numbers[1024];
    std::snprintf(numbers, sizeof numbers, "%d %d %d %d %d %g %g %.255s %d %.255s ", f.width(),
                  f.height(), f.bitsPerPixel(), f.numChannels(), f.frameBufferSize(),
                  static_cast<double>(f.pixelRatio()), static_cast<double>(f.frameRate()),
                  tagWord(f.formatTag()), static_cast<int>(f.scanFormat()),
                  tagWord(f.metaDataTag()));
    return std::string(numbers) + f.metaData();
}

VantrelClipFormat ClipFormatText::fromWords(const ArgumentWords& words, size_t first) {
    words.requireAtLeast(first + TEXT_WORDS);
    VantrelClipFormat f;
    f.setWidth(parseInt(words[first]));
    f.setHeight(parseInt(words[first + 1]));
    f.setBitsPerPixel(parseInt(words[first + 2]));
    f.setNumChannels(parseInt(words[first + 3]));
    f.setFrameBufferSize(parseInt(words[first + 4]));
    f.setPixelRatio(static_cast<float>(parseDouble(words[first + 5])));
    f.setFrameRate(static_cast<float>(parseDouble(words[first + 6])));
    f.setFormatTag(words[first + 7].c_str());
    f.setScanFormat(static_cast<VantrelClipFormat::ScanFormat>(parseInt(words[first + 8])));
    f.setMetaDataTag(words[first + 9].c_str());
    f.setMetaData(words[first + 10].c_str());
    return f;
}

std::string ClipFormatText::toStream(const VantrelClipFormat& f) {
    auto exact = [](float value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
        return std::string(text);
    };
    AttrStreamWriter out;
    out.addInt("w", f.width());
    out.addInt("h", f.height());
    out.addInt("bpp", f.bitsPerPixel());
    out.addInt("nch", f.numChannels());
    out.addInt("sz", f.frameBufferSize());
    out.add("asp", exact(f.pixelRatio()));
    out.add("rate", exact(f.frameRate()));
    out.add("fmt", f.formatTag());
    out.addInt("scan", static_cast<int>(f.scanFormat()));
    out.add("metag", f.metaDataTag());
    out.add("meta", f.metaData());
    return out.take();
}

VantrelClipFormat ClipFormatText::fromStream(const std::string& text) {
    const Vantrel::rcAttrStream stream(text);
    VantrelClipFormat f;
    int number = 0;
    float real = 0;
    std::string word;
    if (stream.getIntValue("w", number)) f.setWidth(number);
    if (stream.getIntValue("h", number)) f.setHeight(number);
    if (stream.getIntValue("bpp", number)) f.setBitsPerPixel(number);
    if (stream.getIntValue("nch", number)) f.setNumChannels(number);
    if (stream.getIntValue("sz", number)) f.setFrameBufferSize(number);
    if (stream.getFloatValue("asp", real)) f.setPixelRatio(real);
    if (stream.getFloatValue("rate", real)) f.setFrameRate(real);
    if (stream.getStringValue("fmt", word)) f.setFormatTag(word.c_str());
    if (stream.getIntValue("scan", number))
        f.setScanFormat(static_cast<VantrelClipFormat::ScanFormat>(number));
    if (stream.getStringValue("metag", word)) f.setMetaDataTag(word.c_str());
    if (stream.getStringValue("meta", word)) f.setMetaData(word.c_str());
    return f;
}

}  // namespace vantreld
