#include "vantrel/server/NodeTypes.h"

#include <cstring>
#include <initializer_list>

namespace vantreld {

namespace {

const NodeType TYPES[] = {
    {"HOST", 0, false},         {"VOLUME", 1, false},    {"PROJECT", 2, false},
    {"SHARED_VAULT", 3, false}, {"WORKSPACE", 4, false}, {"BINENTRY", 5, false},
    {"BIN", 6, false},          {"LIBRARY", 7, false},   {"REEL", 8, false},
    {"CLIP", 9, true},          {"FOLDER", 10, false},   {"DIR", 11, false},
    {"HIRES", 12, true},        {"LOWRES", 13, true},    {"SLATE", 14, true},
    {"FILE", 15, false},
};

struct Rule {
    std::initializer_list<const char*> parents;
    std::initializer_list<const char*> children;
};

const Rule RULES[] = {
    {{"HOST"}, {"VOLUME"}},
    {{"VOLUME"}, {"PROJECT"}},
    {{"PROJECT"}, {"SHARED_VAULT"}},
    {{"SHARED_VAULT", "WORKSPACE", "BINENTRY"}, {"BIN", "LIBRARY"}},
    {{"BIN"}, {"FOLDER", "CLIP"}},
    {{"LIBRARY"}, {"FOLDER", "CLIP", "REEL"}},
    {{"REEL"}, {"CLIP"}},
    {{"FOLDER"}, {"FOLDER", "CLIP"}},
    {{"DIR"}, {"DIR"}},
};

bool contains(std::initializer_list<const char*> names, const std::string& name) {
    for (const char* candidate : names)
        if (name == candidate) return true;
    return false;
}

}  // namespace

const NodeType* NodeTypes::byName(const std::string& name) {
    for (const NodeType& type : TYPES)
        if (name == type.name) return &type;
    return nullptr;
}

const NodeType* NodeTypes::byNumber(int number) {
    for (const NodeType& type : TYPES)
        if (type.number == number) return &type;
    return nullptr;
}

const NodeType* NodeTypes::byText(const std::string& text) {
    if (const NodeType* type = byName(text)) return type;
    if (text.empty() || text.size() > 3) return nullptr;
    for (char c : text)
        if (c < '0' || c > '9') return nullptr;
    return byNumber(std::stoi(text));
}

bool NodeTypes::canCreate(const std::string& parent, const std::string& child) {
    for (const Rule& rule : RULES)
        if (contains(rule.parents, parent)) return contains(rule.children, child);
    return false;
}

}  // namespace vantreld
