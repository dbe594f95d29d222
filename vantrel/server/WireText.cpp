#include "vantrel/server/WireText.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "osal/CoAssert.h"
#include "vantrel/client/nodes/VantrelCountedList.h"
#include "vantrel/client/nodes/VantrelNodeWire.h"
#include "vantrel/server/ServerError.h"

namespace vantreld {

namespace {

[[noreturn]] void malformed(const std::string& why) {
    throw ServerError("Malformed argument: " + why);
}

void appendDecimal(std::string& out, unsigned long long value) {
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%llu", value);
    out.append(digits, static_cast<size_t>(length));
}

}  // namespace

// ---------------------------------------------------------------------------- ArgumentWords

ArgumentWords::ArgumentWords(const std::string& text, size_t maxWords) : text_(text) {
    if (text.empty()) return;
    std::string word;
    bool quoted = false;
    size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (quoted && c == '\\') {
            if (++i == text.size()) break;
            word += text[i];
        } else if (!quoted && c == ' ') {
            words_.push_back(std::move(word));
            word.clear();
            if (maxWords != 0 && words_.size() == maxWords) {
                rest_ = text.substr(i + 1);
                return;
            }
        } else {
            word += c;
        }
    }
    if (quoted) malformed("unterminated quote in '" + text + "'");
    words_.push_back(std::move(word));
}

void ArgumentWords::requireAtLeast(size_t count) const {
    if (words_.size() < count)
        malformed("expected at least " + std::to_string(count) + " words in '" + text_ + "'");
}

std::string decodeNodeIdArgument(const std::string& text) {
    if (text.empty() || text[0] != '"') return text;
    ArgumentWords words(text);
    if (words.size() != 1) malformed("invalid node id '" + text + "'");
    return words[0];
}

// ---------------------------------------------------------------------------- numbers

int parseInt(const std::string& word) {
    if (word.empty() || word.size() > 20) malformed("'" + word + "' is not a number");
    size_t i = (word[0] == '-' || word[0] == '+') ? 1 : 0;
    if (i == word.size()) malformed("'" + word + "' is not a number");
    for (size_t k = i; k < word.size(); ++k)
        if (word[k] < '0' || word[k] > '9') malformed("'" + word + "' is not a number");
    errno = 0;
    const long long value = std::strtoll(word.c_str(), nullptr, 10);
    if (errno != 0 || value < INT_MIN || value > INT_MAX)
        malformed("'" + word + "' is out of range");
    return static_cast<int>(value);
}

double parseDouble(const std::string& word) {
    if (word.empty()) malformed("'' is not a number");
    char* end = nullptr;
    const double value = std::strtod(word.c_str(), &end);
    if (end != word.c_str() + word.size()) malformed("'" + word + "' is not a number");
    return value;
}

// ---------------------------------------------------------------------------- counted lists

// The forms are the client's own, so both ends read and write them alike.

void appendCountedList(std::string& out, const std::vector<std::string>& items) {
    VantrelCountedList::append(out, items);
}

std::string encodeCountedList(const std::vector<std::string>& items) {
    return VantrelCountedList::encode(items);
}

std::vector<std::string> decodeCountedList(const std::string& text) {
    std::vector<std::string> items;
    if (text.empty()) return items;  // an absent list is an empty one here
    if (!VantrelCountedList::decode(text, items)) malformed("invalid counted list");
    return items;
}

// ---------------------------------------------------------------------------- comma lists

std::string joinComma(const std::vector<std::string>& items) {
    return VantrelNodeWire::joinCommaList(items);
}

std::vector<std::string> splitComma(const std::string& text) {
    return VantrelNodeWire::splitCommaList(text);
}

// ---------------------------------------------------------------------------- attribute streams

size_t decimalDigits(uint64_t value) {
    size_t digits = 1;
    for (; value >= 10; value /= 10) ++digits;
    return digits;
}

size_t attributeSize(size_t nameLength, size_t valueLength) {
    return nameLength + 1 + decimalDigits(valueLength) + 1 + valueLength;
}

void AttrStreamWriter::appendName(const char* name, size_t length) {
    CO_ASSERT(length > 0);
    for (size_t i = 0; i < length; ++i) CO_ASSERT(name[i] != ' ');
    text_.append(name, length);
    text_ += ' ';
}

void AttrStreamWriter::add(const char* name, const std::string& value) {
    CO_ASSERT(name != nullptr);
    appendName(name, std::char_traits<char>::length(name));
    appendDecimal(text_, value.size());
    text_ += ' ';
    text_ += value;
}

void AttrStreamWriter::add(const std::string& name, const std::string& value) {
    add(name.c_str(), value);
}

void AttrStreamWriter::addInt(const char* name, long long value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%lld", value);
    add(name, digits);
}

}  // namespace vantreld
