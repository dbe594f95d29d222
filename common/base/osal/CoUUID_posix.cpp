#include "osal/CoUUID.h"

#include <uuid/uuid.h>

namespace Vantrel {

std::string CoUUID::create() {
    uuid_t uuid;
    uuid_generate(uuid);
    char text[37];
    uuid_unparse_lower(uuid, text);
    return text;
}

bool CoUUID::validate(const std::string& text) {
    // The length check keeps an embedded NUL from hiding a tail the parser would not see.
    if (text.size() != 36) return false;
    uuid_t parsed;
    return uuid_parse(text.c_str(), parsed) == 0;
}

}  // namespace Vantrel
