#include "vantrel/server/ClipFormatText.h"

#include <gtest/gtest.h>

#include "vantrel/client/nodes/VantrelNodeWire.h"

#include "rcApi/rcParam.h"
#include "vantrel/server/ServerError.h"
#include "vantrel/server/WireText.h"

using namespace vantreld;

namespace {

VantrelClipFormat hdFormat() {
    return VantrelClipFormat(1920, 1080, 30, 3, 8294400, 29.97f, 1.0f,
                             VantrelClipFormat::field1_even, "dpx", "xml", "<a b=\"1\"/>");
}

// The request form, built as a client builds it.
std::string requestText(const VantrelClipFormat& f) {
    char numbers[2048];
    std::snprintf(numbers, sizeof numbers, "%d %d %d %d %d %g %g %s %d %s ", f.width(), f.height(),
                  f.bitsPerPixel(), f.numChannels(), f.frameBufferSize(),
                  static_cast<double>(f.pixelRatio()), static_cast<double>(f.frameRate()),
                  f.formatTag(), static_cast<int>(f.scanFormat()), f.metaDataTag());
    return numbers +
           std::string(Vantrel::rcParamStringToEscapedString(f.metaData()).getEscapedString());
}

void expectSame(const VantrelClipFormat& a, const VantrelClipFormat& b) {
    EXPECT_EQ(a.width(), b.width());
    EXPECT_EQ(a.height(), b.height());
    EXPECT_EQ(a.bitsPerPixel(), b.bitsPerPixel());
    EXPECT_EQ(a.numChannels(), b.numChannels());
    EXPECT_EQ(a.frameBufferSize(), b.frameBufferSize());
    EXPECT_EQ(a.pixelRatio(), b.pixelRatio());
    EXPECT_EQ(a.frameRate(), b.frameRate());
    EXPECT_STREQ(a.formatTag(), b.formatTag());
    EXPECT_EQ(a.scanFormat(), b.scanFormat());
    EXPECT_STREQ(a.metaDataTag(), b.metaDataTag());
    EXPECT_STREQ(a.metaData(), b.metaData());
}

}  // namespace

TEST(ClipFormatText, ReplyPutsTheMetadataLastAndUnquoted) {
    EXPECT_EQ(ClipFormatText::toReplyText(hdFormat()),
              "1920 1080 30 3 8294400 1 29.97 dpx 1 xml <a b=\"1\"/>");
}

TEST(ClipFormatText, ReplyWritesEmptyTagsAsAWordSoReadersKeepTheirPlace) {
    VantrelClipFormat folder;
    folder.setFormatTag("");
    folder.setMetaDataTag("");
    const std::string reply = ClipFormatText::toReplyText(folder);
    EXPECT_NE(reply.find(" none 0 none "), std::string::npos) << reply;
    VantrelClipFormat read;
    ASSERT_TRUE(VantrelNodeWire::parseClipFormatText(reply, read)) << reply;
    EXPECT_EQ(read.width(), folder.width());
    EXPECT_STREQ(read.formatTag(), "none");
}

TEST(ClipFormatText, ReadsTheRequestFormIncludingEmptyTagsAndSpacedMetadata) {
    VantrelClipFormat withEmptyTag = hdFormat();
    withEmptyTag.setFormatTag("");
    withEmptyTag.setMetaData("two words \\ and \"quotes\"");
    for (const VantrelClipFormat& format : {hdFormat(), withEmptyTag, VantrelClipFormat()}) {
        const ArgumentWords words(requestText(format));
        expectSame(ClipFormatText::fromWords(words, 0), format);
    }
}

TEST(ClipFormatText, RefusesShortOrNonNumericRequestForms) {
    EXPECT_THROW(ClipFormatText::fromWords(ArgumentWords("1 2 3"), 0), ServerError);
    EXPECT_THROW(ClipFormatText::fromWords(ArgumentWords("1 2 x 3 4 1 30 rgb 0 none \"\""), 0),
                 ServerError);
}

TEST(ClipFormatText, StreamFormReadsTheWireKeysAndKeepsFloatsExact) {
    EXPECT_EQ(
        ClipFormatText::toStream(VantrelClipFormat(
            2, 1, 24, 3, 6, 24.0f, 1.0f, VantrelClipFormat::progressive, "rgb", "none", "")),
        "w 1 2h 1 1bpp 2 24nch 1 3sz 1 6asp 1 1rate 2 24fmt 3 rgbscan 1 4metag 4 nonemeta 0 ");
    VantrelClipFormat odd = hdFormat();
    odd.setPixelRatio(1.0f / 3.0f);
    expectSame(ClipFormatText::fromStream(ClipFormatText::toStream(odd)), odd);
    // A client's stream writes floats with %g; missing keys keep the defaults.
    const VantrelClipFormat partial = ClipFormatText::fromStream("w 2 64rate 5 29.97");
    EXPECT_EQ(partial.width(), 64);
    EXPECT_FLOAT_EQ(partial.frameRate(), 29.97f);
    EXPECT_EQ(partial.height(), VantrelClipFormat().height());
}
