#include "vantrel/VantrelMetaData.h"

#include <string>

#include "rcApi/rcAttrStream.h"

using Vantrel::rcAttrStream;

namespace {

const char KEY_FORMAT[] = "FORMAT";
const char KEY_VERSION_MAJOR[] = "VERSION_MAJOR";
const char KEY_VERSION_MINOR[] = "VERSION_MINOR";
const char KEY_DATA[] = "DATA";

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

// A string value of a stream, read once and kept, so that the pointer handed out stays valid
// for as long as the stream is not replaced. A stream value is not zero-terminated in place.
class CachedValue {
public:
    const char* get(const rcAttrStream& stream, const char* key) {
        if (!read_) {
            present_ = stream.getStringValue(key, text_);
            read_ = true;
        }
        return present_ ? text_.c_str() : nullptr;
    }

private:
    bool read_ = false;
    bool present_ = false;
    std::string text_;
};

}  // namespace

// ---- VantrelMetaData

VantrelMetaData::~VantrelMetaData() = default;

class VantrelMetaData::Blob::Imp {
public:
    explicit Imp(const rcAttrStream& stream) : stream_(stream) {}

    const rcAttrStream& stream() const { return stream_; }
    const char* data() { return data_.get(stream_, KEY_DATA); }
    const char* format() { return format_.get(stream_, KEY_FORMAT); }

private:
    rcAttrStream stream_;
    CachedValue data_;
    CachedValue format_;
};

namespace {

rcAttrStream blobStream(const char* data, const char* format, int versionMajor, int versionMinor) {
    rcAttrStream stream;
    stream.addStringValue(KEY_FORMAT, orEmpty(format));
    stream.addIntValue(KEY_VERSION_MAJOR, versionMajor);
    stream.addIntValue(KEY_VERSION_MINOR, versionMinor);
    stream.addStringValue(KEY_DATA, orEmpty(data));
    return stream;
}

}  // namespace

VantrelMetaData::Blob::Blob(const char* data, const char* format, int versionMajor, int versionMinor)
    : imp_(new Imp(blobStream(data, format, versionMajor, versionMinor))) {}

VantrelMetaData::Blob::Blob(const char* rawStream) : imp_(new Imp(rcAttrStream(orEmpty(rawStream)))) {}

VantrelMetaData::Blob::Blob(const Blob& other) : imp_(new Imp(other.imp_->stream())) {}

VantrelMetaData::Blob& VantrelMetaData::Blob::operator=(const Blob& other) {
    if (this != &other) imp_.reset(new Imp(other.imp_->stream()));
    return *this;
}

VantrelMetaData::Blob::~Blob() = default;

const char* VantrelMetaData::Blob::getData() const { return imp_->data(); }

const char* VantrelMetaData::Blob::getFormat() const { return imp_->format(); }

bool VantrelMetaData::Blob::getVersion(int& major, int& minor) const {
    int foundMajor = 0;
    int foundMinor = 0;
    if (!imp_->stream().getIntValue(KEY_VERSION_MAJOR, foundMajor) ||
        !imp_->stream().getIntValue(KEY_VERSION_MINOR, foundMinor))
        return false;
    major = foundMajor;
    minor = foundMinor;
    return true;
}

const char* VantrelMetaData::Blob::getRawData() const { return imp_->stream().getStream(); }

// ---- VantrelDictionary

VantrelDictionary::VantrelDictionary(const char* stream) : stream_(new rcAttrStream(orEmpty(stream))) {}

VantrelDictionary::VantrelDictionary(const VantrelDictionary& other)
    : stream_(new rcAttrStream(other.stream_->getStreamStr())) {}

VantrelDictionary& VantrelDictionary::operator=(const VantrelDictionary& other) {
    if (this != &other) stream_->setStream(other.stream_->getStreamStr());
    return *this;
}

VantrelDictionary::~VantrelDictionary() = default;

bool VantrelDictionary::operator==(const VantrelDictionary& other) const {
    return *stream_ == *other.stream_;
}

bool VantrelDictionary::getString(const char* key, VantrelStr& value) const {
    std::string text;
    if (!stream_->getStringValue(key, text)) return false;
    value = text.c_str();
    return true;
}

bool VantrelDictionary::getInteger(const char* key, int& value) const {
    return stream_->getIntValue(key, value);
}

void VantrelDictionary::setString(const char* key, const char* value) {
    if (key != nullptr) stream_->addStringValue(key, orEmpty(value));
}

void VantrelDictionary::setInteger(const char* key, int value) {
    if (key != nullptr) stream_->addIntValue(key, value);
}

const char* VantrelDictionary::getStream() const { return stream_->getStream(); }
