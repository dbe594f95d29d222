// Attribute streams: the text encoding of named values used by login records, server
// descriptions, node replies and discovery packets.
//
// Text form: attributes written back to back, each one
//     NAME ' ' DECIMAL-LENGTH ' ' VALUE
// where NAME is one or more bytes without a space and VALUE is exactly LENGTH bytes of
// anything (spaces, quotes, line ends included; no escaping). Setting `host` to "alpha" and
// then `port` to "7549" gives the 23 bytes "host 5 alphaport 4 7549".
//
// The text never shrinks: replacing or removing an attribute overwrites its name with spaces
// in place (a blank attribute), and every reader skips blank attributes.
//
// Reading one attribute (every reader below uses this step):
//   - no space left in the text: the stream ends there (no error);
//   - spaces after the name are skipped, then the length field runs up to the next space;
//   - a length field with no space after it, that does not start with a digit (a sign or any
//     other byte), or whose value is above the largest signed 32-bit number is malformed:
//     "Error parsing attribute stream." is posted at error level and the stream is treated as
//     ending there;
//   - bytes after the leading digits of the length field are ignored;
//   - a length that runs past the end of the text gives a value cut at the end; nothing
//     follows it.
// No reader ever reads outside the text, and every step moves forward, so any text, however
// hostile, is read in time linear in its size. Offsets are unsigned 32-bit; bytes beyond the
// first 4 GiB of a text are never read.
//
// Threads: nothing here locks. The const getters of rcAttrStream move its lookup cursor, so a
// stream may not be read from two threads at once; copy it or hold a lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rcApi/rcStringToBool.h"

namespace Vantrel {

class rcAttrStream {
public:
    // Walks a copy of a stream's text; offsets it returns are measured in getData().
    class ConstIterator {
    public:
        ConstIterator();
        explicit ConstIterator(const rcAttrStream& stream);
        ConstIterator(const ConstIterator&) = default;
        ConstIterator& operator=(const ConstIterator&) = default;
        virtual ~ConstIterator();

        // Takes a fresh copy of the stream's text and goes back to its start.
        virtual void reset(const rcAttrStream& stream);

        const std::string& getData() const { return data_; }

        // Reads the next non-blank attribute: fills its offsets, moves past it and returns
        // true. At the end of the text or on malformed text (posted) returns false, leaves the
        // position alone and leaves the out-parameters unusable.
        bool next(unsigned int& namePos, unsigned int& nameLen, unsigned int& valuePos,
                  unsigned int& valueLen);

        // Circular search for `name` (exact bytes), starting at the current position and
        // wrapping round to it, so that attributes read in the order they were written are
        // each found by their first parse. Found: returns the value's offsets, the position
        // being just past the attribute. Not found: false, the position being the start of
        // the first attribute at or after where the search began. A null name is not found.
        bool find(const char* name, unsigned int& valuePos, unsigned int& valueLen);

        // Number of non-blank attributes (those before a malformed spot); position unchanged.
        unsigned int getSize();

    protected:
        std::string data_;
        unsigned int position_;
    };

    // A ConstIterator that can also blank attributes of the stream it was made on.
    // The edited stream is not owned and must outlive the iterator's use of remove().
    class Iterator : public ConstIterator {
    public:
        explicit Iterator(rcAttrStream& stream);
        Iterator(const Iterator&) = default;
        Iterator& operator=(const Iterator&) = default;
        ~Iterator() override;

        // As ConstIterator::reset, and `stream` becomes the edited stream: it must not be an
        // object defined const if remove() is called afterwards.
        void reset(const rcAttrStream& stream) override;

        // Blanks the first non-blank attribute called `name` in the edited stream (its name
        // bytes become spaces; length and value stay), then restarts this iterator and the
        // stream's cursor on the new text. Absent name, null name or malformed text before a
        // match: nothing changes.
        void remove(const char* name);

    private:
        rcAttrStream* stream_;
    };

    // The text is a copy of `text` (null counts as empty); nothing is checked.
    rcAttrStream(const char* text = "");
    rcAttrStream(const std::string& text);
    // Copies the text; the copy's cursor starts at the beginning.
    rcAttrStream(const rcAttrStream& other);
    // Copies the text and the other's cursor, position included.
    rcAttrStream& operator=(const rcAttrStream& other);
    virtual ~rcAttrStream();

    const char* getStream() const { return text_.c_str(); }
    const std::string& getStreamStr() const { return text_; }
    // Replaces the text (nothing is checked) and restarts the cursor.
    void setStream(const std::string& text);

    // True when the text holds no non-blank attribute before its end or a malformed spot.
    bool isEmpty() const;
    // True when the text is attributes to its last byte, blank ones included, each with as
    // many value bytes as its length announces (the empty text is whole). A reader that must
    // not take a cut or damaged reply for a complete one checks this.
    bool isWhole() const;

    // Setters. `name` and `value` must not be null (checked; a null stops the process). A
    // name holding a space is refused with "Illegal character: ' ' in attribute 'NAME'." at
    // error level and the stream keeps its content. Otherwise an attribute of that name is
    // blanked and NAME ' ' LENGTH ' ' VALUE is appended. An empty name is written but is
    // skipped by every reader.
    void addStringValue(const char* name, const char* value);
    void addIntValue(const char* name, int value);             // "%d"
    void addFloatValue(const char* name, float value);         // "%g"
    void addUInt32Value(const char* name, unsigned int value); // "0x" and lower-case hex
    void addUInt64Value(const char* name, uint64_t value);     // "0x" and lower-case hex
    void addBoolValue(const char* name, bool value);           // "1" or "0"

    // Getters: false when `name` is null or absent (the output is then untouched); else true.
    // All of them search from where the previous successful lookup ended (see find).
    bool getStringValue(const char* name, std::string& value) const;
    // Copies at most size - 1 bytes of the value and a NUL; `buffer` non-null, `size` >= 1.
    bool getStringValue(const char* name, char* buffer, unsigned int size) const;
    // Numeric getters convert the first 63 bytes of the value and answer true even when the
    // text is not a number (0, or the value of its leading numeric part).
    bool getIntValue(const char* name, int& value) const;              // decimal
    bool getUIntValue(const char* name, unsigned int& value) const;    // decimal, as a long
    bool getUInt32Value(const char* name, unsigned int& value) const;  // hex, saturates
    bool getUInt64Value(const char* name, uint64_t& value) const;      // hex, saturates
    bool getUCharValue(const char* name, unsigned char& value) const;  // decimal, low 8 bits
    bool getFloatValue(const char* name, float& value) const;
    bool getBoolValue(const char* name, bool& value) const;            // rcStringToBool

    // Same non-blank names with the same values, in any order; blank attributes and how
    // often a name was replaced do not matter. Byte-identical texts are always equal.
    bool operator==(const rcAttrStream& other) const;
    bool operator!=(const rcAttrStream& other) const { return !(*this == other); }

    // Posts "Attribute Stream Dump", one "'NAME': 'VALUE'" per attribute and "Attribute
    // Stream Dump Done", all at user level.
    void dump() const;
    // One line of NAME='VALUE' entries joined by single spaces. A value longer than `width`
    // (at least 3) shows its first width - 3 bytes and "..."; line feeds, carriage returns
    // and tabs become spaces.
    std::string toPrettyString(int width) const;
    // Posts "Attribute Stream Pretty Dump", toPrettyString(width) and "Attribute Stream
    // Pretty Dump Done" at user level.
    void prettyDump(int width) const;

private:
    static constexpr unsigned int NUMBER_TEXT_SIZE = 64;

    void resetCursor();
    // Blanks the first attribute called `name` in place; true when it found one.
    bool blankFirst(const char* name);
    bool getNumberText(const char* name, char (&text)[NUMBER_TEXT_SIZE]) const;

    std::string text_;
    mutable ConstIterator cursor_;
};

// Reads an attribute-stream text kept elsewhere without copying it (a long reply, or a value
// of another stream): the same reading steps as rcAttrStream, and the same circular search
// from a position that starts at the beginning. The text must outlive the view; offsets are
// those of rcAttrStream (the first 4 GiB).
class rcAttrView {
public:
    explicit rcAttrView(std::string_view text) : text_(text), position_(0) {}

    // As rcAttrStream::isWhole().
    bool isWhole() const;
    // The next non-blank attribute from the position: its name and value (views into the
    // text), the position moving past it. False at the end or on malformed text (posted),
    // the position unchanged.
    bool next(std::string_view& name, std::string_view& value);
    // As rcAttrStream::getStringValue(name, value): false when `name` is null or absent
    // (`value` untouched).
    bool getStringValue(const char* name, std::string& value);

private:
    std::string_view text_;
    size_t position_;
};

// A plain holder of an attribute-stream text, with no parsing of its own. Used as
// rcAttrList<std::string>.
template <typename Text>
class rcAttrList {
public:
    rcAttrList(const char* text = "") : text_(text != nullptr ? text : "") {}
    rcAttrList(const Text& text) : text_(text) {}
    rcAttrList(const rcAttrList&) = default;
    rcAttrList& operator=(const rcAttrList&) = default;
    virtual ~rcAttrList() = default;

    const char* getStream() const { return text_.c_str(); }
    void setStream(const Text& text) { text_ = text; }

private:
    Text text_;
};

}  // namespace Vantrel
