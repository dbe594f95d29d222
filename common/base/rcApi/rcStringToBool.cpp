#include "rcApi/rcStringToBool.h"

#include <strings.h>

namespace Vantrel {

bool rcStringToBool(const char* text) {
    if (text == nullptr) return false;
    for (const char* word : {"1", "yes", "on", "true"})
        if (strcasecmp(text, word) == 0) return true;
    return false;
}

}  // namespace Vantrel
