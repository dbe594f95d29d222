// Decoding and encoding of the texts that node and server requests carry: argument words,
// node-id arguments, counted string lists, comma lists and attribute streams built in one
// pass.
//
// Argument words: an argument text is split at spaces outside double quotes. A double quote
// opens or closes a quoted part and is dropped; inside quotes a backslash is dropped and the
// byte after it is taken as it is; outside quotes every byte but the space and the double
// quote is taken as it is. Two spaces in a row give an empty word, a trailing space a last
// empty word; an empty text has no words. This reads exactly what clients send: plain words,
// and texts quoted with a backslash before every double quote and backslash.
//
// Every decoder checks its bounds and throws ServerError ("Malformed argument: ...") on text
// it cannot read; none reads outside its input, and memory stays proportional to the input.
// Threads: plain functions and values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantreld {

class ArgumentWords {
public:
    // Splits `text` into at most `maxWords` words (0: all). With a limit, the split stops after
    // that many words and rest() gives the bytes after the space that ended the last one.
    explicit ArgumentWords(const std::string& text, size_t maxWords = 0);

    size_t size() const { return words_.size(); }
    const std::string& operator[](size_t index) const { return words_.at(index); }
    // The unsplit remainder (empty when the text ended first).
    const std::string& rest() const { return rest_; }
    // Throws ServerError "Malformed argument: expected at least N words in 'TEXT'" when fewer.
    void requireAtLeast(size_t count) const;

private:
    std::string text_;
    std::vector<std::string> words_;
    std::string rest_;
};

// The node id of a request whose whole argument is one node id: a quoted text is unquoted,
// anything else is the id as it stands.
std::string decodeNodeIdArgument(const std::string& text);

// Whole-word numbers: optional sign and decimal digits only, within the type's range.
// Throws ServerError "Malformed argument: 'WORD' is not a number" otherwise.
int parseInt(const std::string& word);
// A decimal or exponent form that strtod reads completely.
double parseDouble(const std::string& word);

// Counted list: the count and a space, then each item as its length, a space and its bytes.
// ("ab", "c") is "2 2 ab1 c".
std::string encodeCountedList(const std::vector<std::string>& items);
// Appends the encoding to `out` without building a separate text.
void appendCountedList(std::string& out, const std::vector<std::string>& items);
// The items of a counted list. An empty text or a count of 0 gives no items. Throws
// ServerError "Malformed argument: invalid counted list" for anything else that does not
// decode exactly to its end.
std::vector<std::string> decodeCountedList(const std::string& text);

// Items joined by ",", in one reserved text.
std::string joinComma(const std::vector<std::string>& items);
// Items between the commas, empty ones kept; an empty text gives no items.
std::vector<std::string> splitComma(const std::string& text);

// Builds an attribute-stream text by appending, without looking for earlier attributes of the
// same name, so a stream of n attributes costs time linear in its size. Callers give each
// name once; a name must not be empty or hold a space (checked).
class AttrStreamWriter {
public:
    void reserve(size_t bytes) { text_.reserve(bytes); }
    void add(const char* name, const std::string& value);
    void add(const std::string& name, const std::string& value);
    void addInt(const char* name, long long value);
    const std::string& text() const { return text_; }
    std::string take() { return std::move(text_); }

private:
    void appendName(const char* name, size_t length);
    std::string text_;
};

// The digits of `value` in decimal.
size_t decimalDigits(uint64_t value);

// Bytes one attribute takes: name, space, decimal length, space, value.
size_t attributeSize(size_t nameLength, size_t valueLength);

}  // namespace vantreld
