// What the vantrel tool shows of a node and of a clip format, for people and as JSON, shared
// by the subcommands that list, walk and describe nodes.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "Tool.h"

namespace vantrel_tool {

struct NodeFacts {
    std::string name;
    std::string type;      // the type text ("CLIP", ...)
    int typeNumber = 0;
    std::string id;
    bool clip = false;
    std::optional<VantrelClipFormat> format;  // clips only
    int frames = 0;                           // clips only
};

// Reads the facts of `node`; a failure throws through `tool` naming `where`.
NodeFacts readNodeFacts(const Tool& tool, VantrelNodeHandle& node, const std::string& where);

// The names of the node's metadata streams, as a JSON array of texts.
nlohmann::json readStreamNames(const Tool& tool, VantrelNodeHandle& node, const std::string& where);

// {"name", "type", "typeNumber", "id", "clip"[, "format", "frames"]}.
nlohmann::json toJson(const NodeFacts& facts);
// "Shot 010 [CLIP] 8x4 rgb, 24 bits/pixel, 3 channels, 24 fps, 3 frames".
std::string summary(const NodeFacts& facts);

// Every field of the format; the scan format as its name.
nlohmann::json toJson(const VantrelClipFormat& format);
// "8x4 rgb, 24 bits/pixel, 3 channels, 24 fps".
std::string summary(const VantrelClipFormat& format);

}  // namespace vantrel_tool
