// The host's network settings.
//
// CoNetworkConfig is the process-wide source of: the local interfaces that carry data,
// metadata and multicast traffic; the host's display name and UUID; the port, scope (multicast
// group) and time-to-live of server self-discovery. Each setting is a key in a section of a
// configuration file (syntax in osal/CoConfigFile.h), for example:
//
//     [SelfDiscovery]
//     Port = 7555
//     Scope = 224.0.0.1
//     TTL = 1
//     [Interfaces]
//     Data = eth0, eth1
//
// The file is read on first use: the file named by the environment variable
// VANTREL_NETWORK_CFG when that is set and not empty, else CFG_FILE_NAME when it exists. With
// no file every getter gives its default. Malformed lines are skipped with a warning message;
// a VANTREL_NETWORK_CFG file that cannot be read is reported by a warning too.
//
// Threads: the instance's lock serialises the getters and the reading of the file.
// getInstance() is not locked: make the first call before other threads use it. The last
// error (CoLastErrLogger) is not locked either; read it from the thread that got the failure,
// when no other thread is using the configuration.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ipc/CoMutex.h"
#include "loggerBase/CoLastErrLogger.h"
#include "osal/CoThreadAnnotations.h"

namespace Vantrel {

class CoConfigFileReader;

inline constexpr char CFG_FILE_NAME[] = "/usr/maltrove/cfg/network.cfg";
inline constexpr char INTERFACES_SECTION_TOKEN[] = "Interfaces";
inline constexpr char INTERFACES_DATA_TOKEN[] = "Data";
inline constexpr char INTERFACES_METADATA_TOKEN[] = "Metadata";
inline constexpr char INTERFACES_MULTICAST_TOKEN[] = "Multicast";
inline constexpr char LOCAL_SECTION_TOKEN[] = "Local";
inline constexpr char LOCAL_DISPLAY_NAME_TOKEN[] = "DisplayName";
inline constexpr char LOCAL_UUID_TOKEN[] = "UUID";
inline constexpr char SELF_DISCOVERY_SECTION_TOKEN[] = "SelfDiscovery";
inline constexpr char SELF_DISCOVERY_PORT_TOKEN[] = "Port";
inline constexpr char SELF_DISCOVERY_SCOPE_TOKEN[] = "Scope";
inline constexpr char SELF_DISCOVERY_TTL_TOKEN[] = "TTL";

// The host's network configuration file, read when VANTREL_NETWORK_CFG names none: CFG_FILE_NAME
// on Linux; on Windows the same file under the machine-wide application data folder
// (%ProgramData%\maltrove\cfg\network.cfg, C:\ProgramData when the variable is unset).
std::string coDefaultNetworkConfigFile();

class CoNetworkConfig : public CoLastErrLogger {
public:
    // The single instance, made on the first call and kept until the process ends.
    static CoNetworkConfig& getInstance();

    ~CoNetworkConfig();
    CoNetworkConfig(const CoNetworkConfig&) = delete;
    CoNetworkConfig& operator=(const CoNetworkConfig&) = delete;

    // Interfaces/Data, Interfaces/Metadata, Interfaces/Multicast: the comma-separated list of
    // interface names, each trimmed, empty fields kept. Absent: an empty list. Return true.
    bool getDataInterfaces(std::vector<std::string>& interfaces);
    bool getMetadataInterfaces(std::vector<std::string>& interfaces);
    bool getMulticastInterfaces(std::vector<std::string>& interfaces);

    // Local/DisplayName; "" when absent. Returns true.
    bool getDisplayName(std::string& name);

    // Local/UUID. True, and `uuid` set, only for a configured, valid UUID. Absent: false with
    // the last error "No host UUID configured. Please check <file>." recorded but not printed
    // (the host may simply have none). Not a UUID: false with the error "Invalid UUID '<text>'"
    // posted. `uuid` is left unchanged on failure.
    bool getUUID(std::string& uuid) EXCLUDES(lock_);

    // SelfDiscovery/Port, SelfDiscovery/Scope, SelfDiscovery/TTL. The incoming value is the
    // default: it is kept when the key is absent or, for the numbers, not an unsigned decimal
    // number. Return true.
    bool getSelfDiscoveryPort(unsigned int& port);
    bool getSelfDiscoveryScope(std::string& scope);
    bool getSelfDiscoveryTTL(unsigned int& ttl);

protected:
    // `defaultFileName` is the file read when VANTREL_NETWORK_CFG does not name one.
    explicit CoNetworkConfig(const std::string& defaultFileName = coDefaultNetworkConfigFile());

    // Reads the configuration when it has not been read yet. Returns true.
    bool parse() REQUIRES(lock_);

private:
    bool getToken(const char* section, const char* key, std::string& value,
                  const char* defaultValue) EXCLUDES(lock_);
    bool getToken(const char* section, const char* key, unsigned int& value,
                  unsigned int defaultValue) EXCLUDES(lock_);
    bool getToken(const char* section, const char* key, std::vector<std::string>& values)
        EXCLUDES(lock_);

    CoMutex lock_;
    const std::string defaultFileName_;
    // The file the store was read from, or would have been had it existed.
    std::string fileName_ GUARDED_BY(lock_);
    std::unique_ptr<CoConfigFileReader> store_ GUARDED_BY(lock_);
};

}  // namespace Vantrel
