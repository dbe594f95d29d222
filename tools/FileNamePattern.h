// A file name with an optional frame number in it, printf style: "out.%04d.exr" gives
// "out.0007.exr" for frame 7, "%d" gives the bare number, "%%" a percent sign. At most one
// number; any other '%' is refused, so a pattern never reaches a printf-style function.
//
// Failure: the constructor throws PatternError ("'out.%s.exr' has '%s'; ...").
// Threads: a value; no shared state.
#pragma once

#include <stdexcept>
#include <string>

namespace vantrel_tool {

class PatternError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class FileNamePattern {
public:
    explicit FileNamePattern(const std::string& pattern);

    // Whether the pattern holds a frame number (else every frame gets the same name).
    bool numbered() const { return numbered_; }
    // The name for frame `number`.
    std::string name(size_t number) const;

private:
    std::string before_;  // the text before the number, '%%' already undone
    std::string after_;
    size_t width_ = 0;  // zero-padded to this many digits
    bool numbered_ = false;
};

}  // namespace vantrel_tool
