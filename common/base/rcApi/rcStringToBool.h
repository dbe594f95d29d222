// The boolean word rule shared by attribute streams and typed parameters.
#pragma once

#include <string>

namespace Vantrel {

// "true" gives true and "false" gives false; otherwise true when the text equals, ignoring
// case, one of "1", "yes", "on", "true", and false for anything else ("0", "no", "off",
// "false", the empty text and any other word). A null text gives false.
bool rcStringToBool(const char* text);
inline bool rcStringToBool(const std::string& text) { return rcStringToBool(text.c_str()); }

}  // namespace Vantrel
