// The node types of the tree: their texts, numbers and clip flags, and which child types a
// parent type may hold.
//
// Numbers are this server's (the position in the list below, from 0); a request may name a
// type by its text or by its number in decimal.
//   HOST VOLUME PROJECT SHARED_VAULT WORKSPACE BINENTRY BIN LIBRARY REEL CLIP FOLDER DIR
//   HIRES LOWRES SLATE FILE
// Clip nodes (clip flag 1, they hold frames): CLIP, HIRES, LOWRES, SLATE.
//
// Children by parent type:
//   HOST: VOLUME; VOLUME: PROJECT; PROJECT: SHARED_VAULT;
//   SHARED_VAULT, WORKSPACE, BINENTRY: BIN, LIBRARY; BIN: FOLDER, CLIP;
//   LIBRARY: FOLDER, CLIP, REEL; REEL: CLIP; FOLDER: FOLDER, CLIP; DIR: DIR;
//   CLIP, HIRES, LOWRES, SLATE, FILE: none.
// This table answers "CanCreateNode". It allows more than the table clients fall back on for
// servers that do not answer "CanCreateNode" (older than 2015): there a library holds no
// reels; here it does, as libraries of reels are what the sample tree and editors build.
// Threads: immutable tables.
#pragma once

#include <string>

namespace vantreld {

struct NodeType {
    const char* name;
    int number;
    bool clip;
};

class NodeTypes {
public:
    // The type whose text is exactly `name`, or null.
    static const NodeType* byName(const std::string& name);
    // By text, or by number when `text` is a decimal number; null when neither.
    static const NodeType* byText(const std::string& text);
    static const NodeType* byNumber(int number);
    // Whether a node of type `parent` may hold a child of type `child` (type texts).
    static bool canCreate(const std::string& parent, const std::string& child);
};

}  // namespace vantreld
