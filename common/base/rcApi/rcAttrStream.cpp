#include "rcApi/rcAttrStream.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"

namespace Vantrel {

namespace {

constexpr size_t NO_BOUNDARY = std::string::npos;
// Lengths are written as signed 32-bit decimals; anything larger was not written by a peer
// that follows the format, and would overflow the 32-bit offsets.
constexpr unsigned long long LARGEST_LENGTH = INT32_MAX;

// One attribute of a text, as offsets into it.
struct Entry {
    size_t namePos = 0;
    size_t nameLen = 0;
    size_t valuePos = 0;
    size_t valueLen = 0;
    bool cut = false;  // the text ended before the announced length

    size_t end() const { return valuePos + valueLen; }
    std::string_view nameIn(std::string_view text) const { return text.substr(namePos, nameLen); }
    std::string_view valueIn(std::string_view text) const {
        return text.substr(valuePos, valueLen);
    }
};

// Reads the non-blank attributes of a text one after the other. It only ever looks at bytes
// below the text's size and always moves forward, whatever the text holds.
class EntryReader {
public:
    // Reads from `position`; an attribute that would start at or after `boundary` ends the
    // reading as if the text ended there.
    EntryReader(std::string_view text, size_t position, size_t boundary = NO_BOUNDARY)
        : text_(text),
          limit_(std::min<size_t>(text.size(), UINT32_MAX)),
          position_(position),
          boundary_(boundary) {}

    // The next non-blank attribute. False at the end, at the boundary, or on malformed text,
    // which is posted; once false, always false.
    bool next(Entry& entry) {
        while (!stopped_) {
            switch (readOne(entry)) {
            case Step::MALFORMED:
                CO_MSG_ERROR("Error parsing attribute stream.");
                stopped_ = true;
                malformed_ = true;
                break;
            case Step::ENDED:
                stopped_ = true;
                break;
            case Step::READ:
                position_ = entry.end();
                cut_ = cut_ || entry.cut;
                if (entry.nameLen > 0) return true;
                break;
            }
        }
        return false;
    }

    // Where the next attribute starts, or where reading stopped.
    size_t position() const { return position_; }
    // Every attribute read so far, blank ones included, was well formed and whole.
    bool allWhole() const { return !malformed_ && !cut_; }

private:
    enum class Step { READ, ENDED, MALFORMED };

    // One attribute, blank or not, at the current position.
    Step readOne(Entry& entry) const {
        if (position_ >= boundary_ || position_ >= limit_) return Step::ENDED;
        const size_t nameEnd = findSpace(position_);
        if (nameEnd == NO_BOUNDARY) return Step::ENDED;
        size_t lengthPos = nameEnd + 1;
        while (lengthPos < limit_ && text_[lengthPos] == ' ') ++lengthPos;
        const size_t lengthEnd = findSpace(lengthPos);
        unsigned long long length = 0;
        if (lengthEnd == NO_BOUNDARY || !parseLength(lengthPos, lengthEnd, length))
            return Step::MALFORMED;
        entry.namePos = position_;
        entry.nameLen = nameEnd - position_;
        entry.valuePos = lengthEnd + 1;
        // A length past the end of the text gives what is there; nothing can follow it.
        entry.valueLen = std::min<size_t>(length, limit_ - entry.valuePos);
        entry.cut = entry.valueLen < length;
        return Step::READ;
    }

    size_t findSpace(size_t from) const {
        if (from >= limit_) return NO_BOUNDARY;
        const void* space = std::memchr(text_.data() + from, ' ', limit_ - from);
        return space == nullptr ? NO_BOUNDARY : static_cast<const char*>(space) - text_.data();
    }

    // The leading digits of [first, last). A sign or any other first byte would move the
    // reading backwards or leave it in place, so it is malformed, as is an oversized number.
    bool parseLength(size_t first, size_t last, unsigned long long& length) const {
        if (first == last || !std::isdigit(static_cast<unsigned char>(text_[first]))) return false;
        length = 0;
        for (size_t i = first; i < last && std::isdigit(static_cast<unsigned char>(text_[i])); ++i) {
            length = length * 10 + static_cast<unsigned>(text_[i] - '0');
            if (length > LARGEST_LENGTH) return false;
        }
        return true;
    }

    const std::string_view text_;
    const size_t limit_;
    size_t position_;
    const size_t boundary_;
    bool stopped_ = false;
    bool malformed_ = false;
    bool cut_ = false;
};

unsigned int countEntries(std::string_view text) {
    EntryReader reader(text, 0);
    Entry entry;
    unsigned int count = 0;
    while (reader.next(entry)) ++count;
    return count;
}

// Searches `name` from `position` to the end, then from the start up to where it began.
// Found: `position` moves just past the attribute. Not found: `position` becomes the start of
// the first attribute at or after where the search began.
bool findCircular(std::string_view text, size_t& position, std::string_view name,
                  Entry& found) {
    auto matches = [&](const Entry& entry) {
        if (entry.nameIn(text) != name) return false;
        found = entry;
        position = entry.end();
        return true;
    };

    EntryReader onward(text, position);
    Entry entry;
    bool read = onward.next(entry);
    const size_t startMark = read ? entry.namePos : onward.position();
    for (; read; read = onward.next(entry))
        if (matches(entry)) return true;

    EntryReader wrapped(text, 0, startMark);
    while (wrapped.next(entry))
        if (matches(entry)) return true;

    position = startMark;
    return false;
}

// A 32-bit strtoul on a platform whose long has 64 bits: magnitudes beyond 32 bits give the
// largest value, negative ones are negated in 32 bits.
unsigned int hexToUInt32(const char* text) {
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, nullptr, 16);
    if (errno == ERANGE) return UINT32_MAX;
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    const bool negative = *text == '-';
    const unsigned long long magnitude = negative ? 0 - parsed : parsed;
    if (magnitude > UINT32_MAX) return UINT32_MAX;
    return static_cast<unsigned int>(negative ? 0 - magnitude : magnitude);
}

// Keeps a message within what one post shows.
int printable(size_t length) { return static_cast<int>(std::min<size_t>(length, CoMsg::MAX_TEXT)); }

}  // namespace

// ---- ConstIterator ----

rcAttrStream::ConstIterator::ConstIterator() : position_(0) {}

rcAttrStream::ConstIterator::ConstIterator(const rcAttrStream& stream)
    : data_(stream.text_), position_(0) {}

rcAttrStream::ConstIterator::~ConstIterator() = default;

void rcAttrStream::ConstIterator::reset(const rcAttrStream& stream) {
    data_ = stream.text_;
    position_ = 0;
}

bool rcAttrStream::ConstIterator::next(unsigned int& namePos, unsigned int& nameLen,
                                       unsigned int& valuePos, unsigned int& valueLen) {
    EntryReader reader(data_, position_);
    Entry entry;
    if (!reader.next(entry)) return false;
    // The reader never goes beyond 4 GiB, so every offset fits.
    namePos = static_cast<unsigned int>(entry.namePos);
    nameLen = static_cast<unsigned int>(entry.nameLen);
    valuePos = static_cast<unsigned int>(entry.valuePos);
    valueLen = static_cast<unsigned int>(entry.valueLen);
    position_ = static_cast<unsigned int>(entry.end());
    return true;
}

bool rcAttrStream::ConstIterator::find(const char* name, unsigned int& valuePos,
                                       unsigned int& valueLen) {
    if (name == nullptr) return false;
    size_t position = position_;
    Entry found;
    const bool ok = findCircular(data_, position, name, found);
    position_ = static_cast<unsigned int>(position);
    if (!ok) return false;
    valuePos = static_cast<unsigned int>(found.valuePos);
    valueLen = static_cast<unsigned int>(found.valueLen);
    return true;
}

unsigned int rcAttrStream::ConstIterator::getSize() { return countEntries(data_); }

// ---- Iterator ----

rcAttrStream::Iterator::Iterator(rcAttrStream& stream) : ConstIterator(stream), stream_(&stream) {}

rcAttrStream::Iterator::~Iterator() = default;

void rcAttrStream::Iterator::reset(const rcAttrStream& stream) {
    ConstIterator::reset(stream);
    // The signature is shared with ConstIterator; the contract in the header requires a
    // stream that may be edited.
    stream_ = const_cast<rcAttrStream*>(&stream);
}

void rcAttrStream::Iterator::remove(const char* name) {
    reset(*stream_);
    if (name == nullptr || !stream_->blankFirst(name)) return;
    reset(*stream_);
    stream_->resetCursor();
}

// ---- rcAttrStream ----

rcAttrStream::rcAttrStream(const char* text)
    : text_(text != nullptr ? text : ""), cursor_(*this) {}

rcAttrStream::rcAttrStream(const std::string& text) : text_(text), cursor_(*this) {}

rcAttrStream::rcAttrStream(const rcAttrStream& other) : text_(other.text_), cursor_(*this) {}

rcAttrStream& rcAttrStream::operator=(const rcAttrStream& other) {
    text_ = other.text_;
    cursor_ = other.cursor_;
    return *this;
}

rcAttrStream::~rcAttrStream() = default;

void rcAttrStream::setStream(const std::string& text) {
    text_ = text;
    resetCursor();
}

void rcAttrStream::resetCursor() { cursor_.reset(*this); }

bool rcAttrStream::isEmpty() const {
    EntryReader reader(text_, 0);
    Entry entry;
    return !reader.next(entry);
}

bool rcAttrStream::isWhole() const { return rcAttrView(text_).isWhole(); }

bool rcAttrStream::blankFirst(const char* name) {
    EntryReader reader(text_, 0);
    Entry entry;
    while (reader.next(entry)) {
        if (entry.nameIn(text_) == name) {
            text_.replace(entry.namePos, entry.nameLen, entry.nameLen, ' ');
            return true;
        }
    }
    return false;
}

void rcAttrStream::addStringValue(const char* name, const char* value) {
    CO_ASSERT(name != nullptr);
    CO_ASSERT(value != nullptr);
    if (std::strchr(name, ' ') != nullptr) {
        CO_MSG_ERROR("Illegal character: '%c' in attribute '%s'.", ' ', name);
        return;
    }
    blankFirst(name);
    text_.append(name).append(" ").append(std::to_string(std::strlen(value))).append(" ");
    text_.append(value);
    resetCursor();
}

void rcAttrStream::addIntValue(const char* name, int value) {
    addStringValue(name, std::to_string(value).c_str());
}

void rcAttrStream::addFloatValue(const char* name, float value) {
    char text[NUMBER_TEXT_SIZE];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    addStringValue(name, text);
}

void rcAttrStream::addUInt32Value(const char* name, unsigned int value) {
    char text[NUMBER_TEXT_SIZE];
    std::snprintf(text, sizeof text, "0x%x", value);
    addStringValue(name, text);
}

void rcAttrStream::addUInt64Value(const char* name, uint64_t value) {
    char text[NUMBER_TEXT_SIZE];
    std::snprintf(text, sizeof text, "0x%" PRIx64, value);
    addStringValue(name, text);
}

void rcAttrStream::addBoolValue(const char* name, bool value) {
    addStringValue(name, value ? "1" : "0");
}

// ---- rcAttrView ----

bool rcAttrView::isWhole() const {
    EntryReader reader(text_, 0);
    Entry entry;
    while (reader.next(entry)) {
    }
    return reader.allWhole() && reader.position() == text_.size();
}

bool rcAttrView::next(std::string_view& name, std::string_view& value) {
    EntryReader reader(text_, position_);
    Entry entry;
    if (!reader.next(entry)) return false;
    name = entry.nameIn(text_);
    value = entry.valueIn(text_);
    position_ = entry.end();
    return true;
}

bool rcAttrView::getStringValue(const char* name, std::string& value) {
    if (name == nullptr) return false;
    Entry found;
    if (!findCircular(text_, position_, name, found)) return false;
    value.assign(found.valueIn(text_));
    return true;
}

// ---- rcAttrStream getters ----

bool rcAttrStream::getStringValue(const char* name, std::string& value) const {
    unsigned int valuePos = 0, valueLen = 0;
    if (!cursor_.find(name, valuePos, valueLen)) return false;
    value.assign(cursor_.getData(), valuePos, valueLen);
    return true;
}

bool rcAttrStream::getStringValue(const char* name, char* buffer, unsigned int size) const {
    CO_ASSERT(buffer != nullptr);
    CO_ASSERT(size >= 1);
    unsigned int valuePos = 0, valueLen = 0;
    if (!cursor_.find(name, valuePos, valueLen)) return false;
    const unsigned int copied = std::min(valueLen, size - 1);
    std::memcpy(buffer, cursor_.getData().data() + valuePos, copied);
    buffer[copied] = '\0';
    return true;
}

bool rcAttrStream::getNumberText(const char* name, char (&text)[NUMBER_TEXT_SIZE]) const {
    return getStringValue(name, text, NUMBER_TEXT_SIZE);
}

bool rcAttrStream::getIntValue(const char* name, int& value) const {
    char text[NUMBER_TEXT_SIZE];
    if (!getNumberText(name, text)) return false;
    // atoi's conversion, without its undefined result for numbers beyond an int; 64 bits on
    // every platform (long has 32 on Windows), so a text reads the same everywhere.
    value = static_cast<int>(std::strtoll(text, nullptr, 10));
    return true;
}

bool rcAttrStream::getUIntValue(const char* name, unsigned int& value) const {
    char text[NUMBER_TEXT_SIZE];
    if (!getNumberText(name, text)) return false;
    value = static_cast<unsigned int>(std::strtoll(text, nullptr, 10));
    return true;
}

bool rcAttrStream::getUInt32Value(const char* name, unsigned int& value) const {
    char text[NUMBER_TEXT_SIZE];
    if (!getNumberText(name, text)) return false;
    value = hexToUInt32(text);
    return true;
}

bool rcAttrStream::getUInt64Value(const char* name, uint64_t& value) const {
    char text[NUMBER_TEXT_SIZE];
    if (!getNumberText(name, text)) return false;
    value = std::strtoull(text, nullptr, 16);
    return true;
}

bool rcAttrStream::getUCharValue(const char* name, unsigned char& value) const {
    int wide = 0;
    if (!getIntValue(name, wide)) return false;
    value = static_cast<unsigned char>(wide);
    return true;
}

bool rcAttrStream::getFloatValue(const char* name, float& value) const {
    char text[NUMBER_TEXT_SIZE];
    if (!getNumberText(name, text)) return false;
    // strtod, not atof: some C libraries' atof reads no hexadecimal numbers.
    value = static_cast<float>(std::strtod(text, nullptr));
    return true;
}

bool rcAttrStream::getBoolValue(const char* name, bool& value) const {
    char text[NUMBER_TEXT_SIZE];
    if (!getNumberText(name, text)) return false;
    value = rcStringToBool(text);
    return true;
}

bool rcAttrStream::operator==(const rcAttrStream& other) const {
    if (text_ == other.text_) return true;
    if (countEntries(text_) != countEntries(other.text_)) return false;
    EntryReader mine(text_, 0);
    Entry entry;
    while (mine.next(entry)) {
        size_t position = 0;
        Entry match;
        if (!findCircular(other.text_, position, entry.nameIn(text_), match)) return false;
        if (entry.valueIn(text_) != match.valueIn(other.text_)) return false;
    }
    return true;
}

void rcAttrStream::dump() const {
    CO_MSG_USER("Attribute Stream Dump");
    EntryReader reader(text_, 0);
    Entry entry;
    while (reader.next(entry)) {
        CO_MSG_USER("'%.*s': '%.*s'", printable(entry.nameLen), text_.data() + entry.namePos,
                    printable(entry.valueLen), text_.data() + entry.valuePos);
    }
    CO_MSG_USER("Attribute Stream Dump Done");
}

std::string rcAttrStream::toPrettyString(int width) const {
    const size_t shown = static_cast<size_t>(std::max(width, 3));
    std::string result;
    EntryReader reader(text_, 0);
    Entry entry;
    while (reader.next(entry)) {
        const std::string_view value = entry.valueIn(text_);
        std::string item(entry.nameIn(text_));
        item += "='";
        if (value.size() > shown)
            item.append(value.substr(0, shown - 3)).append("...'");
        else
            item.append(value).append("'");
        std::replace_if(item.begin(), item.end(),
                        [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
        if (!result.empty()) result += ' ';
        result += item;
    }
    return result;
}

void rcAttrStream::prettyDump(int width) const {
    CO_MSG_USER("Attribute Stream Pretty Dump");
    CO_MSG_USER("%s", toPrettyString(width).c_str());
    CO_MSG_USER("Attribute Stream Pretty Dump Done");
}

}  // namespace Vantrel
