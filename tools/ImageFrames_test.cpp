#include "ImageFrames.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace vantrel_tool {
namespace {

VantrelClipFormat clipFormat(const char* tag, int width, int height, int bitsPerPixel,
                             int channels) {
    return VantrelClipFormat(width, height, bitsPerPixel, channels, 0, 24.0f, 1.0f,
                             VantrelClipFormat::progressive, tag, nullptr, nullptr);
}

// A temporary folder removed with its files.
class ImageFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/image-frames-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        folder_ = name;
    }
    void TearDown() override { std::system(("rm -rf '" + folder_ + "'").c_str()); }
    std::string path(const std::string& name) const { return folder_ + "/" + name; }

    std::string folder_;
};

TEST(ImageFramesTest, LayoutsOfConvertibleTags) {
    struct Case {
        const char* tag;
        int bitsPerPixel, channels;
        OIIO::TypeDesc type;
        bool bigEndian;
    } cases[] = {
        {"mono", 8, 1, OIIO::TypeDesc::UINT8, false},
        {"rgb", 24, 3, OIIO::TypeDesc::UINT8, false},
        {"rgba_le", 32, 4, OIIO::TypeDesc::UINT8, false},
        {"rgb", 48, 3, OIIO::TypeDesc::UINT16, true},
        {"rgb_le", 48, 3, OIIO::TypeDesc::UINT16, false},
        {"mono_float", 16, 1, OIIO::TypeDesc::HALF, true},
        {"rgba_float_le", 128, 4, OIIO::TypeDesc::FLOAT, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        const FrameLayout layout =
            frameLayoutOf(clipFormat(c.tag, 5, 3, c.bitsPerPixel, c.channels));
        EXPECT_EQ(layout.channels, c.channels);
        EXPECT_EQ(layout.sampleType, c.type);
        EXPECT_EQ(layout.bigEndian, c.bigEndian);
        EXPECT_EQ(layout.frameBytes(), 15u * c.bitsPerPixel / 8);
    }
}

TEST(ImageFramesTest, RefusesFormatsItCannotConvertNamingTheTag) {
    struct Case {
        VantrelClipFormat format;
        const char* reason;
    } cases[] = {
        {clipFormat("uyvy", 8, 2, 16, 2), "only interleaved"},
        {clipFormat("uyvu_le", 8, 2, 16, 2), "only interleaved"},
        {clipFormat("yuv", 8, 2, 24, 3), "only interleaved"},
        {clipFormat("dpx", 8, 2, 30, 3), "only interleaved"},
        {clipFormat("zraudio_int16", 8, 1, 16, 1), "only interleaved"},
        {clipFormat("", 8, 2, 24, 3), "only interleaved"},
        {clipFormat("rgb", 8, 2, 32, 3), "32 bits per pixel"},
        {clipFormat("rgb", 8, 2, 30, 3), "10-bit integer"},
        {clipFormat("rgb", 8, 2, 32, 4), "4 channels where the tag holds 3"},
        {clipFormat("rgb_float", 8, 2, 24, 3), "8-bit float"},
        {clipFormat("mono", 0, 2, 8, 1), "empty picture"},
        {clipFormat("rgba_float", 100000, 100000, 128, 4), "too large"},
        {VantrelClipFormat(8, 2, 24, 3, 47, 24.0f, 1.0f, VantrelClipFormat::progressive, "rgb",
                           nullptr, nullptr),
         "frames of 47 bytes cannot hold pixels of 48"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format.formatTag());
        try {
            frameLayoutOf(c.format);
            ADD_FAILURE() << "accepted";
        } catch (const ImageError& error) {
            const std::string text = error.what();
            EXPECT_NE(text.find("'" + std::string(c.format.formatTag()) + "'"), std::string::npos)
                << text;
            EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        }
    }
}

TEST(ImageFramesTest, ImageSpecCarriesSizeChannelsTypeAndRate) {
    VantrelClipFormat format = clipFormat("rgba_float_le", 6, 4, 128, 4);
    format.setFrameRate(29.97f);
    format.setPixelRatio(0.9f);
    const OIIO::ImageSpec image = imageSpecOf(format);
    EXPECT_EQ(image.width, 6);
    EXPECT_EQ(image.height, 4);
    EXPECT_EQ(image.nchannels, 4);
    EXPECT_EQ(image.format, OIIO::TypeDesc::FLOAT);
    EXPECT_EQ(image.alpha_channel, 3);
    int rate[2] = {0, 0};
    ASSERT_TRUE(image.getattribute("FramesPerSecond", OIIO::TypeRational, rate));
    EXPECT_EQ(rate[0], 30000);
    EXPECT_EQ(rate[1], 1001);
    EXPECT_FLOAT_EQ(image.get_float_attribute("PixelAspectRatio"), 0.9f);

    format.setFrameRate(25.0f);
    ASSERT_TRUE(imageSpecOf(format).getattribute("FramesPerSecond", OIIO::TypeRational, rate));
    EXPECT_EQ(rate[0], 25);
    EXPECT_EQ(rate[1], 1);
}

TEST(ImageFramesTest, ClipFormatOfImages) {
    OIIO::ImageSpec image(7, 5, 3, OIIO::TypeDesc::UINT16);
    const int rate[2] = {24000, 1001};
    image.attribute("FramesPerSecond", OIIO::TypeRational, rate);
    VantrelClipFormat format = clipFormatOf(image, 30.0f);
    EXPECT_STREQ(format.formatTag(), "rgb_le");
    EXPECT_EQ(format.width(), 7);
    EXPECT_EQ(format.height(), 5);
    EXPECT_EQ(format.bitsPerPixel(), 48);
    EXPECT_EQ(format.numChannels(), 3);
    EXPECT_EQ(format.frameBufferSize(), 7 * 5 * 6);
    EXPECT_NEAR(format.frameRate(), 23.976f, 0.001f);
    EXPECT_EQ(format.scanFormat(), VantrelClipFormat::progressive);

    format = clipFormatOf(OIIO::ImageSpec(2, 2, 1, OIIO::TypeDesc::DOUBLE), 30.0f);
    EXPECT_STREQ(format.formatTag(), "mono_float_le");
    EXPECT_EQ(format.bitsPerPixel(), 32);
    EXPECT_FLOAT_EQ(format.frameRate(), 30.0f);
    EXPECT_STREQ(clipFormatOf(OIIO::ImageSpec(2, 2, 4, OIIO::TypeDesc::UINT8), 24).formatTag(),
                 "rgba");
    EXPECT_STREQ(clipFormatOf(OIIO::ImageSpec(2, 2, 3, OIIO::TypeDesc::HALF), 24).formatTag(),
                 "rgb_float_le");

    EXPECT_THROW(clipFormatOf(OIIO::ImageSpec(2, 2, 2, OIIO::TypeDesc::UINT8), 24), ImageError);
}

// Samples wider than a byte are big-endian under a tag without "_le": a file written from such
// a frame holds the values those bytes mean, and reading it back gives the same bytes.
TEST_F(ImageFolder, BigEndianSamplesKeepTheirValues) {
    const VantrelClipFormat format = clipFormat("rgb", 2, 1, 48, 3);
    const unsigned char frame[12] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                     0xff, 0x00, 0x00, 0xff, 0x80, 0x01};
    writeFrameImage(path("be.tif"), format, frame, sizeof frame);

    auto input = OIIO::ImageInput::open(path("be.tif"));
    ASSERT_TRUE(input);
    uint16_t values[6];
    ASSERT_TRUE(input->read_image(0, 0, 0, 3, OIIO::TypeDesc::UINT16, values));
    const uint16_t expected[6] = {0x0102, 0x0304, 0x0506, 0xff00, 0x00ff, 0x8001};
    EXPECT_EQ(std::memcmp(values, expected, sizeof values), 0);

    const std::vector<unsigned char> back = readFrameImage(path("be.tif"), format);
    EXPECT_EQ(back, std::vector<unsigned char>(frame, frame + sizeof frame));
}

// Colour under a transparent alpha survives a file that stores alpha unassociated.
TEST_F(ImageFolder, AlphaIsKeptAsStored) {
    const VantrelClipFormat format = clipFormat("rgba", 2, 1, 32, 4);
    const unsigned char frame[8] = {200, 100, 50, 0, 10, 20, 30, 128};
    writeFrameImage(path("alpha.png"), format, frame, sizeof frame);
    EXPECT_EQ(readFrameImage(path("alpha.png"), format),
              std::vector<unsigned char>(frame, frame + 8));
}

TEST_F(ImageFolder, ReadingRefusesAnImageOfAnotherShape) {
    const unsigned char frame[12] = {};
    writeFrameImage(path("small.png"), clipFormat("rgb", 2, 2, 24, 3), frame, sizeof frame);
    for (const VantrelClipFormat& other :
         {clipFormat("rgb", 3, 2, 24, 3), clipFormat("rgba", 2, 2, 32, 4)}) {
        try {
            readFrameImage(path("small.png"), other);
            ADD_FAILURE() << "accepted";
        } catch (const ImageError& error) {
            EXPECT_NE(std::string(error.what()).find("small.png' is 2x2 with 3 channels"),
                      std::string::npos)
                << error.what();
        }
    }
    EXPECT_THROW(readFrameImage(path("missing.png"), clipFormat("rgb", 2, 2, 24, 3)), ImageError);
    EXPECT_THROW(writeFrameImage(path("short.png"), clipFormat("rgb", 2, 2, 24, 3), frame, 11),
                 ImageError);
    EXPECT_THROW(writeFrameImage(path("x.unknownext"), clipFormat("rgb", 2, 2, 24, 3), frame, 12),
                 ImageError);
}

}  // namespace
}  // namespace vantrel_tool
