// Which frames of a clip a transfer takes: index ranges such as "0-23,40" or "10-" (from 10 to
// the last frame), every Nth frame of a range with "xN" ("0-100x2": 0, 2, ... 100; "1-x2"),
// in the order written (repeats allowed); the empty text takes every frame.
//
// Parsing is strict and bounded: items are separated by commas, each a decimal index or two
// joined by '-' (the first not above the second), optional spaces around them; an index must
// lie below the clip's frame count. The selection stores ranges, not indexes, so a text of a
// few bytes naming millions of frames costs a few bytes.
//
// Failure: parse() throws SelectionError with a one-line reason ("frame 40 is beyond the
// last frame, 23").
// Threads: a value; no shared state.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantrel_tool {

class SelectionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class FrameSelection {
public:
    // Every frame of a clip of `frameCount` frames.
    static FrameSelection all(size_t frameCount);
    // The frames `text` names in a clip of `frameCount` frames.
    static FrameSelection parse(const std::string& text, size_t frameCount);

    // The number of frames selected (counting repeats).
    size_t size() const { return ends_.empty() ? 0 : ends_.back(); }
    // The frame index at position `position` (below size()).
    size_t operator[](size_t position) const;

private:
    struct Range {
        size_t first;
        size_t step;
    };
    void add(size_t first, size_t last, size_t step);

    std::vector<Range> ranges_;
    std::vector<size_t> ends_;  // positions just past each range, in order
};

}  // namespace vantrel_tool
