#include "vantrel/VantrelClipFormat.h"

#include <climits>

#include "vantrel/client/connection/VantrelTextUtil.h"

namespace {

const char NO_METADATA_TAG[] = "none";

const char* metaDataTagOrNone(const char* tag) { return tag != nullptr ? tag : NO_METADATA_TAG; }

}  // namespace

VantrelClipFormat::VantrelClipFormat()
    : width_(1),
      height_(1),
      frameBufferSize_(1),
      pixelRatio_(1.0f),
      scanFormat_(field1_odd),
      frameRate_(30.0f),
      bitsPerPixel_(24),
      numChannels_(3) {}

VantrelClipFormat::VantrelClipFormat(int width, int height, int bitsPerPixel, int numChannels,
                                     int frameBufferSize, float frameRate, float pixelRatio,
                                     ScanFormat scanFormat, const char* formatTag,
                                     const char* metaDataTag, const char* metaData)
    : formatTag_(formatTag),
      metaData_(metaData),
      metaDataTag_(metaDataTagOrNone(metaDataTag)),
      width_(width),
      height_(height),
      frameBufferSize_(frameBufferSize),
      pixelRatio_(pixelRatio),
      scanFormat_(scanFormat),
      frameRate_(frameRate),
      bitsPerPixel_(bitsPerPixel),
      numChannels_(numChannels) {}

VantrelClipFormat::VantrelClipFormat(int width, int height, int bitsPerPixel, int numChannels,
                                     float frameRate, float pixelRatio, ScanFormat scanFormat,
                                     const char* formatTag, const char* metaDataTag,
                                     const char* metaData)
    : VantrelClipFormat(width, height, bitsPerPixel, numChannels, 0, frameRate, pixelRatio,
                        scanFormat, formatTag, metaDataTag, metaData) {}

VantrelClipFormat::VantrelClipFormat(const VantrelClipFormat& other) = default;
VantrelClipFormat& VantrelClipFormat::operator=(const VantrelClipFormat& other) = default;
VantrelClipFormat::~VantrelClipFormat() = default;

int VantrelClipFormat::bitsPerChannel() const {
    if (numChannels_ == 0) return 0;
    // Both numbers may come from a server; INT_MIN / -1 does not fit an int.
    const long long quotient = static_cast<long long>(bitsPerPixel_) / numChannels_;
    return quotient > INT_MAX ? INT_MAX : static_cast<int>(quotient);
}

VantrelClipFormat::ScanFormat VantrelClipFormat::strToScanFormat(const char* text) {
    for (ScanFormat format : {field1_odd, field2_odd, field1_even, field2_even, progressive})
        if (Vantrel::equalsIgnoringAsciiCase(text, scanFormatStr(format))) return format;
    return unknown;
}

const char* VantrelClipFormat::scanFormatStr(ScanFormat scanFormat) {
    switch (scanFormat) {
        case field1_odd: return SCAN_FORMAT_FIELD_1_ODD_STR();
        case field1_even: return SCAN_FORMAT_FIELD_1_EVEN_STR();
        case field2_odd: return SCAN_FORMAT_FIELD_2_ODD_STR();
        case field2_even: return SCAN_FORMAT_FIELD_2_EVEN_STR();
        case progressive: return SCAN_FORMAT_PROGRESSIVE_STR();
        default: return SCAN_FORMAT_UNKNOWN_STR();
    }
}

// ---- VantrelAudioFormat

VantrelAudioFormat::VantrelAudioFormat() = default;

VantrelAudioFormat::VantrelAudioFormat(int numSamples, int bitsPerSample, int numChannels,
                                       float sampleRate, const char* formatTag,
                                       const char* metaDataTag, const char* metaData)
    : VantrelClipFormat(numSamples, 1, bitsPerSample, numChannels, 0, sampleRate, 1.0f,
                        field1_odd, formatTag, metaDataTag, metaData) {}

VantrelAudioFormat::VantrelAudioFormat(const VantrelAudioFormat& other) = default;
VantrelAudioFormat& VantrelAudioFormat::operator=(const VantrelAudioFormat& other) = default;
VantrelAudioFormat::~VantrelAudioFormat() = default;
