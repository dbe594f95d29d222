// VantrelClipFormat and VantrelAudioFormat: how the frames or samples of a clip are laid out.
//
// Values: copies are deep. Text getters point into the object and stay valid until the object
// is changed or destroyed; text setters copy their argument, null counting as the empty text.
// Threads: no locks; one object is used by one thread at a time (or only read by several).
#pragma once

#include "vantrel/VantrelStr.h"
#include "vantrel/VantrelExport.h"

class VANTREL_API VantrelClipFormat {
public:
    // Field order of interlaced pictures. Any int is a valid value (servers send numbers);
    // those outside the named ones read as unknown.
    enum ScanFormat : int {
        unknown = -1,
        field1_odd = 0,
        field1_even = 1,
        field2_odd = 2,
        field2_even = 3,
        progressive = 4,
    };

    static const char* SCAN_FORMAT_FIELD_1_ODD_STR() { return "field1_odd"; }
    static const char* SCAN_FORMAT_FIELD_1_EVEN_STR() { return "field1_even"; }
    static const char* SCAN_FORMAT_FIELD_2_ODD_STR() { return "field2_odd"; }
    static const char* SCAN_FORMAT_FIELD_2_EVEN_STR() { return "field2_even"; }
    static const char* SCAN_FORMAT_PROGRESSIVE_STR() { return "progressive"; }
    static const char* SCAN_FORMAT_UNKNOWN_STR() { return "unknown"; }

    // Format tags: the names of pixel encodings and file formats exchanged with servers.
    // Pixel layouts.
    static const char* FORMAT_MONO() { return "mono"; }
    static const char* FORMAT_RGB() { return "rgb"; }
    static const char* FORMAT_HLS() { return "hls"; }
    static const char* FORMAT_YUV() { return "yuv"; }
    static const char* FORMAT_RGBA() { return "rgba"; }
    static const char* FORMAT_HLSA() { return "hlsa"; }
    static const char* FORMAT_YUVA() { return "yuva"; }
    static const char* FORMAT_UYVY() { return "uyvy"; }
    // Little-endian pixel layouts.
    static const char* FORMAT_MONO_LE() { return "mono_le"; }
    static const char* FORMAT_RGB_LE() { return "rgb_le"; }
    static const char* FORMAT_HLS_LE() { return "hls_le"; }
    static const char* FORMAT_YUV_LE() { return "yuv_le"; }
    static const char* FORMAT_RGBA_LE() { return "rgba_le"; }
    static const char* FORMAT_HLSA_LE() { return "hlsa_le"; }
    static const char* FORMAT_YUVA_LE() { return "yuva_le"; }
    // Not "uyvy_le": servers exchange exactly this tag.
    static const char* FORMAT_UYVY_LE() { return "uyvu_le"; }
    // Floating-point pixel layouts.
    static const char* FORMAT_RGB_FLOAT() { return "rgb_float"; }
    static const char* FORMAT_RGB_FLOAT_LE() { return "rgb_float_le"; }
    static const char* FORMAT_RGBA_FLOAT() { return "rgba_float"; }
    static const char* FORMAT_RGBA_FLOAT_LE() { return "rgba_float_le"; }
    static const char* FORMAT_MONO_FLOAT() { return "mono_float"; }
    static const char* FORMAT_MONO_FLOAT_LE() { return "mono_float_le"; }
    // Image file formats. FORMAT_KEVRA and FORMAT_QTR share the tag "iff".
    static const char* FORMAT_ORDAN() { return "als"; }
    static const char* FORMAT_DPX() { return "dpx"; }
    static const char* FORMAT_JPEG() { return "jpg"; }
    static const char* FORMAT_PICT() { return "pict"; }
    static const char* FORMAT_PIXAR() { return "picio"; }
    static const char* FORMAT_SGI() { return "sgi"; }
    static const char* FORMAT_PELLIDRO() { return "pic"; }
    static const char* FORMAT_TARGA() { return "tga"; }
    static const char* FORMAT_KEVRA() { return "iff"; }
    static const char* FORMAT_TIFF() { return "tif"; }
    static const char* FORMAT_MOSSTAVE() { return "rla"; }
    static const char* FORMAT_PHOTOSHOP() { return "psd"; }
    static const char* FORMAT_CINEON() { return "cin"; }
    static const char* FORMAT_QTR() { return "iff"; }
    static const char* FORMAT_OPENEXR() { return "exr"; }
    // Frames of several formats.
    static const char* FORMAT_MIXED() { return "mixed"; }
    // Audio sample layouts.
    static const char* FORMAT_ZR_AUDIO_MIXED() { return "zraudio_mixed"; }
    static const char* FORMAT_ZR_AUDIO_FLOAT() { return "zraudio_float"; }
    static const char* FORMAT_ZR_AUDIO_FLOAT_LE() { return "zraudio_float_le"; }
    static const char* FORMAT_ZR_AUDIO_INT8() { return "zraudio_int8"; }
    static const char* FORMAT_ZR_AUDIO_INT8_UNSIGNED() { return "zraudio_int8_unsigned"; }
    static const char* FORMAT_ZR_AUDIO_INT16() { return "zraudio_int16"; }
    static const char* FORMAT_ZR_AUDIO_INT16_LE() { return "zraudio_int16_le"; }
    static const char* FORMAT_ZR_AUDIO_INT24() { return "zraudio_int24"; }
    static const char* FORMAT_ZR_AUDIO_INT24_LE() { return "zraudio_int24_le"; }
    static const char* FORMAT_ZR_AUDIO_INT24_MSB32_LE() { return "zraudio_int24_msb32_le"; }
    // Audio file formats.
    static const char* FORMAT_WAV() { return "wav"; }
    static const char* FORMAT_AIFF() { return "aiff"; }
    static const char* FORMAT_AIFC() { return "aifc"; }
    static const char* FORMAT_ZR_AUDIO() { return "zraudio"; }

    // 1 x 1 pixels, frame buffer 1 byte, pixel ratio 1.0, field1_odd, 30.0 frames per
    // second, 24 bits per pixel, 3 channels, and three empty texts.
    VantrelClipFormat();
    // A null formatTag or metaData gives the empty text, a null metaDataTag gives "none".
    VantrelClipFormat(int width, int height, int bitsPerPixel, int numChannels,
                      int frameBufferSize, float frameRate, float pixelRatio,
                      ScanFormat scanFormat, const char* formatTag, const char* metaDataTag,
                      const char* metaData);
    // As above, with a frame buffer size of 0.
    VantrelClipFormat(int width, int height, int bitsPerPixel, int numChannels, float frameRate,
                      float pixelRatio, ScanFormat scanFormat, const char* formatTag,
                      const char* metaDataTag, const char* metaData);
    VantrelClipFormat(const VantrelClipFormat& other);
    VantrelClipFormat& operator=(const VantrelClipFormat& other);
    virtual ~VantrelClipFormat();

    int width() const { return width_; }
    void setWidth(int width) { width_ = width; }
    int height() const { return height_; }
    void setHeight(int height) { height_ = height; }
    int bitsPerPixel() const { return bitsPerPixel_; }
    void setBitsPerPixel(int bitsPerPixel) { bitsPerPixel_ = bitsPerPixel; }
    int numChannels() const { return numChannels_; }
    void setNumChannels(int numChannels) { numChannels_ = numChannels; }
    // Bytes of one frame as stored.
    int frameBufferSize() const { return frameBufferSize_; }
    void setFrameBufferSize(int size) { frameBufferSize_ = size; }
    float frameRate() const { return frameRate_; }
    void setFrameRate(float frameRate) { frameRate_ = frameRate; }
    float pixelRatio() const { return pixelRatio_; }
    void setPixelRatio(float pixelRatio) { pixelRatio_ = pixelRatio; }
    ScanFormat scanFormat() const { return scanFormat_; }
    void setScanFormat(ScanFormat scanFormat) { scanFormat_ = scanFormat; }
    const char* formatTag() const { return formatTag_.c_str(); }
    void setFormatTag(const char* tag) { formatTag_ = tag; }
    const char* metaDataTag() const { return metaDataTag_.c_str(); }
    void setMetaDataTag(const char* tag) { metaDataTag_ = tag; }
    const char* metaData() const { return metaData_.c_str(); }
    void setMetaData(const char* metaData) { metaData_ = metaData; }

    // Bits per pixel divided by the number of channels, truncated towards zero: 24 and 3
    // give 8, 32 and 3 give 10. With 0 channels the answer is 0.
    int bitsPerChannel() const;

    // Matches "field1_odd", "field2_odd", "field1_even", "field2_even" and "progressive"
    // regardless of case; any other text, or null, gives unknown.
    static ScanFormat strToScanFormat(const char* text);
    // The name of `scanFormat`; "unknown" for any value outside field1_odd to progressive.
    static const char* scanFormatStr(ScanFormat scanFormat);

private:
    VantrelStr formatTag_;
    VantrelStr metaData_;
    VantrelStr metaDataTag_;
    int width_;
    int height_;
    int frameBufferSize_;
    float pixelRatio_;
    ScanFormat scanFormat_;
    float frameRate_;
    int bitsPerPixel_;
    int numChannels_;
};

// The format of an audio clip: a clip format whose width is the number of samples, whose
// bits per pixel are the bits per sample and whose frame rate is the sample rate.
class VANTREL_API VantrelAudioFormat : public VantrelClipFormat {
public:
    // The defaults of VantrelClipFormat().
    VantrelAudioFormat();
    // Height 1, frame buffer size 0, pixel ratio 1.0, field1_odd; texts as VantrelClipFormat.
    VantrelAudioFormat(int numSamples, int bitsPerSample, int numChannels, float sampleRate,
                       const char* formatTag, const char* metaDataTag, const char* metaData);
    VantrelAudioFormat(const VantrelAudioFormat& other);
    VantrelAudioFormat& operator=(const VantrelAudioFormat& other);
    ~VantrelAudioFormat() override;

    int numSamples() const { return width(); }
    void setNumSamples(int numSamples) { setWidth(numSamples); }
    int bitsPerSample() const { return bitsPerPixel(); }
    void setBitsPerSample(int bitsPerSample) { setBitsPerPixel(bitsPerSample); }
    float sampleRate() const { return frameRate(); }
    void setSampleRate(float sampleRate) { setFrameRate(sampleRate); }
};
