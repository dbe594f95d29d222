// The bytes of a fuzz input as the byte source of the frame-port readers; reading past the end
// throws, as a closed connection does.
#pragma once

#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "vantrel/protocol/FrameWire.h"

namespace fuzzing {

class MemorySource : public VantrelFrameWire::ByteSource {
public:
    MemorySource(const char* bytes, size_t size) : bytes_(bytes), size_(size) {}
    void read(void* buffer, size_t size) override {
        if (size > size_ - at_) throw std::out_of_range("end of input");
        std::memcpy(buffer, bytes_ + at_, size);
        at_ += size;
    }
    size_t consumed() const { return at_; }

private:
    const char* bytes_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace fuzzing
