#include "FrameSelection.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace vantrel_tool {
namespace {

std::string trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

// A decimal index below `frameCount`, from `text` (which `item` is quoted for).
size_t indexOf(const std::string& text, const std::string& item, size_t frameCount) {
    const std::string digits = trimmed(text);
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        throw SelectionError("'" + item + "' is not a frame index or range (such as 0-23,40)");
    size_t value = 0;
    for (char digit : digits) {
        const size_t next = value * 10 + static_cast<size_t>(digit - '0');
        if (value > (std::numeric_limits<size_t>::max() - 9) / 10 || next >= frameCount)
            throw SelectionError("frame " + digits + " is beyond the clip's " +
                                 std::to_string(frameCount) + " frames");
        value = next;
    }
    return value;
}

// The step after the 'x' at `times` of a range `item` ("0-100x2"): a whole number from 1.
size_t stepOf(const std::string& item, size_t times) {
    const std::string digits = trimmed(item.substr(times + 1));
    const bool whole = !digits.empty() && digits.size() <= 9 &&
                       std::all_of(digits.begin(), digits.end(),
                                   [](unsigned char c) { return std::isdigit(c); });
    const size_t step = whole ? std::stoul(digits) : 0;
    if (step == 0) throw SelectionError("'" + item + "' has no step of 1 or more after 'x'");
    return step;
}

}  // namespace

FrameSelection FrameSelection::all(size_t frameCount) {
    FrameSelection selection;
    if (frameCount > 0) selection.add(0, frameCount - 1, 1);
    return selection;
}

FrameSelection FrameSelection::parse(const std::string& text, size_t frameCount) {
    if (trimmed(text).empty()) return all(frameCount);
    FrameSelection selection;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(start, comma - start);
        const size_t dash = item.find('-');
        const size_t times = item.find('x');
        if (dash == std::string::npos) {
            const size_t index = indexOf(item, item, frameCount);
            selection.add(index, index, 1);
        } else {
            const size_t first = indexOf(item.substr(0, dash), item, frameCount);
            const std::string tail = item.substr(dash + 1, times == std::string::npos
                                                               ? std::string::npos
                                                               : times - dash - 1);
            const size_t last =
                trimmed(tail).empty() ? frameCount - 1 : indexOf(tail, item, frameCount);
            if (last < first) throw SelectionError("range '" + item + "' runs backwards");
            selection.add(first, last, times == std::string::npos ? 1 : stepOf(item, times));
        }
        start = comma + 1;
    }
    return selection;
}

size_t FrameSelection::operator[](size_t position) const {
    const size_t range =
        static_cast<size_t>(std::upper_bound(ends_.begin(), ends_.end(), position) - ends_.begin());
    const size_t rangeStart = range == 0 ? 0 : ends_[range - 1];
    return ranges_[range].first + (position - rangeStart) * ranges_[range].step;
}

void FrameSelection::add(size_t first, size_t last, size_t step) {
    ranges_.push_back({first, step});
    ends_.push_back(size() + (last - first) / step + 1);
}

}  // namespace vantrel_tool
