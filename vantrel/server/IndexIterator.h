// A forward iterator over a container whose items are made on request by index
// (`container[index]` returns them by value), for range-for and the standard algorithms.
// Threads: as the container.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>

namespace vantreld {

template <class Container>
class IndexIterator {
public:
    typedef std::forward_iterator_tag iterator_category;
    typedef std::string value_type;
    typedef std::ptrdiff_t difference_type;
    typedef const std::string* pointer;
    typedef std::string reference;

    IndexIterator(const Container* items, size_t index) : items_(items), index_(index) {}
    std::string operator*() const { return (*items_)[index_]; }
    IndexIterator& operator++() {
        ++index_;
        return *this;
    }
    bool operator==(const IndexIterator& other) const { return index_ == other.index_; }
    bool operator!=(const IndexIterator& other) const { return index_ != other.index_; }

private:
    const Container* items_;
    size_t index_;
};

}  // namespace vantreld
