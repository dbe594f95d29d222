// TreeCopy: copies a node and (optionally) everything under it to another place, on the same
// server or another one: clips with their format, frames and metadata streams, other nodes
// with their metadata streams and children. Used by `vantrel cp`.
//
// planCopy() reads the source's subtree once, before anything is written, so that the totals
// are known (progress, --dry-run) and a copy into the source's own subtree ends. TreeCopier
// then builds the copy under a root node its caller made (or found, when resuming), parents
// before children, and compares a copy with its source.
//
// Frames stream from the source's data connection to the destination's: the source is read
// on the calling thread with read-ahead (ClipReader) while a worker thread writes (or
// compares) on a server handle of its own (FramePipe), with at most COPY_BUFFER_BYTES of
// frames between them. No frame is held anywhere else.
//
// Failure: ToolFailure through the Tool, as the other transfers (Tool.h, ClipFrames.h).
// Ownership: the Tool, the plan and the progress bar are not owned and outlive the copier.
// Threads: the caller's thread, plus the worker of each clip's transfer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "NodeFacts.h"
#include "ProgressBar.h"
#include "Tool.h"

namespace vantrel_tool {

// Frames in flight between reading the source and writing the destination.
constexpr size_t COPY_BUFFER_BYTES = size_t(64) << 20;

// One node of the source's subtree.
struct SourceNode {
    NodePath path;            // where it is on the source
    std::string name;         // its display name (the copy's, below the copied node)
    int parent = -1;          // index of its parent in the plan; -1 for the copied node
    VantrelNodeHandle node;
    NodeFacts facts;
    nlohmann::json streams;   // names of its metadata streams
    uint64_t frameSize = 0;   // clips only
};

struct CopyPlan {
    std::vector<SourceNode> nodes;  // parents before their children
    uint64_t clips = 0;
    uint64_t frames = 0;
    uint64_t bytes = 0;  // frames x frame size, summed over the clips
};

// The plan of copying `source` (at `path`), with its subtree when `recursive`; a node with
// children is refused without `recursive` (wrong usage), as rm does.
CopyPlan planCopy(Tool& tool, VantrelNodeHandle& source, const NodePath& path, bool recursive);

// The child of `parent` (at `parentPath`) named `name`, or false.
bool findChild(Tool& tool, VantrelNodeHandle& parent, const NodePath& parentPath,
               const std::string& name, VantrelNodeHandle& child);

struct CopyCounts {
    uint64_t nodes = 0;
    uint64_t written = 0;  // frames written
    uint64_t skipped = 0;  // frames already in the copy, equal, not written again
    uint64_t bytes = 0;    // bytes of the frames written
};

class TreeCopier {
public:
    // `server` names the destination's server (frames are written through a handle of its
    // own made from it).
    TreeCopier(Tool& tool, const CopyPlan& plan, const std::string& server, ProgressBar& progress);

    // Copies the plan into `root` (at `rootPath`), which stands for the copied node. With
    // `resuming`, nodes already under `root` are kept (their type must match the source's),
    // and frames already written and equal to the source's are skipped.
    CopyCounts copy(VantrelNodeHandle& root, const NodePath& rootPath, bool resuming);
    // Compares `root` and everything under it with the plan: one text per difference found
    // (a missing node, another type, format or frame count, a differing frame).
    std::vector<std::string> compare(VantrelNodeHandle& root, const NodePath& rootPath);

private:
    enum class FrameMode { WRITE, RESUME, COMPARE };
    struct FrameOutcome {
        uint64_t written = 0;
        uint64_t skipped = 0;
        uint64_t bytes = 0;
        std::vector<size_t> differing;
    };

    VantrelNodeHandle makeNode(const SourceNode& source, VantrelNodeHandle& parent,
                               const NodePath& parentPath, bool resuming);
    std::string mismatch(const SourceNode& source, VantrelNodeHandle& copy,
                         const NodePath& copyPath);
    void copyMetaData(const SourceNode& source, VantrelNodeHandle& copy, const NodePath& copyPath);
    FrameOutcome transferFrames(const SourceNode& source, VantrelNodeHandle& copy,
                                const NodePath& copyPath, FrameMode mode);

    Tool& tool_;
    const CopyPlan& plan_;
    VantrelServerHandle frameServer_;  // used by the worker thread of each transfer only
    ProgressBar& progress_;
};

}  // namespace vantrel_tool
