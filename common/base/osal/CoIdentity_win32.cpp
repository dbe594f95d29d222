#include "osal/CoIdentity.h"

#include <windows.h>

#include <vector>

namespace Vantrel {

namespace {

// The account name of a security identifier, without its domain.
bool nameOfSid(PSID sid, std::string& name) {
    char account[256];
    char domain[256];
    DWORD accountSize = sizeof account;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, sid, account, &accountSize, domain, &domainSize, &use))
        return false;
    name = account;
    return true;
}

// The process token's primary group.
bool primaryGroupName(std::string& name) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenPrimaryGroup, nullptr, 0, &size);
    std::vector<char> buffer(size > 0 ? size : 1);
    const bool read = size > 0 && GetTokenInformation(token, TokenPrimaryGroup, buffer.data(),
                                                      size, &size);
    CloseHandle(token);
    if (!read) return false;
    return nameOfSid(reinterpret_cast<TOKEN_PRIMARY_GROUP*>(buffer.data())->PrimaryGroup, name);
}

}  // namespace

bool CoIdentity::getUserName(std::string& name) {
    char user[257];
    DWORD size = sizeof user;
    if (!GetUserNameA(user, &size)) return false;
    name = user;
    return true;
}

bool CoIdentity::getGroupName(std::string& name) { return primaryGroupName(name); }

// Windows names accounts by security identifiers, not numbers: no numeric id has a name.
bool CoIdentity::getUserName(unsigned int, std::string&) { return false; }
bool CoIdentity::getGroupName(unsigned int, std::string&) { return false; }

}  // namespace Vantrel
