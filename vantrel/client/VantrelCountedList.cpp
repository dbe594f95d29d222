#include "vantrel/client/VantrelCountedList.h"

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
    size_t bytes = 21;
    for (const std::string& item : items) bytes += 21 + item.size();
    out.reserve(out.size() + bytes);
    out += std::to_string(items.size());
    out += ' ';
    for (const std::string& item : items) {
        out += std::to_string(item.size());
        out += ' ';
        out += item;
    }
}

bool VantrelCountedList::decode(const std::string& text, std::vector<std::string>& items) {
    items.clear();
    size_t pos = 0;
    size_t count = 0;
    // Every item takes at least two bytes ("0 "), which bounds the count by the text and
    // keeps a hostile count from reserving memory.
    if (!readNumber(text, pos, text.size() / 2, count)) return false;
    std::vector<std::string> read;
    read.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        skipWhiteSpace(text, pos);
        size_t length = 0;
        if (!readNumber(text, pos, text.size(), length) || length > text.size() - pos)
            return false;
        read.push_back(text.substr(pos, length));
        pos += length;
    }
    if (pos != text.size()) return false;
    items.swap(read);
    return true;
}
