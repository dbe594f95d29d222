// How much a clip or a subtree holds: frames, and bytes as frames x frame size. Shared by
// `ls -l` and `du`.
//
// A clip's frame size is its format's frame buffer size, or, when that is 0, the bytes of
// its pixels (width x height x bits per pixel, rounded up to whole bytes).
// Failure: remote calls that fail throw ToolFailure through the Tool, naming the node.
// Threads: the main thread of the tool.
#pragma once

#include <cstdint>
#include <string>

#include "Tool.h"

namespace vantrel_tool {

struct StoredSize {
    uint64_t clips = 0;
    uint64_t frames = 0;
    uint64_t bytes = 0;

    StoredSize& operator+=(const StoredSize& other);
};

// Bytes of one frame of `format`.
uint64_t frameBytesOf(const VantrelClipFormat& format);

// The node itself (its frames when it is a clip) and, with `withSubtree`, everything below
// it; each node below is listed and asked its type once. The walk keeps a stack, so a deep
// tree cannot exhaust the tool's own.
StoredSize storedSize(Tool& tool, VantrelNodeHandle& node, const NodePath& path,
                      bool withSubtree);

// `bytes` for people: "512 B", "1.5 KiB", "20 MiB", "3.1 GiB" (three significant digits at
// most, powers of 1024).
std::string humanSize(uint64_t bytes);

}  // namespace vantrel_tool
