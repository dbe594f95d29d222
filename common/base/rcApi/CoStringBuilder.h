// A growable byte buffer for building texts one byte or one piece at a time.
//
// The buffer is allocated with malloc and grows by power-of-two multiples of its current size
// (one byte appended at a time doubles it), so building a long text costs few reallocations
// and a buffer of 2^k times its first size is never outgrown while the content stays below it. The
// content may hold any byte; c_str() adds a terminator after it, so a content holding a NUL
// reads as cut there through c_str(). The buffer always keeps room for that terminator:
// length() < capacity().
//
// Failure: when memory runs out the operations throw CoException with the system's
// out-of-memory text as message; the content is unchanged. A size of 0 is a programming error.
//
// Threads: no lock; one thread at a time.
#pragma once

#include <cstddef>
#include <string>

namespace Vantrel {

class CoStringBuilder {
public:
    explicit CoStringBuilder(size_t size = 256);
    CoStringBuilder(const CoStringBuilder& other);
    CoStringBuilder& operator=(const CoStringBuilder& other);
    virtual ~CoStringBuilder();

    // Appends one byte; doubles the buffer first when it is full.
    void operator+=(char c);
    void operator+=(const std::string& text);
    // Appends the first `count` bytes of `bytes` (count >= 0).
    void append(const char* bytes, int count);

    // Replaces the content (null counts as empty).
    void setValue(const char* text);
    void setValue(const std::string& text);
    CoStringBuilder& operator=(const char* text);

    // Length 0; the buffer stays allocated.
    void clear() { length_ = 0; }

    // The content followed by a terminator; valid until the next change.
    const char* c_str() const;
    operator const char*() const { return c_str(); }

    size_t length() const { return length_; }
    // Bytes allocated (always above length()).
    size_t capacity() const { return size_; }

private:
    // Makes room for `needed` bytes of content and its terminator, growing to a power-of-two
    // multiple of the current size; `keep` says whether the content must survive the move.
    void reserveFor(size_t needed, bool keep);
    void replace(const char* bytes, size_t count);

    size_t size_;
    char* buffer_;
    size_t length_;
};

}  // namespace Vantrel
