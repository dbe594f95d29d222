// Metadata values built on attribute streams: VantrelMetaData::Blob and VantrelDictionary.
//
// An attribute stream is the library's encoding of named values: NAME, a space, the decimal
// byte length of the value, a space and the value, repeated. Values may hold any bytes.
//
// Values: each object owns its own stream; copies are deep. Returned pointers point into the
// object and stay valid until the object is changed or destroyed.
//
// Threads: no locks. Reading looks values up through a cursor kept in the object, so even
// const use of one object is limited to one thread at a time.
#pragma once

#include <memory>

#include "vantrel/VantrelStr.h"
#include "vantrel/VantrelExport.h"

namespace Vantrel {
class rcAttrStream;
}

// The scope of metadata items and of the names of metadata stream kinds.
class VANTREL_API VantrelMetaData {
public:
    static const char* STREAM_BLOB() { return "BLOB"; }
    static const char* STREAM_XML() { return "XML"; }

    virtual ~VantrelMetaData();

    // A formatted, versioned item of metadata: the keys "FORMAT", "VERSION_MAJOR",
    // "VERSION_MINOR" and "DATA" of one attribute stream, written in that order.
    class VANTREL_API Blob {
    public:
        // Null texts count as empty.
        Blob(const char* data, const char* format, int versionMajor, int versionMinor);
        // Takes a stream text as it comes (from a server, say); null counts as empty.
        explicit Blob(const char* rawStream);
        Blob(const Blob& other);
        Blob& operator=(const Blob& other);
        virtual ~Blob();

        // The value of "DATA" or "FORMAT"; null when the stream lacks the key.
        const char* getData() const;
        const char* getFormat() const;
        // True, with both numbers, only when the stream holds both version keys; otherwise
        // false and the arguments are untouched.
        bool getVersion(int& major, int& minor) const;
        // The whole stream text.
        const char* getRawData() const;

    private:
        class Imp;
        std::unique_ptr<Imp> imp_;  // never null
    };
};

// A typed key/value set kept as an attribute stream. Setting a key that exists replaces its
// value; lookups ignore how often a key was replaced.
class VANTREL_API VantrelDictionary {
public:
    // Parses `stream` (null or empty: an empty dictionary).
    VantrelDictionary(const char* stream = "");
    VantrelDictionary(const VantrelDictionary& other);
    VantrelDictionary& operator=(const VantrelDictionary& other);
    virtual ~VantrelDictionary();

    // Same keys with the same values, in any order.
    bool operator==(const VantrelDictionary& other) const;

    // False, `value` untouched, when `key` is null or missing.
    bool getString(const char* key, VantrelStr& value) const;
    // The value read as a decimal number, as atoi() does (0 when it is no number).
    bool getInteger(const char* key, int& value) const;

    // A null `value` counts as the empty text. A null key, or one holding a space (refused
    // with an error message), changes nothing.
    void setString(const char* key, const char* value);
    void setInteger(const char* key, int value);

    // The stream text.
    const char* getStream() const;

private:
    std::unique_ptr<Vantrel::rcAttrStream> stream_;  // never null
};
