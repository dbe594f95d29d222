#include "osal/CoConfigFile.h"

#include <cctype>
#include <climits>
#include <fstream>

namespace Vantrel {
namespace {

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string trim(const std::string& text) {
    std::string::size_type begin = 0;
    std::string::size_type end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// Reads the next line into `line` (without its end). A CR LF pair counts as one end, as it did
// in the text-mode files these configurations come from. False at end of input.
bool nextLine(std::streambuf& input, std::string& line) {
    typedef std::char_traits<char> Traits;
    line.clear();
    int c = input.sbumpc();
    if (c == Traits::eof()) return false;
    while (c != Traits::eof() && c != '\n' && c != '\r') {
        line.push_back(static_cast<char>(c));
        if (line.size() == static_cast<std::string::size_type>(CoConfigFileReader::MAX_LINE)) {
            // The rest of an over-long line is read as a line of its own; a line end right
            // after the limit still belongs to this line.
            const int next = input.sgetc();
            if (next != '\n' && next != '\r') return true;
            c = input.sbumpc();
            break;
        }
        c = input.sbumpc();
    }
    if (c == '\r' && input.sgetc() == '\n') input.sbumpc();
    return true;
}

// Reads "[+]digits" at the start of `text` (after white space) into `value`. Negative and
// out-of-range numbers are refused rather than wrapped around.
bool parseUnsigned(const std::string& text, unsigned int& value) {
    std::string::size_type pos = 0;
    while (pos < text.size() && isBlank(text[pos])) ++pos;
    if (pos < text.size() && text[pos] == '+') ++pos;
    if (pos >= text.size() || !std::isdigit(static_cast<unsigned char>(text[pos]))) return false;
    unsigned long long number = 0;
    for (; pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])); ++pos) {
        number = number * 10 + static_cast<unsigned>(text[pos] - '0');
        if (number > UINT_MAX) return false;
    }
    value = static_cast<unsigned int>(number);
    return true;
}

}  // namespace

CoConfigFileReader::CoConfigFileReader() = default;

CoConfigFileReader::~CoConfigFileReader() = default;

bool CoConfigFileReader::readFile(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::in | std::ios::binary);
    if (!file.is_open()) return false;
    read(file, fileName);
    return true;
}

void CoConfigFileReader::read(std::istream& input, const std::string& sourceName) {
    std::streambuf* buffer = input.rdbuf();
    if (buffer == nullptr) return;
    Section* current = nullptr;
    std::string line;
    for (long long lineNumber = 1; nextLine(*buffer, line); ++lineNumber)
        readLine(line, lineNumber, sourceName, current);
}

void CoConfigFileReader::readLine(const std::string& rawLine, long long lineNumber,
                                  const std::string& sourceName, Section*& current) {
    const std::string line = trim(rawLine);
    if (line.empty() || line[0] == '#' || line[0] == ';') return;
    if (line[0] == '[') {
        // A lone "[" has no last character to drop and names the empty section.
        const std::string name = line.size() >= 2 ? line.substr(1, line.size() - 2) : "";
        current = &sections_[name];
        return;
    }
    if (current == nullptr) return warn("Not in section", lineNumber, sourceName);
    const std::string::size_type equals = line.find('=');
    if (equals == std::string::npos) return warn("No variable value", lineNumber, sourceName);
    const std::string key = trim(line.substr(0, equals));
    if (key.empty()) return warn("No variable name", lineNumber, sourceName);
    (*current)[key] = trim(line.substr(equals + 1));
}

void CoConfigFileReader::warn(const char* reason, long long lineNumber,
                              const std::string& sourceName) {
    warnings_.push_back(std::string("Invalid syntax: ") + reason + ". Ignoring line " +
                        std::to_string(lineNumber) + " of '" + sourceName + "'");
}

const std::string* CoConfigFileReader::find(const std::string& section,
                                            const std::string& key) const {
    const auto sectionIt = sections_.find(section);
    if (sectionIt == sections_.end()) return nullptr;
    const auto keyIt = sectionIt->second.find(key);
    return keyIt == sectionIt->second.end() ? nullptr : &keyIt->second;
}

bool CoConfigFileReader::get(const std::string& section, const std::string& key,
                             std::string& value, const char* defaultValue) const {
    const std::string* found = find(section, key);
    value = found != nullptr ? *found : (defaultValue != nullptr ? defaultValue : "");
    return found != nullptr;
}

bool CoConfigFileReader::get(const std::string& section, const std::string& key,
                             unsigned int& value, unsigned int defaultValue) const {
    const std::string* found = find(section, key);
    if (found != nullptr && parseUnsigned(*found, value)) return true;
    value = defaultValue;
    return false;
}

bool CoConfigFileReader::getList(const std::string& section, const std::string& key,
                                 std::vector<std::string>& values) const {
    values.clear();
    const std::string* found = find(section, key);
    if (found == nullptr) return false;
    if (found->empty()) return true;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type comma = found->find(',', start);
        values.push_back(trim(found->substr(start, comma - start)));
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

bool CoConfigFileReader::hasSection(const std::string& section) const {
    return sections_.count(section) != 0;
}

}  // namespace Vantrel
