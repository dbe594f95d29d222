#include "vantrel/VantrelMetaData.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/MessageCapture.h"

using Vantrel::testing::MessageCapture;

namespace {

using Blob = VantrelMetaData::Blob;

TEST(VantrelMetaDataTest, NamesTheStreamKinds) {
    EXPECT_STREQ(VantrelMetaData::STREAM_BLOB(), "BLOB");
    EXPECT_STREQ(VantrelMetaData::STREAM_XML(), "XML");
}

// ---- Blob

TEST(VantrelBlobTest, WritesTheFourKeysInOrder) {
    const Blob blob("hello", "txt", 2, 1);
    EXPECT_STREQ(blob.getRawData(), "FORMAT 3 txtVERSION_MAJOR 1 2VERSION_MINOR 1 1DATA 5 hello");
    EXPECT_STREQ(blob.getData(), "hello");
    EXPECT_STREQ(blob.getFormat(), "txt");
    int major = 0, minor = 0;
    EXPECT_TRUE(blob.getVersion(major, minor));
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 1);
}

TEST(VantrelBlobTest, NullTextsGiveEmptyValues) {
    const Blob blob(nullptr, nullptr, 0, 0);
    EXPECT_STREQ(blob.getRawData(), "FORMAT 0 VERSION_MAJOR 1 0VERSION_MINOR 1 0DATA 0 ");
    EXPECT_STREQ(blob.getData(), "");
    EXPECT_STREQ(blob.getFormat(), "");
}

TEST(VantrelBlobTest, DataOfAnyBytesComesBackUnchanged) {
    const std::string data = "two words, 'quotes'\nand x 3 abc that looks like a stream";
    const Blob blob(data.c_str(), "free text", 1, 0);
    EXPECT_EQ(std::string(blob.getData()), data);
    EXPECT_STREQ(blob.getFormat(), "free text");
    // Reparsed from its text, as a server would send it back.
    const Blob reread(blob.getRawData());
    EXPECT_EQ(std::string(reread.getData()), data);
}

TEST(VantrelBlobTest, MissingKeysAnswerNullOrFalse) {
    struct Case {
        const char* stream;
        bool hasData;
        bool hasFormat;
        bool hasVersion;
    };
    const Case cases[] = {
        {"DATA 3 abcFORMAT 1 x", true, true, false},
        {"VERSION_MAJOR 1 4DATA 1 d", true, false, false},  // minor missing
        {"VERSION_MINOR 1 4", false, false, false},         // major missing
        {"VERSION_MINOR 1 3VERSION_MAJOR 1 4", false, false, true},
        {"", false, false, false},
        {"DATA 99x", false, false, false},  // malformed from the start
    };
    MessageCapture capture;  // keeps parse errors of the malformed case off the output
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stream);
        const Blob blob(c.stream);
        EXPECT_EQ(blob.getData() != nullptr, c.hasData);
        EXPECT_EQ(blob.getFormat() != nullptr, c.hasFormat);
        int major = -7, minor = -7;
        EXPECT_EQ(blob.getVersion(major, minor), c.hasVersion);
        if (!c.hasVersion) {
            EXPECT_EQ(major, -7);  // untouched, even when one of the two was there
            EXPECT_EQ(minor, -7);
        }
    }
    EXPECT_EQ(Blob(static_cast<const char*>(nullptr)).getData(), nullptr);
}

TEST(VantrelBlobTest, ReturnedTextsStayPutUntilTheBlobChanges) {
    Blob blob("payload", "fmt", 1, 2);
    const char* data = blob.getData();
    const char* format = blob.getFormat();
    EXPECT_EQ(blob.getData(), data);
    EXPECT_EQ(blob.getFormat(), format);
    int major, minor;
    blob.getVersion(major, minor);
    EXPECT_STREQ(data, "payload");
    EXPECT_STREQ(format, "fmt");
}

TEST(VantrelBlobTest, CopiesOwnTheirStreams) {
    Blob original("one", "a", 1, 1);
    Blob copy(original);
    Blob assigned("x", "y", 0, 0);
    assigned = original;
    EXPECT_NE(copy.getRawData(), original.getRawData());

    original = Blob("two", "b", 2, 2);
    original = original;
    EXPECT_STREQ(original.getData(), "two");
    EXPECT_STREQ(copy.getData(), "one");
    EXPECT_STREQ(assigned.getData(), "one");
    int major = 0, minor = 0;
    EXPECT_TRUE(assigned.getVersion(major, minor));
    EXPECT_EQ(major, 1);
}

// ---- VantrelDictionary

TEST(VantrelDictionaryTest, AnEmptyDictionaryHasNothing) {
    for (const VantrelDictionary& dictionary :
         {VantrelDictionary(), VantrelDictionary(""), VantrelDictionary(nullptr)}) {
        EXPECT_STREQ(dictionary.getStream(), "");
        VantrelStr text("untouched");
        int number = 42;
        EXPECT_FALSE(dictionary.getString("key", text));
        EXPECT_FALSE(dictionary.getInteger("key", number));
        EXPECT_FALSE(dictionary.getString(nullptr, text));
        EXPECT_STREQ(text.c_str(), "untouched");
        EXPECT_EQ(number, 42);
    }
}

TEST(VantrelDictionaryTest, SetsAndReadsTypedValues) {
    VantrelDictionary dictionary;
    dictionary.setString("name", "clip 7");
    dictionary.setInteger("frames", -12);
    dictionary.setString("empty", nullptr);
    EXPECT_STREQ(dictionary.getStream(), "name 6 clip 7frames 3 -12empty 0 ");

    VantrelStr text;
    int number = 0;
    EXPECT_TRUE(dictionary.getString("name", text));
    EXPECT_STREQ(text.c_str(), "clip 7");
    EXPECT_TRUE(dictionary.getInteger("frames", number));
    EXPECT_EQ(number, -12);
    EXPECT_TRUE(dictionary.getString("empty", text));
    EXPECT_TRUE(text.isEmpty());
    EXPECT_TRUE(dictionary.getString("frames", text));
    EXPECT_STREQ(text.c_str(), "-12");
    EXPECT_TRUE(dictionary.getInteger("name", number));  // no number: 0, as atoi
    EXPECT_EQ(number, 0);
}

TEST(VantrelDictionaryTest, SettingAKeyAgainReplacesItsValue) {
    VantrelDictionary dictionary;
    dictionary.setString("state", "new");
    dictionary.setString("state", "done");
    VantrelStr text;
    EXPECT_TRUE(dictionary.getString("state", text));
    EXPECT_STREQ(text.c_str(), "done");

    VantrelDictionary onlyLast;
    onlyLast.setString("state", "done");
    EXPECT_TRUE(dictionary == onlyLast);
}

TEST(VantrelDictionaryTest, RefusesNullKeysAndKeysWithSpaces) {
    MessageCapture capture;
    VantrelDictionary dictionary;
    dictionary.setString(nullptr, "value");
    dictionary.setInteger(nullptr, 1);
    dictionary.setString("two words", "value");
    EXPECT_STREQ(dictionary.getStream(), "");
    EXPECT_TRUE(capture.contains("Illegal character: ' ' in attribute 'two words'."));
}

TEST(VantrelDictionaryTest, ReadsAStreamFromElsewhere) {
    const VantrelDictionary dictionary("reason 7 renamedcount 2 10");
    VantrelStr text;
    int number = 0;
    EXPECT_TRUE(dictionary.getString("reason", text));
    EXPECT_STREQ(text.c_str(), "renamed");
    EXPECT_TRUE(dictionary.getInteger("count", number));
    EXPECT_EQ(number, 10);
}

TEST(VantrelDictionaryTest, EqualityIgnoresOrderButNotValues) {
    VantrelDictionary ab, ba, other;
    ab.setString("a", "1");
    ab.setInteger("b", 2);
    ba.setInteger("b", 2);
    ba.setString("a", "1");
    other.setString("a", "1");
    other.setInteger("b", 3);
    EXPECT_TRUE(ab == ba);
    EXPECT_FALSE(ab == other);
    EXPECT_FALSE(ab == VantrelDictionary());
}

TEST(VantrelDictionaryTest, CopiesAreDeep) {
    VantrelDictionary original;
    original.setString("k", "v");
    VantrelDictionary copy(original);
    VantrelDictionary assigned("x 1 y");
    assigned = original;
    original.setString("k", "changed");
    original = original;

    VantrelStr text;
    EXPECT_TRUE(copy.getString("k", text));
    EXPECT_STREQ(text.c_str(), "v");
    EXPECT_TRUE(assigned.getString("k", text));
    EXPECT_STREQ(text.c_str(), "v");
    EXPECT_FALSE(assigned.getString("x", text));
    EXPECT_TRUE(original.getString("k", text));
    EXPECT_STREQ(text.c_str(), "changed");
}

}  // namespace
