// VantrelOS: facts about the local operating system, user and host.
//
// All operations are static. The one process-wide value is the user id set by setUserId().
// Threads: every operation may be called from any thread.
#pragma once

#include "vantrel/VantrelStr.h"
#include "vantrel/VantrelExport.h"

class VANTREL_API VantrelOS {
public:
    // Operating-system types as servers exchange them. Any int is a valid value; those
    // outside the named ones read as Unknown.
    enum OsType : int {
        Unknown = 0,
        Irix = 1,
        Linux = 2,
        WindowsNT = 3,
        MacOSX = 4,
    };

    static const char* OS_TYPE_UNKNOWN_STR() { return "Unknown"; }
    static const char* OS_TYPE_IRIX_STR() { return "Irix"; }
    static const char* OS_TYPE_LINUX_STR() { return "Linux"; }
    static const char* OS_TYPE_WINNT_STR() { return "WindowsNT"; }
    static const char* OS_TYPE_MACOSX_STR() { return "MacOSX"; }

    virtual ~VantrelOS();

    // The type of this machine: Linux.
    static OsType getOSType();
    // Matches "Irix", "Linux", "WindowsNT" and "MacOSX" regardless of case; any other text,
    // or null, gives Unknown.
    static OsType strToOsType(const char* text);
    // The name of `type`; "Unknown" for any value outside Irix to MacOSX.
    static const char* OsTypeStr(OsType type);

    // The kernel release, or "unknown".
    static VantrelStr getOSVersion();

    // The id set by setUserId() when it is not empty; otherwise the name of the process's
    // effective user, or "unknown" when the system has none.
    static VantrelStr getUserId();
    // Sets the id getUserId() answers; null or empty restores the system's answer.
    static void setUserId(const char* userId);
    // The name of the process's effective group, or "unknown".
    static VantrelStr getGroupId();

    // The local host name ("localhost" when the system cannot tell, with an error message).
    static VantrelStr getHostName();
    // True for exactly "localhost", "127.0.0.1" or "::1" (case-sensitive).
    static bool isLoopBackIP(const char* address);
    // True for the loop-back texts, for the local host name (exact) and for the numeric
    // address of any local network interface that is up. Null is false.
    static bool isLocalIP(const char* address);
};
