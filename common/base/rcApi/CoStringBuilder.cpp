#include "rcApi/CoStringBuilder.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "vantrel/CoException.h"
#include "osal/CoAssert.h"

namespace Vantrel {

namespace {

[[noreturn]] void throwOutOfMemory(int line, const char* format, size_t bytes) {
    CoException(line, __FILE__).fire(std::strerror(ENOMEM), format, static_cast<long long>(bytes));
}

}  // namespace

CoStringBuilder::CoStringBuilder(size_t size) : size_(size), buffer_(nullptr), length_(0) {
    CO_ASSERT(size > 0);
    buffer_ = static_cast<char*>(std::malloc(size_));
    if (buffer_ == nullptr) throwOutOfMemory(__LINE__, "Unable to allocate %lld bytes.", size_);
}

CoStringBuilder::CoStringBuilder(const CoStringBuilder& other) : CoStringBuilder(other.size_) {
    std::memcpy(buffer_, other.buffer_, other.length_);
    length_ = other.length_;
}

CoStringBuilder& CoStringBuilder::operator=(const CoStringBuilder& other) {
    if (this != &other) replace(other.buffer_, other.length_);
    return *this;
}

CoStringBuilder::~CoStringBuilder() { std::free(buffer_); }

void CoStringBuilder::operator+=(char c) {
    if (length_ + 2 > size_) {
        const size_t doubled = size_ * 2;
        char* grown = static_cast<char*>(std::realloc(buffer_, doubled));
        if (grown == nullptr)
            throwOutOfMemory(__LINE__, "Unable to grow string buffer to %lld bytes.", doubled);
        buffer_ = grown;
        size_ = doubled;
    }
    buffer_[length_++] = c;
}

void CoStringBuilder::operator+=(const std::string& text) {
    CO_ASSERT(text.size() <= static_cast<size_t>(INT32_MAX));
    append(text.data(), static_cast<int>(text.size()));
}

void CoStringBuilder::append(const char* bytes, int count) {
    CO_ASSERT(count >= 0);
    const size_t n = static_cast<size_t>(count);
    if (n == 0) return;
    reserveFor(length_ + n, true);
    std::memcpy(buffer_ + length_, bytes, n);
    length_ += n;
}

void CoStringBuilder::setValue(const char* text) {
    if (text == nullptr) text = "";
    replace(text, std::strlen(text));
}

void CoStringBuilder::setValue(const std::string& text) { replace(text.data(), text.size()); }

CoStringBuilder& CoStringBuilder::operator=(const char* text) {
    setValue(text);
    return *this;
}

const char* CoStringBuilder::c_str() const {
    CO_ASSERT(length_ < size_);
    buffer_[length_] = '\0';
    return buffer_;
}

void CoStringBuilder::reserveFor(size_t needed, bool keep) {
    if (needed < size_) return;
    // The smallest power-of-two multiple that holds the content and its terminator: growth
    // stays geometric, and a buffer never needs more than twice what it holds.
    size_t grownSize = size_;
    while (grownSize <= needed) {
        if (grownSize > SIZE_MAX / 2)
            throwOutOfMemory(__LINE__, "Unable to grow string buffer to %lld bytes.", SIZE_MAX);
        grownSize *= 2;
    }
    if (keep) {
        char* grown = static_cast<char*>(std::realloc(buffer_, grownSize));
        if (grown == nullptr)
            throwOutOfMemory(__LINE__, "Unable to grow string buffer to %lld bytes.", grownSize);
        buffer_ = grown;
    } else {
        char* fresh = static_cast<char*>(std::malloc(grownSize));
        if (fresh == nullptr)
            throwOutOfMemory(__LINE__, "Unable to allocate buffer of %lld bytes.", grownSize);
        std::free(buffer_);
        buffer_ = fresh;
    }
    size_ = grownSize;
}

void CoStringBuilder::replace(const char* bytes, size_t count) {
    reserveFor(count, false);
    // memmove: `bytes` may point into this buffer when it did not need to grow.
    std::memmove(buffer_, bytes, count);
    length_ = count;
}

}  // namespace Vantrel
