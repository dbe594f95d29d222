// The server protocol version this server plays (major.minor.maint.build), and which methods
// each generation of servers knows.
//
// A server of an older generation answers the methods it does not know yet with
// "Unknown method: NAME". The first versions that know a method:
//   2.5.0.0        SetMetaData
//   2.6.1.0        SetFramePaths, GetFramePaths
//   2010.1.1.0     GetNbReadAheads
//   2012.0.0.5134  CreateNodeEx, GetChildrenEx, GetDisplayNameEx
//   2012.1.1.5758  SetFramePathsEx, GetFramePathsEx
//   2013.1.0.6115  AllocateFramesEx, GetFramesEx
//   2015.0.0.0     CanCreateNode
// Every other method is known to every generation.
// Threads: values and an immutable table.
#pragma once

#include <string>

namespace vantreld {

struct ProtocolVersion {
    int major = 2015;
    int minor = 0;
    int maint = 0;
    int build = 5858;

    // "A.B.C.D", four non-negative decimal numbers; false (and `out` unchanged) otherwise.
    static bool parse(const std::string& text, ProtocolVersion& out);
    std::string text() const;
    bool operator<(const ProtocolVersion& other) const;

    // Whether a server of this version knows `method`.
    bool knows(const std::string& method) const;
};

}  // namespace vantreld
