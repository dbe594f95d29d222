#include "osal/CoUUID.h"

#include <rpc.h>

#include <cctype>

namespace Vantrel {

std::string CoUUID::create() {
    UUID uuid;
    UuidCreate(&uuid);
    RPC_CSTR text = nullptr;
    if (UuidToStringA(&uuid, &text) != RPC_S_OK) return std::string(36, '0');
    std::string result(reinterpret_cast<const char*>(text));
    RpcStringFreeA(&text);
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

bool CoUUID::validate(const std::string& text) {
    // The length check keeps an embedded NUL from hiding a tail the parser would not see.
    if (text.size() != 36) return false;
    UUID parsed;
    std::string copy = text;
    return UuidFromStringA(reinterpret_cast<RPC_CSTR>(&copy[0]), &parsed) == RPC_S_OK;
}

}  // namespace Vantrel
