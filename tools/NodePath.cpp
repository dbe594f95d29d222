#include "NodePath.h"

namespace vantrel_tool {

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// Where the server part of `text` ends: the ':' of the first ":/" or ":\", else the final
// ':' of a text ending in one; npos when neither.
size_t serverEnd(const std::string& text) {
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == ':' && isSeparator(text[i + 1])) return i;
    if (!text.empty() && text.back() == ':') return text.size() - 1;
    return std::string::npos;
}

}  // namespace

std::vector<std::string> splitDisplayPath(const std::string& path) {
    std::vector<std::string> components;
    std::string current;
    auto finish = [&] {
        if (!current.empty() && current != ".") components.push_back(current);
        current.clear();
    };
    for (size_t i = 0; i < path.size(); ++i) {
        const bool escaped = path[i] == '\\' && i + 1 < path.size() && isSeparator(path[i + 1]);
        if (escaped)
            current += path[++i];
        else if (isSeparator(path[i]))
            finish();
        else
            current += path[i];
    }
    finish();
    return components;
}

std::string escapeName(const std::string& name) {
    std::string escaped;
    for (char c : name) {
        if (isSeparator(c)) escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::optional<NodePath> parseNodePath(const std::string& text) {
    const size_t end = serverEnd(text);
    if (end == std::string::npos) {
        // SERVER alone: its root. A text that starts like a path names no server.
        if (text.empty() || isSeparator(text[0])) return std::nullopt;
        return NodePath{text, {}};
    }
    if (end == 0) return std::nullopt;
    NodePath path;
    path.server = text.substr(0, end);
    path.components = splitDisplayPath(text.substr(end + 1));
    return path;
}

std::string parseServerText(const std::string& text) {
    if (serverEnd(text) == std::string::npos) return text;
    const std::optional<NodePath> path = parseNodePath(text);
    return path && path->isRoot() ? path->server : std::string();
}

std::string NodePath::displayPath() const {
    if (components.empty()) return "/";
    std::string path;
    for (const std::string& component : components) path += "/" + escapeName(component);
    return path;
}

std::string NodePath::text() const { return server + ":" + displayPath(); }

NodePath NodePath::parent() const {
    NodePath up = *this;
    if (!up.components.empty()) up.components.pop_back();
    return up;
}

std::string NodePath::name() const { return components.empty() ? std::string() : components.back(); }

}  // namespace vantrel_tool
