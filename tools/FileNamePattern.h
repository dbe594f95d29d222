// A file name with an optional frame number in it, printf style: "out.%04d.exr" gives
// "out.0007.exr" for frame 7, "%d" gives the bare number, "%%" a percent sign; a run of '#'
// is a number padded to its length ("out.####.exr" is "out.%04d.exr"). At most one number;
// any other '%' is refused, so a pattern never reaches a printf-style function.
//
// Failure: the constructor throws PatternError ("'out.%s.exr' has '%s'; ...").
// Threads: a value; no shared state.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

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

// `files` in the order of the frame numbers in their names (the last run of digits in each
// name's last component: "plate.1001.exr" is 1001), so that plate.999 comes before plate.1000
// whatever order the shell gave; left as given when a name holds no number.
void sortByFrameNumber(std::vector<std::string>& files);

}  // namespace vantrel_tool
