// Reader of sectioned "key = value" configuration files.
//
// Syntax:
//   - Lines end at LF, CR or CR LF. A line holds at most MAX_LINE characters; longer text
//     continues as a new line (with its own line number).
//   - Leading and trailing white space of a line is ignored.
//   - Empty lines and lines beginning with '#' or ';' are comments.
//   - A line beginning with '[' opens a section; its name is the text between the first and
//     the last character of the line (normally the closing ']'), taken as it stands.
//   - Any other line is "key = value" and sets the key in the current section. White space
//     around the first '=' is dropped; the value is the rest of the line, further '=' included.
//     A later line for the same key replaces the earlier value. Opening a section that exists
//     already adds to it.
//   - No continuation lines, quotes or escapes.
// Malformed lines are skipped, each with a warning text that names the line number and the
// source (see warnings()):
//   "Invalid syntax: Not in section. Ignoring line %d of '%s'"    key line before any section
//   "Invalid syntax: No variable value. Ignoring line %d of '%s'" no '='
//   "Invalid syntax: No variable name. Ignoring line %d of '%s'"  empty key
//
// Lookups match sections and keys exactly (case-sensitive); a missing section or key gives the
// caller's default.
//
// Threads: a reader is not locked. Concurrent const lookups are safe; reading a file into a
// reader that others are looking up is not.
#pragma once

#include <istream>
#include <map>
#include <string>
#include <vector>

namespace Vantrel {

class CoConfigFileReader {
public:
    static constexpr int MAX_LINE = 2047;

    // An empty store: no sections, every lookup gives its default.
    CoConfigFileReader();
    ~CoConfigFileReader();

    // Adds the contents of the file `fileName` to the store. False, and the store unchanged,
    // when the file cannot be opened; malformed lines do not make it fail.
    bool readFile(const std::string& fileName);
    // Adds the lines of `input`; `sourceName` is the name the warnings give for it.
    void read(std::istream& input, const std::string& sourceName);

    // The text of section/key into `value`; `defaultValue` (null counts as "") when absent.
    // True when the key was found.
    bool get(const std::string& section, const std::string& key, std::string& value,
             const char* defaultValue) const;
    // The value as an unsigned decimal number: optional white space and '+', digits, and
    // anything after them ignored. `defaultValue` when the key is absent, the text does not
    // start with a number, the number is negative or it exceeds the range of unsigned int.
    // True when a number was read.
    bool get(const std::string& section, const std::string& key, unsigned int& value,
             unsigned int defaultValue) const;
    // The value split at every ',' into `values` (cleared first), each field trimmed of white
    // space, empty fields kept. An absent or empty value leaves `values` empty. True when the
    // key was found.
    bool getList(const std::string& section, const std::string& key,
                 std::vector<std::string>& values) const;

    bool hasSection(const std::string& section) const;

    // The warnings for the malformed lines read so far, in the order of the lines.
    const std::vector<std::string>& warnings() const { return warnings_; }

private:
    typedef std::map<std::string, std::string> Section;

    void readLine(const std::string& rawLine, long long lineNumber,
                  const std::string& sourceName, Section*& current);
    void warn(const char* reason, long long lineNumber, const std::string& sourceName);
    const std::string* find(const std::string& section, const std::string& key) const;

    std::map<std::string, Section> sections_;
    std::vector<std::string> warnings_;
};

}  // namespace Vantrel
