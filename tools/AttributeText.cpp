#include "AttributeText.h"

#include <cctype>

namespace vantrel_tool {

std::vector<std::pair<std::string, std::string>> readAttributeText(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t at = 0;
    while (at < text.size()) {
        const size_t nameEnd = text.find(' ', at);
        if (nameEnd == std::string::npos) break;
        const std::string name = text.substr(at, nameEnd - at);
        size_t lengthStart = text.find_first_not_of(' ', nameEnd);
        if (lengthStart == std::string::npos) break;
        const size_t lengthEnd = text.find(' ', lengthStart);
        if (lengthEnd == std::string::npos) break;
        size_t length = 0;
        for (size_t i = lengthStart; i < lengthEnd && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
            length = std::min<size_t>(length * 10 + static_cast<size_t>(text[i] - '0'), text.size());
        const size_t valueStart = lengthEnd + 1;
        const std::string value = text.substr(std::min(valueStart, text.size()), length);
        if (!name.empty()) pairs.emplace_back(name, value);
        at = valueStart + length;
    }
    return pairs;
}

}  // namespace vantrel_tool
