#include "rcApi/rcMessage.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "osal/CoAssert.h"
#include "tcp/CoIoTcpDescriptor.h"

namespace Vantrel {

namespace {

constexpr size_t WORD_SIZE = 256;

enum CommandState { IN_MODE = 0, IN_OBJECT_ID = 1, IN_METHOD = 2, IN_ARGS = 3 };
enum ResultState { IN_STATUS = 0, IN_VALUE = 1 };

// Decodes the run of escaped bytes at the start of `bytes` up to the line feed into `value`,
// within `budget`; returns how many bytes it took, the byte that passes the limit included
// (as parseChar counts it).
size_t parseEscapedRun(const char* bytes, size_t count, rcValue& value, rcLineBudget& budget) {
    const void* lineFeed = std::memchr(bytes, '\n', count);
    const size_t run = lineFeed != nullptr ? static_cast<const char*>(lineFeed) - bytes : count;
    const size_t kept = std::min(run, budget.room());
    value.appendEscaped(bytes, kept);
    budget.spend(kept);
    if (kept == run) return run;
    budget.take();  // the byte past the limit: counted, not kept
    return kept + 1;
}

const char SPECIAL_BYTES[] = "\n\t\\";

// The size of the escaped form of the `length` bytes at `text`.
size_t escapedSize(const char* text, size_t length) {
    size_t size = length;
    for (size_t i = std::strcspn(text, SPECIAL_BYTES); i < length;
         i += 1 + std::strcspn(text + i + 1, SPECIAL_BYTES))
        ++size;
    return size;
}

// Appends the escaped form of the `length` bytes at `text` (no NUL among them) to `out`.
void appendEscapedText(std::string& out, const char* text, size_t length) {
    for (size_t i = 0; i < length;) {
        const size_t plain = std::strcspn(text + i, SPECIAL_BYTES);  // bytes copied unchanged
        out.append(text + i, plain);
        i += plain;
        if (i == length) break;
        const char c = text[i++];
        out += '\\';
        out += c == '\n' ? 'n' : c == '\t' ? 't' : '\\';
    }
}

}  // namespace

void rcAppendReplyLine(std::string& out, const std::string& status, const char* value) {
    const size_t length = std::strlen(value);  // a value ends at its first NUL
    out.reserve(out.size() + status.size() + escapedSize(value, length) + 2);
    out += status;
    out += ' ';
    appendEscapedText(out, value, length);
    out += '\n';
}

// ---------------------------------------------------------------------------------- rcValue

rcValue::rcValue() : value_(WORD_SIZE), escapePending_(false) {}

rcValue::~rcValue() = default;

void rcValue::setValue(const char* value) { value_.setValue(value); }

void rcValue::clear() {
    value_.clear();
    escapePending_ = false;
}

std::string rcValue::escapedValue() const {
    const char* text = value_.c_str();
    const size_t length = std::strlen(text);  // a value ends at its first NUL
    std::string escaped;
    escaped.reserve(escapedSize(text, length));
    appendEscapedText(escaped, text, length);
    return escaped;
}

void rcValue::appendEscapedChar(char c) {
    if (!escapePending_) {
        if (c == '\\')
            escapePending_ = true;
        else
            value_ += c;
        return;
    }
    escapePending_ = false;
    switch (c) {
        case 'n': value_ += '\n'; break;
        case 't': value_ += '\t'; break;
        default: value_ += c; break;
    }
}

void rcValue::appendEscaped(const char* bytes, size_t count) {
    size_t i = 0;
    while (i < count) {
        if (escapePending_) {
            appendEscapedChar(bytes[i++]);
            continue;
        }
        const void* backslash = std::memchr(bytes + i, '\\', count - i);
        const size_t end = backslash != nullptr ? static_cast<const char*>(backslash) - bytes : count;
        value_.append(bytes + i, static_cast<int>(end - i));
        i = end;
        if (i < count) {
            escapePending_ = true;
            ++i;
        }
    }
}

// ----------------------------------------------------------------------------- rcLineBudget

// A line may take MAX_LINE_LENGTH bytes with its line feed, so MAX_LINE_LENGTH - 1 before it.
// Kept so, the builders never need more than MAX_LINE_LENGTH bytes for one line.
bool rcLineBudget::take() {
    if (used_ < CoIoTcpDescriptor::MAX_LINE_LENGTH) ++used_;
    return used_ < CoIoTcpDescriptor::MAX_LINE_LENGTH;
}

bool rcLineBudget::exhausted() const { return used_ >= CoIoTcpDescriptor::MAX_LINE_LENGTH; }

size_t rcLineBudget::room() const {
    return exhausted() ? 0 : CoIoTcpDescriptor::MAX_LINE_LENGTH - 1 - used_;
}

// -------------------------------------------------------------------------------- rcCommand

rcCommand::rcCommand()
    : mode_(WORD_SIZE), objectId_(WORD_SIZE), method_(WORD_SIZE), state_(IN_MODE),
      complete_(false) {}

rcCommand::~rcCommand() = default;

void rcCommand::reset() {
    mode_.clear();
    objectId_.clear();
    method_.clear();
    args_.clear();
    state_ = IN_MODE;
    complete_ = false;
    budget_.reset();
}

const char* rcCommand::getModeName(int mode) {
    switch (mode) {
        case SYNC: return "sync";
        case ASYNC: return "async";
        default: return "unknown";
    }
}

void rcCommand::setMode(int mode) { mode_.setValue(getModeName(mode)); }

void rcCommand::setObjectId(int id) { objectId_.setValue(std::to_string(id)); }

void rcCommand::setMethod(const char* method) {
    CO_ASSERT(method != nullptr);
    method_.setValue(method);
}

int rcCommand::getObjectIdValue() const {
    const long value = std::strtol(objectId_.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

bool rcCommand::isAsync() const {
    return !(mode_.length() == 4 && std::memcmp(mode_.c_str(), "sync", 4) == 0);
}

bool rcCommand::parseChar(char c) {
    if (c == '\n') {
        complete_ = true;
        return true;
    }
    if (!budget_.take()) return false;  // over the limit: nothing more is kept
    if (state_ == IN_ARGS) {
        args_.appendEscapedChar(c);
        return false;
    }
    if (c == ' ') {
        ++state_;
        return false;
    }
    switch (state_) {
        case IN_MODE: mode_ += c; break;
        case IN_OBJECT_ID: objectId_ += c; break;
        default: method_ += c; break;
    }
    return false;
}

size_t rcCommand::parse(const char* bytes, size_t count) {
    size_t taken = 0;
    while (taken < count && !complete_ && !isTooLong()) {
        if (state_ == IN_ARGS && bytes[taken] != '\n')
            taken += parseEscapedRun(bytes + taken, count - taken, args_, budget_);
        else
            parseChar(bytes[taken++]);
    }
    return taken;
}

std::string rcCommand::toString() const {
    std::string line;
    line.reserve(mode_.length() + objectId_.length() + method_.length() + args_.length() + 8);
    line.append(mode_.c_str(), mode_.length());
    line += ' ';
    line.append(objectId_.c_str(), objectId_.length());
    line += ' ';
    line.append(method_.c_str(), method_.length());
    line += ' ';
    line += args_.escapedValue();
    line += '\n';
    return line;
}

size_t rcCommand::capacity() const {
    return mode_.capacity() + objectId_.capacity() + method_.capacity() + args_.capacity();
}

// --------------------------------------------------------------------------------- rcResult

rcResult::rcResult() : state_(IN_STATUS), complete_(false) {}

rcResult::~rcResult() = default;

void rcResult::reset() {
    status_.clear();
    value_.clear();
    state_ = IN_STATUS;
    complete_ = false;
    budget_.reset();
}

void rcResult::setStatus(int status) {
    switch (status) {
        case OK: status_ = "ok"; break;
        case ERROR: status_ = "error"; break;
        default: status_ = "unknown"; break;
    }
}

bool rcResult::parseChar(char c) {
    if (c == '\n') {
        complete_ = true;
        return true;
    }
    if (!budget_.take()) return false;  // over the limit: nothing more is kept
    if (state_ == IN_VALUE)
        value_.appendEscapedChar(c);
    else if (c == ' ')
        state_ = IN_VALUE;
    else
        status_ += c;
    return false;
}

size_t rcResult::parse(const char* bytes, size_t count) {
    size_t taken = 0;
    while (taken < count && !complete_ && !isTooLong()) {
        if (state_ == IN_VALUE && bytes[taken] != '\n')
            taken += parseEscapedRun(bytes + taken, count - taken, value_, budget_);
        else
            parseChar(bytes[taken++]);
    }
    return taken;
}

std::string rcResult::toString() const {
    std::string line;
    rcAppendReplyLine(line, status_, value_.value());
    return line;
}

}  // namespace Vantrel
