// Reads the name/value pairs of an attribute-stream text (as event details arrive): NAME, a
// space, the decimal byte length of the value, a space, the value, repeated; entries whose
// name is blank are skipped. The text comes from a server: a length running past the end
// keeps the bytes there are, and a text that stops making sense ends the list, never more.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vantrel_tool {

std::vector<std::pair<std::string, std::string>> readAttributeText(const std::string& text);

}  // namespace vantrel_tool
