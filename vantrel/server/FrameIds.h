// The frame ids of one node. The store names frames "SERIAL.N", N counting up per node and
// never reused, so a node's ids are runs of consecutive numbers: they are kept as runs, and a
// clip of a million frames costs a few bytes, not a string per frame.
//
// Text forms: runsText() gives "FIRST COUNT FIRST COUNT ..." (the manifest's form);
// parseRuns() and parseIds() read that form and a plain list of ids. Ids in a list that are
// not "SERIAL.N" of this node make the parse fail.
//
// Threads: a plain value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vantrel/server/IndexIterator.h"

namespace vantreld {

class FrameIds {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    explicit FrameIds(uint64_t serial = 0) : serial_(serial), size_(0) {}

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // The id at `index` (below size()).
    std::string operator[](size_t index) const;
    // The index of `id`, or npos.
    size_t indexOf(const std::string& id) const;
    bool contains(const std::string& id) const { return indexOf(id) != npos; }
    std::vector<std::string> list() const;

    // Keeps the first `count` ids (no change when there are fewer).
    void truncate(size_t count);
    // Appends the ids numbered `first` to `first + count - 1`.
    void append(uint64_t first, uint64_t count);
    void clear() { truncate(0); }

    std::string runsText() const;
    // False (and the ids unchanged) for a text that is not a runs text.
    bool parseRuns(const std::string& text);
    bool parseIds(const std::vector<std::string>& ids);

    // The ids joined by commas, and as a counted list, written in one pass.
    std::string commaText() const;
    std::string countedText() const;

    typedef IndexIterator<FrameIds> const_iterator;
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size_); }

private:
    struct Run {
        uint64_t first;
        uint64_t count;
        size_t offset;  // index of the run's first id
    };
    std::string prefix() const { return std::to_string(serial_) + "."; }
    size_t runOf(size_t index) const;
    // Calls `visit` with the number of every id, in order.
    template <class Visit>
    void forEachNumber(Visit visit) const;
    // Bytes of all ids together.
    size_t idBytes() const;

    uint64_t serial_;
    size_t size_;
    std::vector<Run> runs_;
};

}  // namespace vantreld
