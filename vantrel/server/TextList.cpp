#include "vantrel/server/TextList.h"

#include "vantrel/client/nodes/VantrelCountedList.h"
#include "vantrel/server/ServerError.h"

namespace vantreld {

TextList::TextList(const std::vector<std::string>& items) {
    for (const std::string& item : items) push_back(item);
}

std::string TextList::operator[](size_t index) const {
    const size_t end = ends_.at(index);
    const size_t start = index == 0 ? 0 : ends_[index - 1];
    return bytes_.substr(start, end - start);
}

std::vector<std::string> TextList::list() const { return std::vector<std::string>(begin(), end()); }

void TextList::push_back(const std::string& item) { append(item, 0, item.size()); }

void TextList::append(const std::string& from, size_t pos, size_t length) {
    if (bytes_.size() + length > UINT32_MAX) throw ServerError("Text list too long");
    bytes_.append(from, pos, length);
    ends_.push_back(static_cast<uint32_t>(bytes_.size()));
}

void TextList::clear() {
    std::string().swap(bytes_);
    std::vector<uint32_t>().swap(ends_);
}

std::string TextList::countedText() const {
    std::string text;
    text.reserve(countedSize());
    VantrelCountedList::appendHead(text, size());
    size_t start = 0;
    for (uint32_t end : ends_) {
        VantrelCountedList::appendItem(text, bytes_.data() + start, end - start);
        start = end;
    }
    return text;
}

size_t TextList::countedSize() const {
    size_t bytes = VantrelCountedList::headSize(size());
    size_t start = 0;
    for (uint32_t end : ends_) {
        bytes += VantrelCountedList::itemSize(end - start);
        start = end;
    }
    return bytes;
}

bool TextList::parseCounted(const std::string& text) {
    TextList read;
    if (!text.empty() &&
        !VantrelCountedList::visit(
            text, [&](size_t count) { read.ends_.reserve(count); },
            [&](size_t pos, size_t length) { read.append(text, pos, length); }))
        return false;
    *this = std::move(read);
    return true;
}

}  // namespace vantreld
