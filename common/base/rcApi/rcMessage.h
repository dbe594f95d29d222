// The lines of the remote-call protocol: the escaped value both carry (rcValue), the request
// (rcCommand) and the reply (rcResult).
//
// Every message is one line ended by a line feed, with no length prefix:
//     request: MODE ' ' OBJECT-ID ' ' METHOD ' ' ESCAPED-ARGUMENTS '\n'
//     reply:   STATUS ' ' ESCAPED-VALUE '\n'
// MODE is "sync" (a reply is awaited) or "async" (none is sent); the object id is "%d"; STATUS
// is "ok" or "error". Calling GetChildrenEx on object 0 synchronously with the arguments
// "a\tb" sends the 26 bytes "sync 0 GetChildrenEx a\\tb\n".
//
// Escaping of values: line feed -> '\' 'n', tab -> '\' 't', backslash -> two backslashes;
// every other byte, carriage returns included, is copied; a value ends at its first NUL.
// Decoding: '\' 'n' -> line feed, '\' 't' -> tab, '\' and any other byte -> that byte; a
// backslash that ends the line gives nothing.
//
// Parsing is byte by byte and never fails: any bytes give some message. A line longer than
// CoIoTcpDescriptor::MAX_LINE_LENGTH (line feed included) is not stored beyond that limit: the
// parser stops there and reports isTooLong(); the caller must then give up on the connection,
// so that a peer sending bytes without end cannot make this end's memory grow without bound.
//
// Threads: no lock; one thread at a time per object.
#pragma once

#include <cstddef>
#include <string>

#include "rcApi/CoStringBuilder.h"

namespace Vantrel {

// A value of a request or reply, kept unescaped.
class rcValue {
public:
    rcValue();
    virtual ~rcValue();

    // Replaces the value (null counts as empty).
    void setValue(const char* value);
    // The unescaped value, valid until the next change.
    const char* value() const { return value_.c_str(); }
    size_t length() const { return value_.length(); }
    // Empty value, no escape pending.
    void clear();
    // The value in its escaped wire form.
    std::string escapedValue() const;
    // One decoding step: appends the byte that the escaped byte `c` stands for, if any.
    void appendEscapedChar(char c);
    // Decoding steps for `count` bytes at once (the same result as one step per byte).
    void appendEscaped(const char* bytes, size_t count);

    // Bytes allocated for the value.
    size_t capacity() const { return value_.capacity(); }

private:
    CoStringBuilder value_;
    bool escapePending_;
};

// Counts the bytes of one line a parser has taken, against CoIoTcpDescriptor::MAX_LINE_LENGTH.
class rcLineBudget {
public:
    rcLineBudget() : used_(0) {}
    void reset() { used_ = 0; }
    // Counts one more byte; false once the line is over the limit (the byte is not to be kept).
    bool take();
    bool exhausted() const;
    // How many more bytes take() would accept.
    size_t room() const;
    // Counts `count` bytes at once; `count` must be at most room().
    void spend(size_t count) { used_ += count; }

private:
    size_t used_;
};

// Appends the reply line of status word `status` and value `value` (which ends at its first
// NUL) to `out`: STATUS ' ' ESCAPED-VALUE '\n', making room for exactly that line once, so a
// large value is escaped straight into `out` without a copy in between. rcResult::toString()
// writes its line with it.
void rcAppendReplyLine(std::string& out, const std::string& status, const char* value);

// A request line.
class rcCommand {
public:
    enum Mode { SYNC = 0, ASYNC = 1 };

    rcCommand();
    virtual ~rcCommand();

    // All words empty, ready for a new line.
    void reset();

    // Sets the mode word from a code: SYNC gives "sync", ASYNC "async", others "unknown".
    void setMode(int mode);
    static const char* getModeName(int mode);
    void setObjectId(int id);
    // `method` must not be null and must hold no space or line feed.
    void setMethod(const char* method);
    void setArgs(const char* args) { args_.setValue(args); }

    const char* getMode() const { return mode_.c_str(); }
    const char* getObjectId() const { return objectId_.c_str(); }
    // The object id word read as a decimal number (leading sign and digits, as atoi),
    // saturated to the int range; 0 when it is not a number.
    int getObjectIdValue() const;
    const char* getMethod() const { return method_.c_str(); }
    const char* getArgs() const { return args_.value(); }

    // True unless the mode word is exactly "sync".
    bool isAsync() const;

    // Takes one byte of a received line; true when it was the closing line feed.
    bool parseChar(char c);
    // Takes bytes until a line is complete, the line is too long, or `count` bytes are taken;
    // returns how many were taken. Check isComplete() and isTooLong() afterwards.
    size_t parse(const char* bytes, size_t count);
    bool isComplete() const { return complete_; }
    bool isTooLong() const { return budget_.exhausted(); }

    // The line to send, line feed included.
    std::string toString() const;

    // Bytes the parser holds allocated.
    size_t capacity() const;

private:
    CoStringBuilder mode_;
    CoStringBuilder objectId_;
    CoStringBuilder method_;
    rcValue args_;
    int state_;
    bool complete_;
    rcLineBudget budget_;
};

// A reply line.
class rcResult {
public:
    enum Status { OK = 0, ERROR = 1 };

    rcResult();
    virtual ~rcResult();

    // Empty status and value, ready for a new line.
    void reset();

    // Sets the status word from a code: OK gives "ok", ERROR "error", others "unknown".
    void setStatus(int status);
    const char* getStatus() const { return status_.c_str(); }
    void setValue(const char* value) { value_.setValue(value); }
    const char* getValue() const { return value_.value(); }

    // True unless the status is exactly "ok".
    bool isError() const { return status_ != "ok"; }

    // Takes one byte of a received line; true when it was the closing line feed.
    bool parseChar(char c);
    // As rcCommand::parse.
    size_t parse(const char* bytes, size_t count);
    bool isComplete() const { return complete_; }
    bool isTooLong() const { return budget_.exhausted(); }

    // The line to send, line feed included.
    std::string toString() const;

    // Bytes the parser holds allocated.
    size_t capacity() const { return status_.capacity() + value_.capacity(); }

private:
    std::string status_;
    rcValue value_;
    int state_;
    bool complete_;
    rcLineBudget budget_;
};

}  // namespace Vantrel
