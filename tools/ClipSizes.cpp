#include "ClipSizes.h"

#include <cstdio>
#include <vector>

namespace vantrel_tool {

namespace {

// The frames and bytes of `node` alone.
StoredSize ownSize(const Tool& tool, VantrelNodeHandle& node, const NodePath& path) {
    StoredSize size;
    bool clip = false;
    tool.check(node.getIsClipNode(clip), node, "reading " + path.text());
    if (!clip) return size;
    VantrelClipFormat format;
    int frames = 0;
    tool.check(node.getClipFormat(format) && node.getNumFrames(frames), node,
               "reading the clip " + path.text());
    size.clips = 1;
    size.frames = frames > 0 ? static_cast<uint64_t>(frames) : 0;
    size.bytes = size.frames * frameBytesOf(format);
    return size;
}

}  // namespace

StoredSize& StoredSize::operator+=(const StoredSize& other) {
    clips += other.clips;
    frames += other.frames;
    bytes += other.bytes;
    return *this;
}

uint64_t frameBytesOf(const VantrelClipFormat& format) {
    if (format.frameBufferSize() > 0) return static_cast<uint64_t>(format.frameBufferSize());
    const auto positive = [](int value) { return value > 0 ? static_cast<uint64_t>(value) : 0; };
    return (positive(format.width()) * positive(format.height()) *
                positive(format.bitsPerPixel()) + 7) / 8;
}

StoredSize storedSize(Tool& tool, VantrelNodeHandle& node, const NodePath& path,
                      bool withSubtree) {
    StoredSize total = ownSize(tool, node, path);
    if (!withSubtree) return total;
    struct Pending {
        VantrelNodeHandle node;
        NodePath path;
    };
    std::vector<Pending> stack{{node, path}};
    while (!stack.empty()) {
        Pending current = std::move(stack.back());
        stack.pop_back();
        tool.forEachChild(current.node, current.path,
                          [&](VantrelNodeHandle& child, const NodePath& childPath) {
                              total += ownSize(tool, child, childPath);
                              stack.push_back({child, childPath});
                          });
    }
    return total;
}

std::string humanSize(uint64_t bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 10.0 ? "%.1f %s" : "%.0f %s", value, units[unit]);
    return text;
}

}  // namespace vantrel_tool
