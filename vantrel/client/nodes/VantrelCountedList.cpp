#include "vantrel/client/nodes/VantrelCountedList.h"

#include <cctype>

namespace {

// Reads decimal digits at `pos` up to the space that must end them, and moves past that
// space. Values above `limit` are refused as soon as they pass it, so no digit string can
// overflow.
bool readNumber(const std::string& text, size_t& pos, size_t limit, size_t& value) {
    size_t at = pos;
    value = 0;
    if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return false;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
        value = value * 10 + static_cast<size_t>(text[at] - '0');
        if (value > limit) return false;
        ++at;
    }
    if (at >= text.size() || text[at] != ' ') return false;
    pos = at + 1;
    return true;
}

size_t decimalDigits(size_t value) {
    size_t digits = 1;
    for (; value >= 10; value /= 10) ++digits;
    return digits;
}

void skipWhiteSpace(const std::string& text, size_t& pos) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
}

}  // namespace

std::string VantrelCountedList::encode(const std::vector<std::string>& items) {
    std::string out;
    append(out, items);
    return out;
}

void VantrelCountedList::append(std::string& out, const std::vector<std::string>& items) {
    size_t bytes = headSize(items.size());
    for (const std::string& item : items) bytes += itemSize(item.size());
    out.reserve(out.size() + bytes);
    appendHead(out, items.size());
    for (const std::string& item : items) appendItem(out, item.data(), item.size());
}

void VantrelCountedList::appendHead(std::string& out, size_t count) {
    out += std::to_string(count);
    out += ' ';
}

void VantrelCountedList::appendItem(std::string& out, const char* bytes, size_t length) {
    out += std::to_string(length);
    out += ' ';
    out.append(bytes, length);
}

size_t VantrelCountedList::headSize(size_t count) { return decimalDigits(count) + 1; }

size_t VantrelCountedList::itemSize(size_t length) { return decimalDigits(length) + 1 + length; }

bool VantrelCountedList::decode(const std::string& text, std::vector<std::string>& items) {
    items.clear();
    std::vector<std::string> read;
    const bool ok = visit(text, [&](size_t count) { read.reserve(count); },
                          [&](size_t pos, size_t length) { read.push_back(text.substr(pos, length)); });
    if (ok) items.swap(read);
    return ok;
}

bool VantrelCountedList::visit(const std::string& text, const std::function<void(size_t)>& count,
                               const std::function<void(size_t, size_t)>& item) {
    size_t pos = 0;
    size_t announced = 0;
    // Every item takes at least two bytes ("0 "), which bounds the count by the text and
    // keeps a hostile count from reserving memory.
    if (!readNumber(text, pos, text.size() / 2, announced)) return false;
    count(announced);
    for (size_t i = 0; i < announced; ++i) {
        skipWhiteSpace(text, pos);
        size_t length = 0;
        if (!readNumber(text, pos, text.size(), length) || length > text.size() - pos)
            return false;
        item(pos, length);
        pos += length;
    }
    return pos == text.size();
}
