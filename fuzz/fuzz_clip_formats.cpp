// vantreld's decoders of the two clip-format forms clients send, on arbitrary bytes: the
// attribute-stream form ("Fmt" of the stream requests) and the eleven words of the text form
// ("CreateNode"). Malformed input may only be refused with a ServerError. What is accepted
// must survive the server's own round trip (the stream it stores decodes to the same format),
// and the "GetClipFormat" reply made from it must read back in the client with the same
// numbers and texts wherever the text form can carry them (single-word tags of at most 255
// bytes, metadata of at most 4095 bytes that does not start with white space).
//
// The first byte picks the form (even: stream, odd: text); the rest is the argument text.
// Seeds are the formats a client sent to vantreld in both forms.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "vantrel/VantrelClipFormat.h"
#include "vantrel/client/nodes/VantrelNodeWire.h"
#include "vantrel/server/ClipFormatText.h"
#include "vantrel/server/ServerError.h"
#include "vantrel/server/WireText.h"

using fuzzing::check;
using vantreld::ClipFormatText;

namespace {

bool isOneWord(const char* text, size_t limit) {
    const size_t length = std::strlen(text);
    if (length == 0 || length > limit) return false;
    for (size_t i = 0; i < length; ++i)
        if (std::isspace(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

bool replyCarries(const VantrelClipFormat& f) {
    const char* meta = f.metaData();
    return isOneWord(f.formatTag(), 255) && isOneWord(f.metaDataTag(), 255) && *meta != '\0' &&
           std::strlen(meta) <= 4095 && !std::isspace(static_cast<unsigned char>(*meta));
}

void checkServerRoundTrip(const VantrelClipFormat& f) {
    const std::string stored = ClipFormatText::toStream(f);
    check(ClipFormatText::toStream(ClipFormatText::fromStream(stored)) == stored);
}

void checkClientReadsTheReply(const VantrelClipFormat& f) {
    if (!replyCarries(f)) return;
    VantrelClipFormat read;
    check(VantrelNodeWire::parseClipFormatText(ClipFormatText::toReplyText(f), read));
    check(read.width() == f.width() && read.height() == f.height() &&
          read.bitsPerPixel() == f.bitsPerPixel() && read.numChannels() == f.numChannels() &&
          read.frameBufferSize() == f.frameBufferSize() && read.scanFormat() == f.scanFormat());
    check(std::strcmp(read.formatTag(), f.formatTag()) == 0);
    check(std::strcmp(read.metaDataTag(), f.metaDataTag()) == 0);
    check(std::strcmp(read.metaData(), f.metaData()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = fuzzing::discardMessages();
    (void)quiet;
    if (size == 0) return 0;

    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    VantrelClipFormat format;
    try {
        format = data[0] % 2 == 0 ? ClipFormatText::fromStream(text)
                                  : ClipFormatText::fromWords(vantreld::ArgumentWords(text), 0);
    } catch (const vantreld::ServerError&) {
        return 0;
    }
    checkServerRoundTrip(format);
    checkClientReadsTheReply(format);
    return 0;
}
