#include "FileNamePattern.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace vantrel_tool {
namespace {

constexpr size_t MAX_WIDTH = 20;  // digits of the largest frame number

}  // namespace

FileNamePattern::FileNamePattern(const std::string& pattern) {
    std::string* text = &before_;
    for (size_t at = 0; at < pattern.size(); ++at) {
        if (pattern[at] == '#') {
            // A run of '#' is a number padded to its length ("####": 0007).
            const size_t end = pattern.find_first_not_of('#', at);
            const size_t width = (end == std::string::npos ? pattern.size() : end) - at;
            if (numbered_ || width > MAX_WIDTH)
                throw PatternError("'" + pattern + "' has a second frame number or too many " +
                                   "'#': a name takes one, such as #### or %04d");
            numbered_ = true;
            width_ = width;
            text = &after_;
            at += width - 1;
            continue;
        }
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

namespace {

// The last run of digits in the last component of `path`; false when there is none.
bool frameNumberOf(const std::string& path, unsigned long long& number) {
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t end = path.size();
    while (end > nameStart && !std::isdigit(static_cast<unsigned char>(path[end - 1]))) --end;
    size_t begin = end;
    while (begin > nameStart && std::isdigit(static_cast<unsigned char>(path[begin - 1]))) --begin;
    if (begin == end || end - begin > MAX_WIDTH - 1) return false;
    number = std::stoull(path.substr(begin, end - begin));
    return true;
}

}  // namespace

void sortByFrameNumber(std::vector<std::string>& files) {
    std::vector<std::pair<unsigned long long, std::string>> numbered;
    for (const std::string& file : files) {
        unsigned long long number = 0;
        if (!frameNumberOf(file, number)) return;
        numbered.emplace_back(number, file);
    }
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < files.size(); ++i) files[i] = numbered[i].second;
}

std::string FileNamePattern::name(size_t number) const {
    if (!numbered_) return before_;
    std::string digits = std::to_string(number);
    if (digits.size() < width_) digits.insert(0, width_ - digits.size(), '0');
    return before_ + digits + after_;
}

}  // namespace vantrel_tool
