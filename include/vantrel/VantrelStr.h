// Owned texts of the client API: VantrelStr and VantrelStrList.
//
// Both are values: copies are deep and each object owns its texts. A pointer returned by an
// accessor points into the object and stays valid until the object is changed or destroyed.
//
// Threads: no locks. Distinct objects may be used from distinct threads; one object is used by
// one thread at a time (or only read by several).
#pragma once

#include <vector>

#include "vantrel/VantrelExport.h"

// A zero-terminated text owned by the object.
//
// The buffer is never null: every empty text uses one shared, process-wide empty buffer that
// is never freed, so empty texts cost no allocation. When memory for a text cannot be had, the
// text is left empty.
class VANTREL_API VantrelStr {
public:
    // A null or empty `text` gives the empty text.
    VantrelStr(const char* text = nullptr);
    VantrelStr(const VantrelStr& other);
    // Takes the other's buffer; the other is left empty.
    VantrelStr(VantrelStr&& other) noexcept;
    virtual ~VantrelStr();

    VantrelStr& operator=(const VantrelStr& other);
    VantrelStr& operator=(VantrelStr&& other) noexcept;
    // Copies `text` (null counts as the empty text); `text` may point into this object.
    VantrelStr& operator=(const char* text);

    // Makes the text empty and frees the buffer.
    void reset();

    bool isEmpty() const { return buff_[0] == '\0'; }
    // Bytes before the terminator.
    unsigned length() const;

    const char* c_str() const;
    operator const char*() const { return c_str(); }
    // Not checked: `i` must be at most length().
    char operator[](unsigned i) const { return buff_[i]; }

    // Byte-by-byte comparison of unsigned bytes, as strcmp.
    bool operator==(const VantrelStr& other) const;
    bool operator!=(const VantrelStr& other) const { return !(*this == other); }
    bool operator<(const VantrelStr& other) const;
    // A null `text` is never equal.
    bool operator==(const char* text) const;
    bool operator!=(const char* text) const { return !(*this == text); }
    // Ordering is defined between two VantrelStr only; this keeps `str < "text"` from
    // silently comparing pointers.
    bool operator<(const char* text) const = delete;

private:
    void adopt(const char* text);
    void release();

    const char* buff_;  // never null; the shared empty buffer or an owned allocation
};

// Text on the left: compares the texts, never the pointers.
inline bool operator==(const char* text, const VantrelStr& str) { return str == text; }
inline bool operator!=(const char* text, const VantrelStr& str) { return str != text; }

// An ordered list of owned texts.
class VANTREL_API VantrelStrList {
public:
    VantrelStrList();
    VantrelStrList(const VantrelStrList& other);
    VantrelStrList& operator=(const VantrelStrList& other);
    virtual ~VantrelStrList();

    unsigned size() const { return static_cast<unsigned>(strings_.size()); }
    // `i` must be below size() (checked: a breach stops the process with "index < size()").
    const char* getStr(unsigned i) const;
    const char* operator[](unsigned i) const { return getStr(i); }

    // A null `text` adds the empty text.
    void push_back(const char* text);
    // A negative `n` is taken as 0.
    void reserve(int n);
    // Keeps the first `n` texts, adding empty ones when the list is shorter; a negative `n`
    // empties the list.
    void resize(int n);

    // Same size and equal texts in the same order.
    bool operator==(const VantrelStrList& other) const;

private:
    std::vector<VantrelStr> strings_;
};
