// Universally unique identifiers in their text form.
//
// The text form is 36 characters: 32 hexadecimal digits in the groups 8-4-4-4-12 separated by
// hyphens, for example "1b4e28ba-2fa1-11d2-883f-0016d3cca427".
//
// Threads: both operations may be called from any thread.
#pragma once

#include <string>

namespace Vantrel {

class CoUUID {
public:
    // A new identifier (random where the system has a good random source, else time based),
    // in lower-case text form. Never fails.
    static std::string create();

    // True when `text` is exactly one identifier in text form; digits of either case are
    // accepted. Braces, surrounding white space or anything else around it make it invalid.
    static bool validate(const std::string& text);
};

}  // namespace Vantrel
