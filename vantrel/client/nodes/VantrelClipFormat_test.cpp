#include "vantrel/VantrelClipFormat.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using Format = VantrelClipFormat;

TEST(VantrelClipFormatTest, DefaultsDescribeOneRgbPixel) {
    const Format format;
    EXPECT_EQ(format.width(), 1);
    EXPECT_EQ(format.height(), 1);
    EXPECT_EQ(format.frameBufferSize(), 1);
    EXPECT_EQ(format.pixelRatio(), 1.0f);
    EXPECT_EQ(format.scanFormat(), Format::field1_odd);
    EXPECT_EQ(format.frameRate(), 30.0f);
    EXPECT_EQ(format.bitsPerPixel(), 24);
    EXPECT_EQ(format.numChannels(), 3);
    EXPECT_EQ(format.bitsPerChannel(), 8);
    EXPECT_STREQ(format.formatTag(), "");
    EXPECT_STREQ(format.metaDataTag(), "");  // empty, not "none"
    EXPECT_STREQ(format.metaData(), "");
}

TEST(VantrelClipFormatTest, ConstructorsTakeEveryField) {
    const Format withSize(720, 486, 32, 4, 1399680, 29.97f, 0.9f, Format::progressive, "rgba",
                          "xml", "<a/>");
    const Format withoutSize(720, 486, 24, 3, 29.97f, 0.9f, Format::field2_even, "rgb", "xml",
                             "<a/>");
    EXPECT_EQ(withSize.width(), 720);
    EXPECT_EQ(withSize.height(), 486);
    EXPECT_EQ(withSize.bitsPerPixel(), 32);
    EXPECT_EQ(withSize.numChannels(), 4);
    EXPECT_EQ(withSize.frameBufferSize(), 1399680);
    EXPECT_EQ(withSize.frameRate(), 29.97f);
    EXPECT_EQ(withSize.pixelRatio(), 0.9f);
    EXPECT_EQ(withSize.scanFormat(), Format::progressive);
    EXPECT_STREQ(withSize.formatTag(), "rgba");
    EXPECT_STREQ(withSize.metaDataTag(), "xml");
    EXPECT_STREQ(withSize.metaData(), "<a/>");

    EXPECT_EQ(withoutSize.frameBufferSize(), 0);
    EXPECT_EQ(withoutSize.frameRate(), 29.97f);
    EXPECT_EQ(withoutSize.pixelRatio(), 0.9f);
    EXPECT_EQ(withoutSize.scanFormat(), Format::field2_even);
    EXPECT_STREQ(withoutSize.formatTag(), "rgb");
}

TEST(VantrelClipFormatTest, NullTextsGiveEmptyTextsAndTheTagNone) {
    const Format withSize(720, 486, 24, 3, 100, 29.97f, 0.9f, Format::field2_even, nullptr,
                          nullptr, nullptr);
    const Format withoutSize(720, 486, 24, 3, 29.97f, 0.9f, Format::field2_even, "rgb", nullptr,
                             nullptr);
    for (const Format* format : {&withSize, &withoutSize}) {
        EXPECT_STREQ(format->metaDataTag(), "none");
        EXPECT_STREQ(format->metaData(), "");
    }
    EXPECT_STREQ(withSize.formatTag(), "");
    EXPECT_STREQ(withoutSize.formatTag(), "rgb");
    EXPECT_EQ(withoutSize.frameBufferSize(), 0);
}

TEST(VantrelClipFormatTest, TextSettersCopyAndTakeNullAsEmpty) {
    Format format;
    char tag[] = "dpx";
    format.setFormatTag(tag);
    tag[0] = 'X';
    EXPECT_STREQ(format.formatTag(), "dpx");
    format.setMetaDataTag("xml");
    format.setMetaData("a b\nc");
    EXPECT_STREQ(format.metaData(), "a b\nc");

    format.setFormatTag(nullptr);
    format.setMetaDataTag(nullptr);  // the setter's null is empty; only constructors say "none"
    format.setMetaData(nullptr);
    EXPECT_STREQ(format.formatTag(), "");
    EXPECT_STREQ(format.metaDataTag(), "");
    EXPECT_STREQ(format.metaData(), "");
}

TEST(VantrelClipFormatTest, CopiesAreDeep) {
    Format original(1920, 1080, 30, 3, 8294400, 25.0f, 1.0f, Format::progressive, "dpx", "xml",
                    "<clip/>");
    Format copy(original);
    Format assigned;
    assigned = original;
    original.setFormatTag("tif");
    original.setMetaData("changed");
    original.setWidth(1);

    for (const Format* format : {&copy, &assigned}) {
        EXPECT_STREQ(format->formatTag(), "dpx");
        EXPECT_STREQ(format->metaData(), "<clip/>");
        EXPECT_STREQ(format->metaDataTag(), "xml");
        EXPECT_EQ(format->width(), 1920);
        EXPECT_EQ(format->frameBufferSize(), 8294400);
        EXPECT_EQ(format->scanFormat(), Format::progressive);
    }
    EXPECT_NE(copy.metaData(), original.metaData());
}

TEST(VantrelClipFormatTest, BitsPerChannelTruncatesAndNeverDividesByZero) {
    struct Case {
        int bitsPerPixel;
        int numChannels;
        int bitsPerChannel;
    };
    const Case cases[] = {
        {24, 3, 8},   {32, 3, 10}, {32, 4, 8},  {10, 1, 10},  {2, 3, 0},
        {-7, 2, -3},  // towards zero
        {24, 0, 0},   {0, 0, 0},
        {INT_MIN, -1, INT_MAX},  // would not fit an int
    };
    for (const Case& c : cases) {
        Format format;
        format.setBitsPerPixel(c.bitsPerPixel);
        format.setNumChannels(c.numChannels);
        EXPECT_EQ(format.bitsPerChannel(), c.bitsPerChannel) << c.bitsPerPixel << "/" << c.numChannels;
    }
}

TEST(VantrelClipFormatTest, NamesEveryScanFormat) {
    struct Case {
        int value;
        const char* name;
        const char* accessor;
    };
    const Case cases[] = {
        {0, "field1_odd", Format::SCAN_FORMAT_FIELD_1_ODD_STR()},
        {1, "field1_even", Format::SCAN_FORMAT_FIELD_1_EVEN_STR()},
        {2, "field2_odd", Format::SCAN_FORMAT_FIELD_2_ODD_STR()},
        {3, "field2_even", Format::SCAN_FORMAT_FIELD_2_EVEN_STR()},
        {4, "progressive", Format::SCAN_FORMAT_PROGRESSIVE_STR()},
        {-1, "unknown", Format::SCAN_FORMAT_UNKNOWN_STR()},
        {5, "unknown", Format::SCAN_FORMAT_UNKNOWN_STR()},
        {-2, "unknown", Format::SCAN_FORMAT_UNKNOWN_STR()},
        {INT_MAX, "unknown", Format::SCAN_FORMAT_UNKNOWN_STR()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_STREQ(Format::scanFormatStr(static_cast<Format::ScanFormat>(c.value)), c.name);
        EXPECT_STREQ(c.accessor, c.name);
    }
}

TEST(VantrelClipFormatTest, ReadsScanFormatsIgnoringCase) {
    struct Case {
        const char* text;
        int value;
    };
    const Case cases[] = {
        {"field1_odd", 0},   {"field1_even", 1}, {"field2_odd", 2},  {"field2_even", 3},
        {"progressive", 4},  {"PROGRESSIVE", 4}, {"Field2_Even", 3}, {"unknown", -1},
        {"field3_odd", -1},  {"progressive ", -1}, {"field1", -1},   {"", -1},
        {nullptr, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Format::strToScanFormat(c.text), c.value) << (c.text ? c.text : "(null)");
}

TEST(VantrelClipFormatTest, FormatTagsAreTheTextsServersExchange) {
    struct Case {
        const char* tag;
        const char* text;
    };
    const Case cases[] = {
        {Format::FORMAT_MONO(), "mono"},
        {Format::FORMAT_RGB(), "rgb"},
        {Format::FORMAT_HLS(), "hls"},
        {Format::FORMAT_YUV(), "yuv"},
        {Format::FORMAT_RGBA(), "rgba"},
        {Format::FORMAT_HLSA(), "hlsa"},
        {Format::FORMAT_YUVA(), "yuva"},
        {Format::FORMAT_UYVY(), "uyvy"},
        {Format::FORMAT_MONO_LE(), "mono_le"},
        {Format::FORMAT_RGB_LE(), "rgb_le"},
        {Format::FORMAT_HLS_LE(), "hls_le"},
        {Format::FORMAT_YUV_LE(), "yuv_le"},
        {Format::FORMAT_RGBA_LE(), "rgba_le"},
        {Format::FORMAT_HLSA_LE(), "hlsa_le"},
        {Format::FORMAT_YUVA_LE(), "yuva_le"},
        {Format::FORMAT_UYVY_LE(), "uyvu_le"},
        {Format::FORMAT_RGB_FLOAT(), "rgb_float"},
        {Format::FORMAT_RGB_FLOAT_LE(), "rgb_float_le"},
        {Format::FORMAT_RGBA_FLOAT(), "rgba_float"},
        {Format::FORMAT_RGBA_FLOAT_LE(), "rgba_float_le"},
        {Format::FORMAT_MONO_FLOAT(), "mono_float"},
        {Format::FORMAT_MONO_FLOAT_LE(), "mono_float_le"},
        {Format::FORMAT_ORDAN(), "als"},
        {Format::FORMAT_DPX(), "dpx"},
        {Format::FORMAT_JPEG(), "jpg"},
        {Format::FORMAT_PICT(), "pict"},
        {Format::FORMAT_PIXAR(), "picio"},
        {Format::FORMAT_SGI(), "sgi"},
        {Format::FORMAT_PELLIDRO(), "pic"},
        {Format::FORMAT_TARGA(), "tga"},
        {Format::FORMAT_KEVRA(), "iff"},
        {Format::FORMAT_TIFF(), "tif"},
        {Format::FORMAT_MOSSTAVE(), "rla"},
        {Format::FORMAT_PHOTOSHOP(), "psd"},
        {Format::FORMAT_CINEON(), "cin"},
        {Format::FORMAT_QTR(), "iff"},
        {Format::FORMAT_OPENEXR(), "exr"},
        {Format::FORMAT_MIXED(), "mixed"},
        {Format::FORMAT_ZR_AUDIO_MIXED(), "zraudio_mixed"},
        {Format::FORMAT_ZR_AUDIO_FLOAT(), "zraudio_float"},
        {Format::FORMAT_ZR_AUDIO_FLOAT_LE(), "zraudio_float_le"},
        {Format::FORMAT_ZR_AUDIO_INT8(), "zraudio_int8"},
        {Format::FORMAT_ZR_AUDIO_INT8_UNSIGNED(), "zraudio_int8_unsigned"},
        {Format::FORMAT_ZR_AUDIO_INT16(), "zraudio_int16"},
        {Format::FORMAT_ZR_AUDIO_INT16_LE(), "zraudio_int16_le"},
        {Format::FORMAT_ZR_AUDIO_INT24(), "zraudio_int24"},
        {Format::FORMAT_ZR_AUDIO_INT24_LE(), "zraudio_int24_le"},
        {Format::FORMAT_ZR_AUDIO_INT24_MSB32_LE(), "zraudio_int24_msb32_le"},
        {Format::FORMAT_WAV(), "wav"},
        {Format::FORMAT_AIFF(), "aiff"},
        {Format::FORMAT_AIFC(), "aifc"},
        {Format::FORMAT_ZR_AUDIO(), "zraudio"},
    };
    for (const Case& c : cases) EXPECT_STREQ(c.tag, c.text);
    EXPECT_STREQ(Format::FORMAT_QTR(), Format::FORMAT_KEVRA());
}

// ---- VantrelAudioFormat

TEST(VantrelAudioFormatTest, ReadsClipFieldsUnderAudioNames) {
    VantrelAudioFormat audio(48000, 24, 2, 48000.0f, "zraudio_int24_le", nullptr, nullptr);
    const VantrelClipFormat& clip = audio;
    EXPECT_EQ(clip.width(), 48000);
    EXPECT_EQ(clip.height(), 1);
    EXPECT_EQ(clip.bitsPerPixel(), 24);
    EXPECT_EQ(clip.numChannels(), 2);
    EXPECT_EQ(clip.frameBufferSize(), 0);
    EXPECT_EQ(clip.frameRate(), 48000.0f);
    EXPECT_EQ(clip.pixelRatio(), 1.0f);
    EXPECT_EQ(clip.scanFormat(), VantrelClipFormat::field1_odd);
    EXPECT_STREQ(clip.formatTag(), "zraudio_int24_le");
    EXPECT_STREQ(clip.metaDataTag(), "none");
    EXPECT_STREQ(clip.metaData(), "");
    EXPECT_EQ(audio.bitsPerChannel(), 12);

    audio.setNumSamples(1024);
    audio.setBitsPerSample(16);
    audio.setSampleRate(44100.0f);
    EXPECT_EQ(clip.width(), 1024);
    EXPECT_EQ(clip.bitsPerPixel(), 16);
    EXPECT_EQ(clip.frameRate(), 44100.0f);
    EXPECT_EQ(audio.numSamples(), 1024);
    EXPECT_EQ(audio.bitsPerSample(), 16);
    EXPECT_EQ(audio.sampleRate(), 44100.0f);
}

TEST(VantrelAudioFormatTest, DefaultsAndCopiesAreThoseOfAClipFormat) {
    const VantrelAudioFormat audio;
    EXPECT_EQ(audio.numSamples(), 1);
    EXPECT_EQ(audio.bitsPerSample(), 24);
    EXPECT_EQ(audio.sampleRate(), 30.0f);
    EXPECT_EQ(audio.frameBufferSize(), 1);
    EXPECT_STREQ(audio.metaDataTag(), "");

    VantrelAudioFormat original(10, 8, 1, 8000.0f, "wav", "tag", "meta");
    VantrelAudioFormat copy(original);
    VantrelAudioFormat assigned;
    assigned = original;
    original.setFormatTag("aiff");
    EXPECT_STREQ(copy.formatTag(), "wav");
    EXPECT_STREQ(assigned.formatTag(), "wav");
    EXPECT_EQ(assigned.sampleRate(), 8000.0f);
}

}  // namespace
