#include "FileNamePattern.h"

#include <cctype>

namespace vantrel_tool {
namespace {

constexpr size_t MAX_WIDTH = 20;  // digits of the largest frame number

}  // namespace

FileNamePattern::FileNamePattern(const std::string& pattern) {
    std::string* text = &before_;
    for (size_t at = 0; at < pattern.size(); ++at) {
        if (pattern[at] != '%') {
            *text += pattern[at];
            continue;
        }
        if (at + 1 < pattern.size() && pattern[at + 1] == '%') {
            *text += '%';
            ++at;
            continue;
        }
        size_t end = at + 1;
        const bool padded = end < pattern.size() && pattern[end] == '0';
        size_t width = 0;
        while (end < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[end])) &&
               width <= MAX_WIDTH)
            width = width * 10 + static_cast<size_t>(pattern[end++] - '0');
        const bool number = end < pattern.size() && pattern[end] == 'd' && (padded || width == 0) &&
                            width <= MAX_WIDTH;
        if (!number || numbered_)
            throw PatternError(
                "'" + pattern + "' has '" + pattern.substr(at, end + 1 - at) +
                "': a name takes one frame number, %d or %0Nd (%% for a percent sign)");
        numbered_ = true;
        width_ = width;
        text = &after_;
        at = end;
    }
}

std::string FileNamePattern::name(size_t number) const {
    if (!numbered_) return before_;
    std::string digits = std::to_string(number);
    if (digits.size() < width_) digits.insert(0, width_ - digits.size(), '0');
    return before_ + digits + after_;
}

}  // namespace vantrel_tool
