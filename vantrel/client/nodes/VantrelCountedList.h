// The counted string list: how the attribute-stream forms of node requests carry a list of
// texts (frame ids, file paths) inside one value.
//
// Form: the number of items in decimal and a space, then for each item its length in bytes in
// decimal, a space and exactly that many bytes. The items "ab" and "c" give "2 2 ab1 c".
// Items may hold any byte (spaces and commas included); the list carries no escaping.
//
// Threads: plain functions.
#pragma once

#include <functional>
#include <string>
#include <vector>

class VantrelCountedList {
public:
    static std::string encode(const std::vector<std::string>& items);
    // Appends the form of `items` to `out`, making room for exactly that once.
    static void append(std::string& out, const std::vector<std::string>& items);

    // The form piece by piece, for writers that make the items one at a time: the head of a
    // list of `count` items, then each item in turn; and the bytes each piece takes (to make
    // room for the whole list once).
    static void appendHead(std::string& out, size_t count);
    static void appendItem(std::string& out, const char* bytes, size_t length);
    static size_t headSize(size_t count);
    static size_t itemSize(size_t length);

    // Reads a list into `items` (replaced). The count must start the text and be followed by
    // a space; white space before each length is skipped; the text must end exactly after the
    // announced items. "0 " is the empty list. False, with `items` emptied, for anything else:
    // an empty text, a missing space, a sign or other byte where a number belongs, a length
    // running past the end, more or fewer items than announced. Never reads outside `text`;
    // memory is bounded by the text's size.
    static bool decode(const std::string& text, std::vector<std::string>& items);
    // The same reading without building strings: `count` gets the announced count (bounded by
    // the text), then `item` the position and length of each item in `text`, in order. False
    // as decode() is; the calls made before a failure are then to be discarded.
    static bool visit(const std::string& text, const std::function<void(size_t)>& count,
                      const std::function<void(size_t, size_t)>& item);
};
