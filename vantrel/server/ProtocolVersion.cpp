#include "vantrel/server/ProtocolVersion.h"

#include <cstdio>
#include <tuple>

#include "vantrel/server/WireText.h"

namespace vantreld {

namespace {

struct Threshold {
    const char* method;
    ProtocolVersion since;
};

const Threshold THRESHOLDS[] = {
    {"SetMetaData", {2, 5, 0, 0}},
    {"SetFramePaths", {2, 6, 1, 0}},
    {"GetFramePaths", {2, 6, 1, 0}},
    {"GetNbReadAheads", {2010, 1, 1, 0}},
    {"CreateNodeEx", {2012, 0, 0, 5134}},
    {"GetChildrenEx", {2012, 0, 0, 5134}},
    {"GetDisplayNameEx", {2012, 0, 0, 5134}},
    {"SetFramePathsEx", {2012, 1, 1, 5758}},
    {"GetFramePathsEx", {2012, 1, 1, 5758}},
    {"AllocateFramesEx", {2013, 1, 0, 6115}},
    {"GetFramesEx", {2013, 1, 0, 6115}},
    {"CanCreateNode", {2015, 0, 0, 0}},
};

}  // namespace

bool ProtocolVersion::parse(const std::string& text, ProtocolVersion& out) {
    const std::vector<std::string> parts = [&] {
        std::vector<std::string> items;
        size_t start = 0;
        for (size_t dot; (dot = text.find('.', start)) != std::string::npos; start = dot + 1)
            items.push_back(text.substr(start, dot - start));
        items.push_back(text.substr(start));
        return items;
    }();
    if (parts.size() != 4) return false;
    int numbers[4];
    for (size_t i = 0; i < 4; ++i) {
        if (parts[i].empty() || parts[i].find_first_not_of("0123456789") != std::string::npos)
            return false;
        try {
            numbers[i] = parseInt(parts[i]);
        } catch (const std::exception&) {
            return false;
        }
    }
    out = ProtocolVersion{numbers[0], numbers[1], numbers[2], numbers[3]};
    return true;
}

std::string ProtocolVersion::text() const {
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", major, minor, maint, build);
    return text;
}

bool ProtocolVersion::operator<(const ProtocolVersion& other) const {
    return std::tie(major, minor, maint, build) <
           std::tie(other.major, other.minor, other.maint, other.build);
}

bool ProtocolVersion::knows(const std::string& method) const {
    for (const Threshold& threshold : THRESHOLDS)
        if (method == threshold.method) return !(*this < threshold.since);
    return true;
}

}  // namespace vantreld
