// The wire forms of the data connection to a server's frame port, spoken by the client's frame
// client and by vantreld's frame server.
//
// Every request starts with a command name. The requests that carry an argument send a header:
// the name, NUL, the argument text (a frame id, a stream id or a file name), NUL, a decimal
// number written with "%ld", NUL, in one write. "NoOp" and "InvalidateCache" are bare: the name
// and its NUL. Further fields of a request are number fields (decimal text and NUL) and raw
// bytes. Replies are a status (NUL-terminated text, empty = success), a number (decimal text
// and NUL) or raw bytes; replies without acknowledgement report an error by starting the frame
// buffer with ERROR_PREFIX followed by the error text.
//
// Reading from a peer is bounded everywhere: a status is cut at MAX_STATUS_BYTES, a number
// reply longer than MAX_NUMBER_BYTES - 1 digits is refused, a redirect record larger than
// MAX_REDIRECT_RECORD is refused before anything is allocated, and every request field has a
// cap (FieldLimits).
//
// Failure: the readers throw Vantrel::CoException with a clear text; whatever the byte source
// throws passes through. Threads: stateless functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace VantrelFrameWire {

enum Command : int {
    READ_FRAME = 0,
    WRITE_FRAME = 1,
    READ_AHEAD = 2,
    NO_OP = 3,
    PULL_FILE = 4,
    PUSH_FILE = 5,
    READ_STREAM = 6,
    READ_FRAME_NO_ACK = 7,
    READ_FRAME_PARAMS = 8,
    READ_AHEAD_PARAMS = 9,
    READ_FRAME_PARAMS_NO_ACK = 10,
    READ_AHEAD_REDIRECT = 11,
    INVALIDATE_CACHE = 12,
    UNKNOWN_COMMAND = 13,
};

// The name of `command` ("ReadFrame", ...); "" for UNKNOWN_COMMAND or a value out of range.
const char* commandName(Command command);
// The command named `name` exactly, else UNKNOWN_COMMAND.
Command commandFromName(const std::string& name);
// Whether `command` is sent bare (name and NUL only).
bool isBareCommand(Command command);
// Whether the request carries a parameter-length number field (and then the parameter bytes).
bool hasParameters(Command command);

// The error prefix of replies without acknowledgement (no NUL).
extern const char ERROR_PREFIX[];
constexpr size_t ERROR_PREFIX_LENGTH = 82;
// The smallest buffer a reply without acknowledgement may use: the prefix always fits.
constexpr unsigned int MIN_NO_ACK_BUFFER = 4096;
// A status reply is read up to this many bytes, its NUL included.
constexpr size_t MAX_STATUS_BYTES = 1023;
// A number reply is read up to this many bytes, its NUL included.
constexpr size_t MAX_NUMBER_BYTES = 63;
// The largest redirect record accepted; real records are below 2 KiB.
constexpr long long MAX_REDIRECT_RECORD = 64 * 1024;
// File transfers move at most this many bytes per chunk; "PullFile" announces it.
constexpr unsigned int TRANSFER_CHUNK = 262144;
// The frame port assumed when a record names port 0.
constexpr int DEFAULT_FRAME_PORT = 7550;

// ----------------------------------------------------------------------- writing requests

// name NUL argument NUL number NUL, as one string (its NULs included). `argument` must not be
// null.
std::string requestHeader(const char* command, const char* argument, long number);
// The same into `out` (`size` bytes); the header's length, NULs included, or 0 when it does not
// fit (nothing usable is left in `out` then). For requests sent without allocating.
size_t formatRequestHeader(char* out, size_t size, const char* command, const char* argument,
                           long number);
// name NUL
std::string bareCommand(const char* command);
// decimal NUL
std::string numberField(long number);

// ----------------------------------------------------------------------------- reading

// Where the readers take their bytes from: reads exactly `size` bytes or throws.
class ByteSource {
public:
    virtual ~ByteSource();
    virtual void read(void* buffer, size_t size) = 0;
};

// A status reply. Stops at the NUL or after MAX_STATUS_BYTES bytes; `cut` tells the latter
// (the rest of the text is still on the stream).
std::string readStatus(ByteSource& source, bool& cut);
// A number reply, converted like atoi (leading blanks and sign, then digits; anything else
// ends it). Throws "Invalid number reply from the server" when no NUL comes within
// MAX_NUMBER_BYTES bytes.
long long readNumber(ByteSource& source);
// The bytes of a redirect record of `length` bytes (after its number). Throws "Invalid
// redirect record size: N" when `length` is negative or above MAX_REDIRECT_RECORD.
std::string readRedirectRecord(ByteSource& source, long long length);
// Whether a buffer filled by a reply without acknowledgement reports an error; `text` then
// gets the text after the prefix (up to the first NUL or the buffer's end).
bool isErrorReply(const void* buffer, size_t size, std::string& text);
// The buffer of an error reply without acknowledgement: the prefix, `text`, zeros to `size`
// (the text is cut to fit).
void makeErrorReply(const std::string& text, void* buffer, size_t size);

// ---------------------------------------------------------------------- parsing requests

// Caps on what one request may make a server read into memory.
struct FieldLimits {
    size_t maxName = 64;        // bytes of a command name, NUL included
    size_t maxArgument = 4096;  // bytes of an argument text, NUL included
    long long maxParameters = 1 << 20;
};

// One request as a server reads it, up to its raw data (frame data of "WriteFrame" and file
// bytes of "PushFile" follow on the stream; their size is `number`).
struct Request {
    Command command = UNKNOWN_COMMAND;
    std::string name;                              // as received
    std::string argument;                          // empty for bare commands
    long long number = 0;                          // buffer or data size
    std::string parameters;                        // commands with parameters
    long long first = 0, unitSize = 0, count = 0;  // "ReadStream"
};

// Reads the command name. An unknown name yields UNKNOWN_COMMAND (the caller decides); a name
// longer than the limit throws.
Command readCommand(ByteSource& source, Request& request, const FieldLimits& limits = {});
// Reads the rest of a known command's request. Throws on a field over its limit, a number
// field that is not a decimal number (sign and digits only) or a negative size.
void readRequestFields(ByteSource& source, Request& request, const FieldLimits& limits = {});

}  // namespace VantrelFrameWire
