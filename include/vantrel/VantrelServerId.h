// VantrelServerId: names a server by address and port, by address and database name, or by
// storage id.
//
// Text form: ADDRESS, or ADDRESS:PORT, or ADDRESS:DATABASE.
//   setId("10.0.0.5:7549")    address 10.0.0.5, port 7549
//   setId("studio:projects")  address studio, port 0, database projects
//   setId("10.0.0.5")         address 10.0.0.5 alone
// After the first ':' the text is read as a decimal number the way atoi() does (leading
// digits, 0 if none): a non-zero number is the port, otherwise the rest of the text is the
// database name. So "host:12ab" has port 12, "host:0" has database "0", "host:" has neither.
// A number too large for an int is no port: the rest of the text is then the database name.
// An IPv6 address is written in brackets, whose ':' separate nothing:
//   setId("[::1]:7549")       address ::1, port 7549
//   setId("[fd00::5]")        address fd00::5 alone
// (text after "]" other than ":..." leaves the brackets in the address, as written).
//
// The text form given to setId() is kept as written and returned by getId(). Changing the
// address, port or database empties it, and getId() rebuilds it as ADDRESS:DATABASE or
// ADDRESS:PORT (at most 1023 characters), an address holding ':' in brackets. The storage
// id is no part of the text form.
//
// Value: copies take all fields. Threads: as VantrelStr; getId() fills its cache, so even
// const use of one object is limited to one thread at a time.
#pragma once

#include "vantrel/VantrelStr.h"
#include "vantrel/VantrelExport.h"

class VANTREL_API VantrelServerId {
public:
    // Everything empty, port 0: not valid.
    VantrelServerId();
    // setId(text) when `text` is neither null nor empty.
    VantrelServerId(const char* text);
    // Null texts count as empty. With port 0 and no database, the text form is `ipAddr`.
    VantrelServerId(const char* database, const char* ipAddr, int port);
    // With port 0, the text form is `ipAddr` (null counts as empty).
    VantrelServerId(int port, const char* ipAddr);
    VantrelServerId(const VantrelServerId& other);
    VantrelServerId& operator=(const VantrelServerId& other);
    virtual ~VantrelServerId();

    // Parses `text` as above (null counts as empty). Resets port and database first; leaves
    // the storage id alone.
    void setId(const char* text);
    const char* getId() const;

    const char* getIPAddr() const { return ipAddr_.c_str(); }
    const char* getDB() const { return database_.c_str(); }
    int getPort() const { return port_; }
    // Each sets one field (null counts as empty) and empties the cached text form.
    void setIPAddr(const char* ipAddr);
    void setDB(const char* database);
    void setPort(int port);

    const char* getStorageId() const { return storageId_.c_str(); }
    void setStorageId(const char* storageId);

    // True when the port is not 0 or any of text form, address, database or storage id is
    // not empty.
    bool isValid() const;

    // Same port, address, storage id and database; the way the text form was written does
    // not matter.
    bool operator==(const VantrelServerId& other) const;

private:
    static const char separator;

    void forgetTextForm() { idText_.reset(); }

    mutable VantrelStr idText_;  // cache of getId(); empty when it must be rebuilt
    VantrelStr ipAddr_;
    VantrelStr database_;
    VantrelStr storageId_;
    int port_;
};
