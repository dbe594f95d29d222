#include "vantrel/server/FrameIds.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "vantrel/client/nodes/VantrelCountedList.h"
#include "vantrel/server/WireText.h"

namespace vantreld {

namespace {

// Reads a whole unsigned decimal word; false for anything else.
bool parseNumber(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

size_t FrameIds::runOf(size_t index) const {
    const auto after = std::upper_bound(runs_.begin(), runs_.end(), index,
                                        [](size_t i, const Run& run) { return i < run.offset; });
    return static_cast<size_t>(after - runs_.begin()) - 1;
}

std::string FrameIds::operator[](size_t index) const {
    const Run& run = runs_.at(runOf(index));
    return prefix() + std::to_string(run.first + (index - run.offset));
}

size_t FrameIds::indexOf(const std::string& id) const {
    const std::string expected = prefix();
    uint64_t number = 0;
    if (id.compare(0, expected.size(), expected) != 0 ||
        !parseNumber(id.substr(expected.size()), number))
        return npos;
    for (const Run& run : runs_)
        if (number >= run.first && number - run.first < run.count)
            return run.offset + static_cast<size_t>(number - run.first);
    return npos;
}

std::vector<std::string> FrameIds::list() const { return std::vector<std::string>(begin(), end()); }

void FrameIds::truncate(size_t count) {
    if (count >= size_) return;
    while (!runs_.empty() && runs_.back().offset >= count) runs_.pop_back();
    if (!runs_.empty()) runs_.back().count = count - runs_.back().offset;
    size_ = count;
}

void FrameIds::append(uint64_t first, uint64_t count) {
    if (count == 0) return;
    if (!runs_.empty() && runs_.back().first + runs_.back().count == first)
        runs_.back().count += count;
    else
        runs_.push_back({first, count, size_});
    size_ += static_cast<size_t>(count);
}

std::string FrameIds::runsText() const {
    std::string text;
    for (const Run& run : runs_) {
        if (!text.empty()) text += ' ';
        text += std::to_string(run.first) + " " + std::to_string(run.count);
    }
    return text;
}

bool FrameIds::parseRuns(const std::string& text) {
    FrameIds parsed(serial_);
    std::istringstream words(text);
    std::string first, count;
    while (words >> first) {
        uint64_t from = 0, many = 0;
        if (!(words >> count) || !parseNumber(first, from) || !parseNumber(count, many) ||
            many > UINT32_MAX)
            return false;
        parsed.append(from, many);
    }
    *this = parsed;
    return true;
}

bool FrameIds::parseIds(const std::vector<std::string>& ids) {
    FrameIds parsed(serial_);
    const std::string expected = prefix();
    for (const std::string& id : ids) {
        uint64_t number = 0;
        if (id.compare(0, expected.size(), expected) != 0 ||
            !parseNumber(id.substr(expected.size()), number))
            return false;
        parsed.append(number, 1);
    }
    *this = parsed;
    return true;
}

template <class Visit>
void FrameIds::forEachNumber(Visit visit) const {
    for (const Run& run : runs_)
        for (uint64_t n = run.first; n < run.first + run.count; ++n) visit(n);
}

size_t FrameIds::idBytes() const {
    const size_t head = prefix().size();
    size_t bytes = 0;
    forEachNumber([&](uint64_t n) { bytes += head + decimalDigits(n); });
    return bytes;
}

std::string FrameIds::commaText() const {
    std::string text;
    text.reserve(idBytes() + size_);
    const std::string head = prefix();
    forEachNumber([&](uint64_t n) {
        if (!text.empty()) text += ',';
        text += head;
        text += std::to_string(n);
    });
    return text;
}

std::string FrameIds::countedText() const {
    const std::string head = prefix();
    size_t bytes = VantrelCountedList::headSize(size_);
    forEachNumber([&](uint64_t n) {
        bytes += VantrelCountedList::itemSize(head.size() + decimalDigits(n));
    });
    std::string text;
    text.reserve(bytes);  // exactly: a long list is never copied while it grows
    VantrelCountedList::appendHead(text, size_);
    std::string id = head;
    forEachNumber([&](uint64_t n) {
        id.resize(head.size());
        id += std::to_string(n);
        VantrelCountedList::appendItem(text, id.data(), id.size());
    });
    return text;
}

}  // namespace vantreld
