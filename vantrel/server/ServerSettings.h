// What the server says about itself and how it translates paths, read from an optional
// configuration file in the library's configuration-file syntax (osal/CoConfigFile.h):
//
//   [Server]
//   DisplayName = Studio A        the display name of the server record (default: host name)
//   Database = QLXFS              the kind of server (default QLXFS)
//   ReadAheads = 2                the "GetNbReadAheads" answer (default 2)
//
//   [HostTranslation 0]           numbered from 0; the list ends at the first missing number
//   SrcHost = alpha               a host name, or * for any host
//   SrcPath = /mnt/media
//   DstHost = beta
//   DstPath = /Volumes/media
//
//   [OsTypeTranslation 0]
//   SrcType = Linux               an OS type text (Irix, Linux, WindowsNT, MacOSX), or *
//   SrcPath = /mnt/media
//   DstType = WindowsNT
//   DstPath = M:\media
//
//   [SelfDiscovery]               the discovery group (defaults: the host's network
//   Port = 7555                   configuration, else 7555, 224.0.0.1 and 1)
//   Scope = 224.0.0.1
//   TTL = 1
//   ResyncTime = 300              seconds between announcements (default 300)
//
//   [TranslationGroup 0]
//   Name = studio
//   Number = 2
//   Hosts = alpha, beta           a comma list
//
//   [Limits]                      what the tree may grow to (defaults: StoreLimits)
//   MaxNodes = 1000000
//   MaxFramesPerNode = 1000000
//   MaxFramesPerServer = 20000000
//   MaxMetadataBytesPerNode = 67108864
//   MaxMetadataBytesPerServer = 4294967296
//
// Lines the server cannot use (a section or key it does not know, a number that is not a
// whole decimal number, malformed syntax) are skipped with a warning naming the file and the
// line ("FILE:LINE: unknown key 'DisplayNam' in [Server]"), kept in `warnings` and posted.
//
// Path translation (translatePath): the first host translation whose hosts match (host names
// compared ignoring ASCII case) and whose source path is a prefix of the path replaces that
// prefix; failing that, the first OS-type translation that matches the same way does, and the
// separators of the rest of the path become those of the destination system ('\' for
// WindowsNT, '/' for the others); failing both, the path is unchanged.
//
// Threads: plain values.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "vantrel/server/NodeStore.h"

namespace vantreld {

struct HostTranslation {
    std::string srcHost, srcPath, dstHost, dstPath;
};

struct OsTypeTranslation {
    std::string srcType, srcPath, dstType, dstPath;
};

struct TranslationGroup {
    std::string name;
    int number = 0;
    std::vector<std::string> hosts;
};

struct ServerSettings {
    std::string displayName;  // empty: the host name
    std::string database = "QLXFS";
    int readAheads = 2;
    std::vector<HostTranslation> hostTranslations;
    std::vector<OsTypeTranslation> osTypeTranslations;
    std::vector<TranslationGroup> translationGroups;
    StoreLimits limits;
    std::vector<std::string> warnings;  // of the lines read that could not be used
    // [SelfDiscovery]; 0 or empty: not configured here.
    unsigned discoveryPort = 0;
    std::string discoveryScope;
    unsigned discoveryTTL = 0;
    unsigned resyncSeconds = 0;

    // Reads the file; throws ServerError when it cannot be opened. Malformed lines are posted
    // as warnings and skipped.
    void readFile(const std::string& path);
    // The same from a text (tests).
    void readText(const std::string& text);

    std::string translatePath(const std::string& path, const std::string& srcHost, int srcType,
                              const std::string& dstHost, int dstType) const;
};

}  // namespace vantreld
