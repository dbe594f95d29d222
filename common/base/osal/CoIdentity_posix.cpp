#include "osal/CoIdentity.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace Vantrel {
namespace {

// Entries with very long member lists need more than the usual buffer; past this size the
// database is taken as broken rather than growing without end.
constexpr std::size_t MAX_ENTRY_BUFFER = 1u << 20;

std::size_t initialBufferSize(int sysconfName) {
    const long suggested = sysconf(sysconfName);
    return suggested > 0 ? static_cast<std::size_t>(suggested) : 1024u;
}

// Runs a re-entrant database lookup (getpwuid_r, getgrgid_r), growing its buffer while it
// reports ERANGE. Stores the entry's name in `name` when an entry was found.
template <typename Entry, typename Lookup, typename NameOf>
bool lookUpName(int sysconfName, Lookup lookup, NameOf nameOf, std::string& name) {
    std::vector<char> buffer(initialBufferSize(sysconfName));
    for (;;) {
        Entry entry{};
        Entry* result = nullptr;
        const int error = lookup(&entry, buffer.data(), buffer.size(), &result);
        if (error == ERANGE && buffer.size() < MAX_ENTRY_BUFFER) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != 0 || result == nullptr || nameOf(*result) == nullptr) return false;
        name = nameOf(*result);
        return true;
    }
}

}  // namespace

bool CoIdentity::getUserName(std::string& name) { return getUserName(geteuid(), name); }

bool CoIdentity::getGroupName(std::string& name) { return getGroupName(getegid(), name); }

bool CoIdentity::getUserName(unsigned int uid, std::string& name) {
    return lookUpName<passwd>(
        _SC_GETPW_R_SIZE_MAX,
        [uid](passwd* entry, char* buffer, std::size_t size, passwd** result) {
            return getpwuid_r(static_cast<uid_t>(uid), entry, buffer, size, result);
        },
        [](const passwd& entry) { return entry.pw_name; }, name);
}

bool CoIdentity::getGroupName(unsigned int gid, std::string& name) {
    return lookUpName<group>(
        _SC_GETGR_R_SIZE_MAX,
        [gid](group* entry, char* buffer, std::size_t size, group** result) {
            return getgrgid_r(static_cast<gid_t>(gid), entry, buffer, size, result);
        },
        [](const group& entry) { return entry.gr_name; }, name);
}

}  // namespace Vantrel
