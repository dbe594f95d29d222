#include "vantrel/VantrelTypes.h"

#include <cstring>
#include <new>
#include <utility>

#include "osal/CoAssert.h"

namespace {

// Shared by every empty text and never freed, so that empty texts need no allocation and
// the buffer is never null.
const char emptyBuffer[1] = {'\0'};

}  // namespace

// ---- VantrelStr

VantrelStr::VantrelStr(const char* text) : buff_(emptyBuffer) { adopt(text); }

VantrelStr::VantrelStr(const VantrelStr& other) : buff_(emptyBuffer) { adopt(other.buff_); }

VantrelStr::VantrelStr(VantrelStr&& other) noexcept : buff_(other.buff_) {
    other.buff_ = emptyBuffer;
}

VantrelStr::~VantrelStr() { release(); }

VantrelStr& VantrelStr::operator=(const VantrelStr& other) { return *this = other.buff_; }

VantrelStr& VantrelStr::operator=(VantrelStr&& other) noexcept {
    if (this != &other) {
        release();
        buff_ = other.buff_;
        other.buff_ = emptyBuffer;
    }
    return *this;
}

VantrelStr& VantrelStr::operator=(const char* text) {
    // adopt() copies before it frees, so `text` may point into this object.
    adopt(text);
    return *this;
}

void VantrelStr::reset() {
    release();
    buff_ = emptyBuffer;
}

unsigned VantrelStr::length() const { return static_cast<unsigned>(std::strlen(c_str())); }

const char* VantrelStr::c_str() const {
    CO_ASSERT_TEXT(buff_ != nullptr, "buff_ != 0");
    return buff_;
}

bool VantrelStr::operator==(const VantrelStr& other) const {
    return std::strcmp(c_str(), other.c_str()) == 0;
}

bool VantrelStr::operator<(const VantrelStr& other) const {
    return std::strcmp(c_str(), other.c_str()) < 0;
}

bool VantrelStr::operator==(const char* text) const {
    return text != nullptr && std::strcmp(c_str(), text) == 0;
}

void VantrelStr::adopt(const char* text) {
    const char* copy = emptyBuffer;
    if (text != nullptr && text[0] != '\0') {
        const size_t size = std::strlen(text) + 1;
        char* buffer = new (std::nothrow) char[size];
        if (buffer != nullptr) {
            std::memcpy(buffer, text, size);
            copy = buffer;
        }
    }
    release();
    buff_ = copy;
}

void VantrelStr::release() {
    if (buff_ != emptyBuffer) delete[] buff_;
}

// ---- VantrelStrList

VantrelStrList::VantrelStrList() = default;
VantrelStrList::VantrelStrList(const VantrelStrList& other) = default;
VantrelStrList& VantrelStrList::operator=(const VantrelStrList& other) = default;
VantrelStrList::~VantrelStrList() = default;

const char* VantrelStrList::getStr(unsigned i) const {
    CO_ASSERT_TEXT(i < size(), "index < size()");
    return strings_[i].c_str();
}

void VantrelStrList::push_back(const char* text) { strings_.emplace_back(text); }

void VantrelStrList::reserve(int n) {
    if (n > 0) strings_.reserve(static_cast<size_t>(n));
}

void VantrelStrList::resize(int n) { strings_.resize(n > 0 ? static_cast<size_t>(n) : 0); }

bool VantrelStrList::operator==(const VantrelStrList& other) const {
    return strings_ == other.strings_;
}

// ---- VantrelNodeId, VantrelFrameId

VantrelNodeId::VantrelNodeId(const char* id) : id_(id) {}
VantrelNodeId::VantrelNodeId(const VantrelStr& id) : id_(id) {}
VantrelNodeId::VantrelNodeId(const VantrelNodeId& other) = default;
VantrelNodeId& VantrelNodeId::operator=(const VantrelNodeId& other) = default;
VantrelNodeId::~VantrelNodeId() = default;
void VantrelNodeId::setId(const char* id) { id_ = id; }

VantrelFrameId::VantrelFrameId(const char* id) : id_(id) {}
VantrelFrameId::VantrelFrameId(const VantrelStr& id) : id_(id) {}
VantrelFrameId::VantrelFrameId(const VantrelFrameId& other) = default;
VantrelFrameId& VantrelFrameId::operator=(const VantrelFrameId& other) = default;
VantrelFrameId::~VantrelFrameId() = default;
void VantrelFrameId::setId(const char* id) { id_ = id; }

// ---- VantrelNodeEvent

VantrelNodeEvent::Handler::~Handler() = default;

VantrelNodeEvent::VantrelNodeEvent(const VantrelNodeId& node, const char* type,
                                   const VantrelDictionary& details)
    : nodeId_(node), type_(type), details_(details) {}
VantrelNodeEvent::VantrelNodeEvent(const VantrelNodeEvent& other) = default;
VantrelNodeEvent& VantrelNodeEvent::operator=(const VantrelNodeEvent& other) = default;
VantrelNodeEvent::~VantrelNodeEvent() = default;

bool VantrelNodeEvent::operator==(const VantrelNodeEvent& other) const {
    return nodeId_ == other.nodeId_ && type_ == other.type_ && details_ == other.details_;
}
