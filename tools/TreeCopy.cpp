#include "TreeCopy.h"

#include <climits>
#include <cstring>

#include "ClipFrames.h"
#include "FramePipe.h"

namespace vantrel_tool {

namespace {

NodePath childPath(const NodePath& parent, const std::string& name) {
    NodePath path = parent;
    path.components.push_back(name);
    return path;
}

void addToPlan(Tool& tool, CopyPlan& plan, VantrelNodeHandle& node, const NodePath& path,
               int parent, bool recursive) {
    SourceNode entry;
    entry.path = path;
    entry.parent = parent;
    entry.node = node;
    entry.facts = readNodeFacts(tool, node, path.text());
    entry.name = entry.facts.name;
    entry.streams = readStreamNames(tool, node, path.text());
    if (entry.facts.clip) {
        entry.frameSize = frameSizeOf(*entry.facts.format);
        plan.clips += 1;
        plan.frames += static_cast<uint64_t>(entry.facts.frames);
        plan.bytes += static_cast<uint64_t>(entry.facts.frames) * entry.frameSize;
    }
    const int index = static_cast<int>(plan.nodes.size());
    plan.nodes.push_back(entry);
    int children = 0;
    tool.check(node.getNumChildren(children), node, "listing " + path.text());
    if (children == 0) return;
    if (!recursive)
        usageError(path.text() + " has " + counted(children, "child", "children") +
                   "; -r copies them too");
    tool.forEachChild(node, path, [&](VantrelNodeHandle& child, const NodePath& where) {
        addToPlan(tool, plan, child, where, index, recursive);
    });
}

std::string frameList(const std::vector<size_t>& indexes) {
    constexpr size_t SHOWN = 8;
    std::string text;
    for (size_t i = 0; i < indexes.size() && i < SHOWN; ++i)
        text += (i == 0 ? "" : ",") + std::to_string(indexes[i]);
    if (indexes.size() > SHOWN) text += ",...";
    return text;
}

}  // namespace

CopyPlan planCopy(Tool& tool, VantrelNodeHandle& source, const NodePath& path, bool recursive) {
    CopyPlan plan;
    addToPlan(tool, plan, source, path, -1, recursive);
    return plan;
}

bool findChild(Tool& tool, VantrelNodeHandle& parent, const NodePath& parentPath,
               const std::string& name, VantrelNodeHandle& child) {
    bool found = false;
    tool.forEachChild(parent, parentPath, [&](VantrelNodeHandle& node, const NodePath& where) {
        if (!found && where.name() == name) {
            child = node;
            found = true;
        }
    });
    return found;
}

TreeCopier::TreeCopier(Tool& tool, const CopyPlan& plan, const std::string& server,
                       ProgressBar& progress)
    : tool_(tool), plan_(plan), frameServer_(server.c_str()), progress_(progress) {}

CopyCounts TreeCopier::copy(VantrelNodeHandle& root, const NodePath& rootPath, bool resuming) {
    CopyCounts counts;
    std::vector<VantrelNodeHandle> copies;
    std::vector<NodePath> paths;
    for (const SourceNode& source : plan_.nodes) {
        if (source.parent < 0) {
            copies.push_back(root);
            paths.push_back(rootPath);
            if (resuming) {
                const std::string wrong = mismatch(source, root, rootPath);
                if (!wrong.empty()) throw ToolFailure(EXIT_SERVER_ERROR, wrong);
            }
        } else {
            const size_t parent = static_cast<size_t>(source.parent);
            copies.push_back(makeNode(source, copies[parent], paths[parent], resuming));
            paths.push_back(childPath(paths[parent], source.name));
        }
        counts.nodes += 1;
        copyMetaData(source, copies.back(), paths.back());
        if (!source.facts.clip) continue;
        const FrameOutcome outcome = transferFrames(source, copies.back(), paths.back(),
                                                    resuming ? FrameMode::RESUME : FrameMode::WRITE);
        counts.written += outcome.written;
        counts.skipped += outcome.skipped;
        counts.bytes += outcome.bytes;
    }
    return counts;
}

std::vector<std::string> TreeCopier::compare(VantrelNodeHandle& root, const NodePath& rootPath) {
    std::vector<std::string> differences;
    std::vector<VantrelNodeHandle> copies(plan_.nodes.size());
    std::vector<NodePath> paths(plan_.nodes.size());
    std::vector<bool> present(plan_.nodes.size(), false);
    for (size_t i = 0; i < plan_.nodes.size(); ++i) {
        const SourceNode& source = plan_.nodes[i];
        if (source.parent < 0) {
            copies[i] = root;
            paths[i] = rootPath;
            present[i] = true;
        } else {
            const size_t parent = static_cast<size_t>(source.parent);
            paths[i] = childPath(paths[parent], source.name);
            present[i] = present[parent] &&
                         findChild(tool_, copies[parent], paths[parent], source.name, copies[i]);
            if (!present[i]) {
                if (present[parent]) differences.push_back(paths[i].text() + " is missing");
                continue;
            }
        }
        const std::string wrong = mismatch(source, copies[i], paths[i]);
        if (!wrong.empty()) {
            differences.push_back(wrong);
            present[i] = false;  // its children are not looked for
            continue;
        }
        if (!source.facts.clip) continue;
        int frames = 0;
        tool_.check(copies[i].getNumFrames(frames), copies[i], "listing the frames of " + paths[i].text());
        if (frames != source.facts.frames) {
            differences.push_back(paths[i].text() + " has " + counted(frames, "frame") +
                                  ", the source " + std::to_string(source.facts.frames));
            continue;
        }
        const FrameOutcome outcome = transferFrames(source, copies[i], paths[i], FrameMode::COMPARE);
        if (!outcome.differing.empty())
            differences.push_back(paths[i].text() + ": " +
                                  counted(static_cast<long long>(outcome.differing.size()),
                                          "frame differs", "frames differ") +
                                  " (" + frameList(outcome.differing) + ")");
    }
    return differences;
}

VantrelNodeHandle TreeCopier::makeNode(const SourceNode& source, VantrelNodeHandle& parent,
                                       const NodePath& parentPath, bool resuming) {
    VantrelNodeHandle copy(parent.getServer(), "");
    const NodePath path = childPath(parentPath, source.name);
    if (resuming && findChild(tool_, parent, parentPath, source.name, copy)) {
        const std::string wrong = mismatch(source, copy, path);
        if (!wrong.empty())
            throw ToolFailure(EXIT_SERVER_ERROR, "cannot resume: " + wrong);
        return copy;
    }
    const char* type = source.facts.type.c_str();
    const std::string what = "creating " + path.text();
    if (source.facts.clip)
        tool_.check(parent.createClipNode(source.name.c_str(), *source.facts.format, type, copy),
                    parent, what);
    else
        tool_.check(parent.createNode(source.name.c_str(), type, copy), parent, what);
    return copy;
}

std::string TreeCopier::mismatch(const SourceNode& source, VantrelNodeHandle& copy,
                                 const NodePath& copyPath) {
    const NodeFacts facts = readNodeFacts(tool_, copy, copyPath.text());
    if (facts.type != source.facts.type)
        return copyPath.text() + " is a " + facts.type + ", the source a " + source.facts.type;
    if (source.facts.clip && toJson(*facts.format) != toJson(*source.facts.format))
        return copyPath.text() + " has another clip format (" + summary(*facts.format) +
               ") than the source (" + summary(*source.facts.format) + ")";
    return "";
}

void TreeCopier::copyMetaData(const SourceNode& source, VantrelNodeHandle& copy,
                              const NodePath& copyPath) {
    for (const nlohmann::json& name : source.streams) {
        const std::string stream = name.get<std::string>();
        VantrelStr data;
        tool_.check(source.node.getMetaData(stream.c_str(), nullptr, 0, data), source.node,
                    "reading '" + stream + "' of " + source.path.text());
        tool_.check(copy.setMetaData(stream.c_str(), data.c_str()), copy,
                    "writing '" + stream + "' of " + copyPath.text());
    }
}

TreeCopier::FrameOutcome TreeCopier::transferFrames(const SourceNode& source,
                                                    VantrelNodeHandle& copy,
                                                    const NodePath& copyPath, FrameMode mode) {
    FrameOutcome outcome;
    VantrelNodeHandle from = source.node;
    ClipReader reader(tool_, from);
    const size_t count = reader.frameCount();
    unsigned int copyCount = 0;
    tool_.check(copy.getNumFrames(copyCount), copy, "listing the frames of " + copyPath.text());
    if (copyCount != count)  // compare() has checked the counts
        tool_.check(copy.setNumFrames(static_cast<unsigned int>(count)), copy,
                    "allocating the frames of " + copyPath.text());
    std::vector<std::string> ids(count);
    for (size_t i = 0; i < count; ++i) {
        VantrelStr id;
        tool_.check(copy.getFrameId(static_cast<int>(i), id), copy,
                    "listing the frames of " + copyPath.text());
        ids[i] = id.c_str();
    }
    const unsigned int size = static_cast<unsigned int>(reader.frameSize());
    FramePipe::Bytes theirs(mode == FrameMode::WRITE ? 0 : size);
    FramePipe pipe(FramePipe::capacityFor(size, COPY_BUFFER_BYTES),
                   [&](size_t index, const FramePipe::Bytes& bytes) {
        const std::string frame = "frame " + std::to_string(index) + " of " + copyPath.text();
        if (mode != FrameMode::WRITE) {
            tool_.check(frameServer_.readFrame(ids[index].c_str(), theirs.data(), size),
                        frameServer_, "reading " + frame);
            const bool equal = std::memcmp(theirs.data(), bytes.data(), size) == 0;
            if (equal && mode == FrameMode::RESUME) outcome.skipped += 1;
            if (!equal && mode == FrameMode::COMPARE) outcome.differing.push_back(index);
            if (equal || mode == FrameMode::COMPARE) {
                progress_.advance(1, bytes.size());
                return;
            }
        }
        tool_.check(frameServer_.writeFrame(ids[index].c_str(), bytes.data(), size),
                    frameServer_, "writing " + frame);
        outcome.written += 1;
        outcome.bytes += size;
        progress_.advance(1, bytes.size());
    });
    reader.read(FrameSelection::all(count),
                [&](size_t index, FramePipe::Bytes& bytes) { pipe.push(index, bytes); });
    pipe.finish();
    return outcome;
}

}  // namespace vantrel_tool
