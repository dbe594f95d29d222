// The two wire forms of a clip format, and the form the store keeps.
//
// Text form, eleven words: width, height, bits per pixel, channels, frame buffer size (%d),
// pixel ratio, frame rate (%g), format tag (%s), scan format (%d), metadata tag (%s), then
// the metadata. In requests the metadata is one quoted word; in the "GetClipFormat" reply it
// comes last and unquoted, because readers take the rest of the reply as it stands.
//
// Stream form: an attribute stream with the integers "w", "h", "bpp", "nch", "sz", the
// floats "asp" and "rate", the string "fmt", the integer "scan" and the strings "metag" and
// "meta". A missing key keeps the default clip format's value.
//
// Decoders throw ServerError ("Malformed argument: ...") on words that are not numbers.
#pragma once

#include <string>

#include "vantrel/VantrelClipFormat.h"

namespace vantreld {

class ArgumentWords;

class ClipFormatText {
public:
    static constexpr size_t TEXT_WORDS = 11;

    // The reply form of "GetClipFormat".
    static std::string toReplyText(const VantrelClipFormat& format);
    // Reads the eleven words of the request form starting at words[first].
    static VantrelClipFormat fromWords(const ArgumentWords& words, size_t first);

    // The stream form; floats keep nine significant digits so that a stored format reads
    // back exactly.
    static std::string toStream(const VantrelClipFormat& format);
    static VantrelClipFormat fromStream(const std::string& stream);
};

}  // namespace vantreld
