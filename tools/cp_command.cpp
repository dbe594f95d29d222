// vantrel cp [-r] SERVER:/path TARGET: copies a node (a clip with its format, frames and
// metadata streams; with -r a folder, reel or library with everything under it) to another
// place on the same server or on another one.
//
// TARGET is the copy's path; an existing node that is not a clip takes the copy inside it,
// under the source's name. The copy is built under a temporary name beside its final place
// (".NAME.partial-" and 32 random hex digits, which no other client can guess or collide
// with) and renamed at the end, so the final name never shows a half-made copy. A copy that
// fails keeps its temporary node, which --resume continues: frames already there and equal
// to the source's are not written again.
#include <random>

#include "ToolCommands.h"
#include "TransferSupport.h"
#include "TreeCopy.h"

namespace vantrel_tool {
namespace {

struct CpOptions {
    std::string source;
    std::string target;
    bool recursive = false;
    bool resume = false;
    bool verify = false;
    bool dryRun = false;
};

// Where the copy goes: its final path, the node it goes into, and what is already there.
struct Destination {
    NodePath path;
    VantrelNodeHandle parent;
    bool exists = false;
    VantrelNodeHandle existing;  // when `exists`
    bool partial = false;
    VantrelNodeHandle partialNode;  // a copy left by an earlier run, when `partial`
    std::string partialName;
};

std::string partialPrefix(const std::string& name) { return "." + name + ".partial-"; }

std::string randomHex() {
    std::random_device random;
    std::string text;
    const char* const digits = "0123456789abcdef";
    for (int i = 0; i < 4; ++i) {
        const uint32_t word = random();
        for (int shift = 28; shift >= 0; shift -= 4) text += digits[(word >> shift) & 0xf];
    }
    return text;
}

bool isClip(Tool& tool, VantrelNodeHandle& node, const NodePath& path) {
    bool clip = false;
    tool.check(node.getIsClipNode(clip), node, "cannot get the type of '" + path.text() + "'");
    return clip;
}

// The first child of `parent` whose name starts with `prefix`.
bool findPartial(Tool& tool, Destination& into, const std::string& prefix) {
    tool.forEachChild(into.parent, into.path.parent(),
                      [&](VantrelNodeHandle& child, const NodePath& where) {
                          if (into.partial || where.name().rfind(prefix, 0) != 0) return;
                          into.partial = true;
                          into.partialNode = child;
                          into.partialName = where.name();
                      });
    return into.partial;
}

Destination findDestination(Tool& tool, const NodePath& target, const std::string& sourceName) {
    Destination into;
    into.path = target;
    into.parent = tool.resolve(target.parent());
    VantrelNodeHandle named;
    const bool namedExists = !target.isRoot() &&
                              findChild(tool, into.parent, target.parent(), target.name(), named);
    if (target.isRoot() || (namedExists && !isClip(tool, named, target))) {
        into.parent = target.isRoot() ? into.parent : named;
        into.path.components.push_back(sourceName);
        into.exists = findChild(tool, into.parent, target, sourceName, into.existing);
    } else {
        into.exists = namedExists;
        into.existing = named;
    }
    findPartial(tool, into, partialPrefix(into.path.name()));
    return into;
}

nlohmann::json planJson(const CopyPlan& plan) {
    return {{"nodes", plan.nodes.size()}, {"clips", plan.clips}, {"frames", plan.frames},
            {"bytes", plan.bytes}};
}

std::string planText(const CopyPlan& plan) {
    return counted(static_cast<long long>(plan.nodes.size()), "node") + ", " +
           counted(static_cast<long long>(plan.frames), "frame") + " (" +
           std::to_string(plan.bytes) + " bytes)";
}

void printDryRun(Tool& tool, const NodePath& source, const Destination& into,
                 const CopyPlan& plan, bool resume) {
    nlohmann::json doc = planJson(plan);
    doc.update({{"from", source.text()}, {"to", into.path.text()}, {"dryRun", true},
                {"exists", into.exists}, {"resume", resume && into.partial}});
    tool.print(doc, [&](std::ostream& out) {
        out << "would copy " << source.text() << " to " << into.path.text() << ": "
            << planText(plan);
        if (resume && into.partial) out << ", resuming '" << into.partialName << "'";
        if (into.exists) out << " (" << into.path.text() << " exists: cp would refuse)";
        out << "\n";
    });
}

void failOnDifferences(const std::vector<std::string>& differences, const NodePath& copy) {
    if (differences.empty()) return;
    std::string text = copy.text() + " differs from its source: " + differences[0];
    if (differences.size() > 1)
        text += " (and " + counted(static_cast<long long>(differences.size() - 1),
                                   "other difference") + ")";
    throw ToolFailure(EXIT_SERVER_ERROR, text);
}

// Compares an existing copy with its source, writing nothing.
void verifyExisting(Tool& tool, const NodePath& source, Destination& into, const CopyPlan& plan) {
    ProgressBar progress(stderr, progressWanted(tool.options().quiet), "frames", plan.frames,
                         plan.bytes);
    TreeCopier copier(tool, plan, into.path.server, progress);
    const std::vector<std::string> differences = copier.compare(into.existing, into.path);
    progress.finish();
    failOnDifferences(differences, into.path);
    nlohmann::json doc = planJson(plan);
    doc.update({{"from", source.text()}, {"to", into.path.text()}, {"verified", true},
                {"written", 0}});
    tool.print(doc, [&](std::ostream& out) {
        out << into.path.text() << " matches " << source.text() << ": " << planText(plan) << "\n";
    });
}

// Copies (or resumes) under the temporary name, verifies when asked, then renames.
CopyCounts copyUnderTemporaryName(Tool& tool, Destination& into, const CopyPlan& plan,
                                  bool resume, bool verify) {
    const bool resuming = resume && into.partial;
    const NodePath parentPath = into.path.parent();
    VantrelNodeHandle root(into.parent.getServer(), "");
    std::string name = resuming ? into.partialName : partialPrefix(into.path.name()) + randomHex();
    if (resuming) {
        root = into.partialNode;
    } else {
        const SourceNode& top = plan.nodes.front();
        tool.check(top.facts.clip ? into.parent.createClipNode(name.c_str(), *top.facts.format,
                                                                top.facts.type.c_str(), root)
                                  : into.parent.createNode(name.c_str(), top.facts.type.c_str(), root),
                   into.parent, "creating " + into.path.text());
    }
    NodePath rootPath = parentPath;
    rootPath.components.push_back(name);
    const std::string leftBehind =
        "the partial copy stays as " + rootPath.text() + " (cp --resume continues it)";
    setInterruptNote("vantrel cp: interrupted; " + leftBehind);
    try {
        ProgressBar progress(stderr, progressWanted(tool.options().quiet), "frames",
                             plan.frames * (verify ? 2 : 1), plan.bytes * (verify ? 2 : 1));
        TreeCopier copier(tool, plan, into.path.server, progress);
        const CopyCounts counts = copier.copy(root, rootPath, resuming);
        if (verify) failOnDifferences(copier.compare(root, rootPath), rootPath);
        progress.finish();
        tool.check(root.renameNode(into.path.name().c_str()), root,
                   "renaming " + rootPath.text() + " to " + into.path.name());
        setInterruptNote("");
        return counts;
    } catch (const ToolFailure& failure) {
        setInterruptNote("");
        throw ToolFailure(failure.status(), std::string(failure.what()) + "; " + leftBehind);
    }
}

void runCp(Tool& tool, const CpOptions& options) {
    const NodePath source = nodePathArgument(options.source);
    const NodePath target = nodePathArgument(options.target);
    if (source.isRoot()) usageError("the root cannot be copied; copy the nodes under it (-r)");
    VantrelNodeHandle sourceNode = tool.resolve(source);
    const CopyPlan plan = planCopy(tool, sourceNode, source, options.recursive);
    Destination into = findDestination(tool, target, plan.nodes.front().name);
    if (options.dryRun) return printDryRun(tool, source, into, plan, options.resume);
    if (into.exists && options.verify && !options.resume)
        return verifyExisting(tool, source, into, plan);
    if (into.exists)
        throw ToolFailure(EXIT_SERVER_ERROR,
                          into.path.text() + " exists (cp never replaces a node; --verify "
                                             "compares it with the source)");
    const bool resumed = options.resume && into.partial;
    const CopyCounts counts =
        copyUnderTemporaryName(tool, into, plan, options.resume, options.verify);
    nlohmann::json doc = planJson(plan);
    doc.update({{"from", source.text()}, {"to", into.path.text()}, {"written", counts.written},
                {"skipped", counts.skipped}, {"resumed", resumed}, {"verified", options.verify}});
    tool.print(doc, [&](std::ostream& out) {
        out << "copied " << source.text() << " to " << into.path.text() << ": " << planText(plan);
        if (counts.skipped > 0) out << ", " << counts.skipped << " of them already there";
        if (options.verify) out << ", verified";
        out << "\n";
    });
}

}  // namespace

void add_cp_command(CommandRegistry& registry) {
    auto options = std::make_shared<CpOptions>();
    CLI::App* command = registry.add(
        "cp",
        "Copies a node (a clip with its format, frames and metadata; -r a whole subtree) to "
        "another place, on the same server or another one.",
        "vantrel cp -r '127.0.0.1:7549:/Volume 1/Commercial/Shared Vault/Library A/Reel 1' "
        "'10.0.0.7:7549:/Volume 1/Commercial/Shared Vault/Library A'");
    command->add_option("source", options->source, "The node to copy, SERVER:/display/path")
        ->required();
    command->add_option("target", options->target,
                        "The copy's path, or an existing node (not a clip) to copy into")
        ->required();
    command->add_flag("-r,--recursive", options->recursive,
                      "Copy a node that has children, with everything under it");
    command->add_flag("--resume", options->resume,
                      "Continue a copy that stopped: frames already copied and equal to the "
                      "source's are not written again");
    command->add_flag("--verify", options->verify,
                      "Compare every frame with the source after the copy; with an existing "
                      "target, compare it and copy nothing");
    command->add_flag("--dry-run", options->dryRun,
                      "Show what would be copied and change nothing");
    registry.setAction(command, [options](Tool& tool) { runCp(tool, *options); });
}

}  // namespace vantrel_tool
