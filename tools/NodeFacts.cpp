#include "NodeFacts.h"

#include <sstream>

namespace vantrel_tool {

NodeFacts readNodeFacts(const Tool& tool, VantrelNodeHandle& node, const std::string& where) {
    NodeFacts facts;
    VantrelStr name, type;
    tool.check(node.getDisplayName(name) && node.getNodeTypeStr(type) &&
                   node.getNodeType(facts.typeNumber) && node.getIsClipNode(facts.clip),
               node, "reading " + where);
    facts.name = name.c_str();
    facts.type = type.c_str();
    facts.id = node.getNodeId().id();
    if (facts.clip) {
        VantrelClipFormat format;
        tool.check(node.getClipFormat(format) && node.getNumFrames(facts.frames), node,
                   "reading the clip " + where);
        facts.format = format;
    }
    return facts;
}

nlohmann::json readStreamNames(const Tool& tool, VantrelNodeHandle& node, const std::string& where) {
    const std::string what = "reading the metadata streams of " + where;
    int count = 0;
    tool.check(node.getNumAvailableMetaDataStreams(count), node, what);
    nlohmann::json names = nlohmann::json::array();
    for (int i = 0; i < count; ++i) {
        VantrelStr name;
        tool.check(node.getAvailableMetaDataStream(i, name), node, what);
        names.push_back(name.c_str());
    }
    return names;
}

nlohmann::json toJson(const NodeFacts& facts) {
    nlohmann::json json = {{"name", facts.name}, {"type", facts.type},
                           {"typeNumber", facts.typeNumber}, {"id", facts.id},
                           {"clip", facts.clip}};
    if (facts.format) {
        json["format"] = toJson(*facts.format);
        json["frames"] = facts.frames;
    }
    return json;
}

std::string summary(const NodeFacts& facts) {
    std::string text = escapeName(facts.name) + " [" + facts.type + "]";
    if (facts.format)
        text += " " + summary(*facts.format) + ", " + counted(facts.frames, "frame");
    return text;
}

nlohmann::json toJson(const VantrelClipFormat& format) {
    return {{"width", format.width()},
            {"height", format.height()},
            {"bitsPerPixel", format.bitsPerPixel()},
            {"channels", format.numChannels()},
            {"frameBufferSize", format.frameBufferSize()},
            {"frameRate", format.frameRate()},
            {"pixelRatio", format.pixelRatio()},
            {"scan", VantrelClipFormat::scanFormatStr(format.scanFormat())},
            {"tag", format.formatTag()},
            {"metaDataTag", format.metaDataTag()},
            {"metaData", format.metaData()}};
}

std::string summary(const VantrelClipFormat& format) {
    std::ostringstream text;
    text << format.width() << "x" << format.height() << " " << format.formatTag() << ", "
         << format.bitsPerPixel() << " bits/pixel, " << format.numChannels() << " channels, "
         << format.frameRate() << " fps";
    return text.str();
}

}  // namespace vantrel_tool
