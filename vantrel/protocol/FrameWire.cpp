#include "vantrel/protocol/FrameWire.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>

#include "vantrel/CoException.h"

namespace VantrelFrameWire {

namespace {

const char* const COMMAND_NAMES[] = {
    "ReadFrame",
    "WriteFrame",
    "ReadAhead",
    "NoOp",
    "PullFile",
    "PushFile",
    "ReadStream",
    "ReadFrameNoAck",
    "ReadFrameParams",
    "ReadAheadParams",
    "ReadFrameParamsNoAck",
    "ReadAheadRedirect",
    "InvalidateCache",
};
constexpr int COMMAND_COUNT = static_cast<int>(sizeof COMMAND_NAMES / sizeof COMMAND_NAMES[0]);

[[noreturn]] void fail(const std::string& text) {
    Vantrel::CoException(__LINE__, __FILE__).fire(text.c_str(), nullptr);
}

// Reads a NUL-terminated field of at most `maxBytes` bytes (NUL included) a byte at a time;
// false when no NUL came within them (`text` then holds the bytes read).
bool readTerminated(ByteSource& source, size_t maxBytes, std::string& text) {
    text.clear();
    for (size_t i = 0; i < maxBytes; ++i) {
        char byte = 0;
        source.read(&byte, 1);
        if (byte == '\0') return true;
        text.push_back(byte);
    }
    return false;
}

// atoi's reading of a text, without its overflow: the value saturates.
long long atoiValue(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    const long long limit = (std::numeric_limits<long long>::max() - 9) / 10;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        value =
            value <= limit ? value * 10 + (text[i] - '0') : std::numeric_limits<long long>::max();
    return negative ? -value : value;
}

// A request's number field: "%ld" text, an optional '-' and 1 to 19 digits.
long long readNumberField(ByteSource& source, const char* what) {
    std::string text;
    if (!readTerminated(source, 21, text)) fail(std::string("Invalid ") + what + " field");
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size() || text.size() - i > 18) fail(std::string("Invalid ") + what + " field");
    for (size_t k = i; k < text.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(text[k])))
            fail(std::string("Invalid ") + what + " field");
    return std::stoll(text);
}

long long readSize(ByteSource& source, const char* what) {
    const long long value = readNumberField(source, what);
    if (value < 0) fail(std::string("Invalid ") + what + " field");
    return value;
}

}  // namespace

const char ERROR_PREFIX[] =
    "Fetcher la vache! An error occurred while reading a frame from the Vantrel server:";
static_assert(sizeof ERROR_PREFIX - 1 == ERROR_PREFIX_LENGTH, "the prefix is 82 bytes");

ByteSource::~ByteSource() = default;

const char* commandName(Command command) {
    const int index = static_cast<int>(command);
    return index >= 0 && index < COMMAND_COUNT ? COMMAND_NAMES[index] : "";
}

Command commandFromName(const std::string& name) {
    for (int i = 0; i < COMMAND_COUNT; ++i)
        if (name == COMMAND_NAMES[i]) return static_cast<Command>(i);
    return UNKNOWN_COMMAND;
}

bool isBareCommand(Command command) { return command == NO_OP || command == INVALIDATE_CACHE; }

bool hasParameters(Command command) {
    return command == READ_FRAME_PARAMS || command == READ_AHEAD_PARAMS ||
           command == READ_FRAME_PARAMS_NO_ACK || command == READ_AHEAD_REDIRECT;
}

size_t formatRequestHeader(char* out, size_t size, const char* command, const char* argument,
                           long number) {
    // The terminating NUL of snprintf is the header's last byte.
    const int length = std::snprintf(out, size, "%s%c%s%c%ld", command, 0, argument, 0, number);
    return length >= 0 && static_cast<size_t>(length) < size ? static_cast<size_t>(length) + 1 : 0;
}

std::string requestHeader(const char* command, const char* argument, long number) {
    const int length = std::snprintf(nullptr, 0, "%s%c%s%c%ld", command, 0, argument, 0, number);
    std::string header(static_cast<size_t>(length) + 1, '\0');
    formatRequestHeader(&header[0], header.size(), command, argument, number);
    return header;
}

std::string bareCommand(const char* command) { return std::string(command) + '\0'; }

std::string numberField(long number) { return std::to_string(number) + '\0'; }

std::string readStatus(ByteSource& source, bool& cut) {
    std::string text;
    cut = !readTerminated(source, MAX_STATUS_BYTES, text);
    return text;
}

long long readNumber(ByteSource& source) {
    std::string text;
    if (!readTerminated(source, MAX_NUMBER_BYTES, text))
        fail("Invalid number reply from the server");
    return atoiValue(text);
}

std::string readRedirectRecord(ByteSource& source, long long length) {
    if (length < 0 || length > MAX_REDIRECT_RECORD)
        fail("Invalid redirect record size: " + std::to_string(length));
    std::string record(static_cast<size_t>(length), '\0');
    if (length > 0) source.read(&record[0], record.size());
    return record;
}

bool isErrorReply(const void* buffer, size_t size, std::string& text) {
    if (size < ERROR_PREFIX_LENGTH || std::memcmp(buffer, ERROR_PREFIX, ERROR_PREFIX_LENGTH) != 0)
        return false;
    const char* rest = static_cast<const char*>(buffer) + ERROR_PREFIX_LENGTH;
    const size_t restSize = size - ERROR_PREFIX_LENGTH;
    const void* nul = std::memchr(rest, '\0', restSize);
    text.assign(rest, nul != nullptr ? static_cast<const char*>(nul) - rest : restSize);
    return true;
}

void makeErrorReply(const std::string& text, void* buffer, size_t size) {
    char* out = static_cast<char*>(buffer);
    std::memset(out, 0, size);
    const size_t prefix = size < ERROR_PREFIX_LENGTH ? size : ERROR_PREFIX_LENGTH;
    std::memcpy(out, ERROR_PREFIX, prefix);
    const size_t room = size - prefix;
    std::memcpy(out + prefix, text.data(), text.size() < room ? text.size() : room);
}

Command readCommand(ByteSource& source, Request& request, const FieldLimits& limits) {
    if (!readTerminated(source, limits.maxName, request.name)) fail("Command name too long");
    request.command = commandFromName(request.name);
    return request.command;
}

void readRequestFields(ByteSource& source, Request& request, const FieldLimits& limits) {
    if (isBareCommand(request.command) || request.command == UNKNOWN_COMMAND) return;
    if (!readTerminated(source, limits.maxArgument, request.argument)) fail("Argument too long");
    request.number = readSize(source, "size");
    if (hasParameters(request.command)) {
        const long long length = readSize(source, "parameter length");
        if (length > limits.maxParameters) fail("Parameters too long");
        request.parameters.assign(static_cast<size_t>(length), '\0');
        if (length > 0) source.read(&request.parameters[0], request.parameters.size());
    }
    if (request.command == READ_STREAM) {
        request.first = readNumberField(source, "first unit");
        request.unitSize = readSize(source, "unit size");
        request.count = readSize(source, "count");
    }
}

}  // namespace VantrelFrameWire
