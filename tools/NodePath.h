// NodePath: how the vantrel tool names a server and a node, `SERVER:/display/path`.
//
// SERVER is the library's server-id text (ADDRESS, ADDRESS:PORT or ADDRESS:DATABASE); the
// path is a list of display names separated by "/" (or "\"), empty and "." components
// skipped, as VantrelResolveDisplayPath reads it. The server ends at the first ":/" (or
// ":\"); SERVER alone, or a text ending in ":", names the root of SERVER ("127.0.0.1:7549"). Display names
// may hold ":" and spaces; a "/" or "\" inside a name is written "\/" or "\\" (so "Cut\/Day
// 2" names the node "Cut/Day 2"), and paths are printed that way. A "\" before any other
// character is a separator, as it always was.
//
// Value type; no failure other than the parse functions' std::nullopt / empty answers.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantrel_tool {

struct NodePath {
    std::string server;                   // the server-id text, never empty
    std::vector<std::string> components;  // display names from the root; empty for the root

    // "/A/B", or "/" for the root.
    std::string displayPath() const;
    // "SERVER:/A/B".
    std::string text() const;
    // The path of the parent ("/" has none: the root is its own parent).
    NodePath parent() const;
    // The last component ("" for the root).
    std::string name() const;
    bool isRoot() const { return components.empty(); }
};

// Reads `SERVER:/path`, `SERVER:` or `SERVER`; nullopt when the text names no server.
std::optional<NodePath> parseNodePath(const std::string& text);

// Reads a server alone: `SERVER`, or `SERVER:` / `SERVER:/` (the root's path is allowed and
// ignored, so a node path of the root names its server too). Empty when the text is empty or
// names a node below the root.
std::string parseServerText(const std::string& text);

// Splits a display path into its components as above (escapes undone).
std::vector<std::string> splitDisplayPath(const std::string& path);
// `name` as a path writes it: "/" and "\" escaped.
std::string escapeName(const std::string& name);

}  // namespace vantrel_tool
