// A list of texts kept in one buffer: an item costs its bytes and four more, not a string
// object of its own (frame paths of million-frame clips). Items are read back by value.
//
// Failure: push_back throws ServerError when the buffer would pass 4 GB.
// Threads: a plain value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vantrel/server/IndexIterator.h"

namespace vantreld {

class TextList {
public:
    TextList() = default;
    TextList(const std::vector<std::string>& items);  // NOLINT: a list converts implicitly

    size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    std::string operator[](size_t index) const;
    std::vector<std::string> list() const;
    bool operator==(const std::vector<std::string>& items) const { return list() == items; }

    void push_back(const std::string& item);
    void clear();

    // The counted-list form of the items, and the list read from that form (false, and the
    // list unchanged, for a text that is not one).
    std::string countedText() const;
    bool parseCounted(const std::string& text);
    // The size of countedText().
    size_t countedSize() const;

    typedef IndexIterator<TextList> const_iterator;
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size()); }

private:
    // Adds the `length` bytes of `from` at `pos` as one item.
    void append(const std::string& from, size_t pos, size_t length);

    std::string bytes_;
    std::vector<uint32_t> ends_;  // where each item ends in bytes_
};

}  // namespace vantreld
