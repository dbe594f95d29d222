// vantrel rm [-r] [-f] [--dry-run] SERVER:/path...: removes nodes (with -r, also ones that have
// children). On a terminal, removing nodes with children asks first unless -f; --dry-run
// checks and reports everything and removes nothing.
#include <unistd.h>

#include <iostream>

#include "ToolCommands.h"

namespace vantrel_tool {

namespace {

struct Removal {
    NodePath where;
    VantrelNodeHandle node;
    int children = 0;
};

// Every node named, checked before any is removed: a wrong path or a node with children
// (without -r) removes nothing.
std::vector<Removal> findRemovals(Tool& tool, const std::vector<std::string>& paths,
                                  bool recursive) {
    std::vector<Removal> removals;
    for (const std::string& text : paths) {
        Removal removal{nodePathArgument(text), VantrelNodeHandle(), 0};
        if (removal.where.isRoot()) usageError("the root cannot be removed");
        removals.push_back(removal);
    }
    for (Removal& removal : removals) {
        removal.node = tool.resolve(removal.where);
        tool.check(removal.node.getNumChildren(removal.children), removal.node,
                   "listing " + removal.where.text());
        if (removal.children > 0 && !recursive)
            usageError(removal.where.text() + " has " +
                       counted(removal.children, "child", "children") +
                       "; -r removes them too");
    }
    return removals;
}

struct RmOptions {
    std::vector<std::string> paths;
    bool recursive = false;
    bool force = false;
    bool dryRun = false;
};

// Whether the user, asked on the terminal, agrees to remove the subtrees among `removals`
// (true when there are none). Only called when standard input is a terminal.
bool confirmedOnTerminal(const std::vector<Removal>& removals) {
    long long nodes = 0, children = 0;
    for (const Removal& removal : removals)
        if (removal.children > 0) {
            ++nodes;
            children += removal.children;
        }
    if (nodes == 0) return true;
    std::cerr << "vantrel rm: remove " << counted(nodes, "node") << " with "
              << counted(children, "child", "children")
              << " and everything under them? [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

void runRm(Tool& tool, const RmOptions& options) {
    std::vector<Removal> removals = findRemovals(tool, options.paths, options.recursive);
    if (!options.dryRun && !options.force && ::isatty(STDIN_FILENO) &&
        !confirmedOnTerminal(removals))
        usageError("not confirmed: nothing removed");
    nlohmann::json docs = nlohmann::json::array();
    for (Removal& removal : removals) {
        if (!options.dryRun)
            tool.check(removal.node.destroyNode(), removal.node,
                       "removing " + removal.where.text());
        nlohmann::json doc = {{"removed", removal.where.text()}, {"children", removal.children}};
        if (options.dryRun) doc["dryRun"] = true;
        docs.push_back(doc);
    }
    // One document for one node, as it always was; a list of them for several.
    tool.print(docs.size() == 1 ? docs[0] : docs, [&](std::ostream& out) {
        for (const Removal& removal : removals)
            out << (options.dryRun ? "Would remove " : "Removed ") << removal.where.text()
                << (options.dryRun && removal.children > 0
                        ? " with " + counted(removal.children, "child", "children")
                        : std::string())
                << "\n";
    });
}

}  // namespace

void add_rm_command(CommandRegistry& registry) {
    auto options = std::make_shared<RmOptions>();
    CLI::App* command = registry.add(
        "rm", "Removes nodes with their frames and metadata (-r: with their whole subtrees).",
        "vantrel rm -r '127.0.0.1:7549:/Volume 1/Commercial/Shared Vault/Library A/Dailies'");
    command->add_option("paths", options->paths, "The nodes, SERVER:/display/path ...")
        ->required()
        ->expected(1, CLI::detail::expected_max_vector_size);
    command->add_flag("-r,--recursive", options->recursive, "Remove nodes that have children too");
    command->add_flag("-f,--force", options->force,
                      "Do not ask on a terminal before removing nodes with children");
    command->add_flag("-n,--dry-run", options->dryRun,
                      "Check the nodes and show what would be removed; remove nothing");
    registry.setAction(command, [options](Tool& tool) { runRm(tool, *options); });
}

}  // namespace vantrel_tool
