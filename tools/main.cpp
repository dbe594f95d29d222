// vantrel: looks at and changes the node trees of Vantrel servers from the command line.
// `vantrel --help` lists the subcommands; ToolCommands.h explains how to add one.
#include <clocale>
#include <cstring>
#include <iostream>

#include "ToolCommands.h"

namespace {

using namespace vantrel_tool;

const char* const TOOL_FOOTER =
    "Nodes are named SERVER:/display/path, SERVER alone (or SERVER:) being the root.\n"
    "SERVER is ADDRESS:PORT (connects directly), ADDRESS or ADDRESS:DATABASE (found by\n"
    "discovery). Exit status: 0 success, 1 the server answered an error, 2 wrong usage,\n"
    "3 the server cannot be reached.\n"
    "Example:\n"
    "  vantrel tree --depth 2 '127.0.0.1:7549:/Volume 1'";

// Texts travel in UTF-8 and are shown in the locale; a process left in the C locale would
// show every non-ASCII character as "?", so it gets the C locale's UTF-8 twin instead.
void chooseLocale() {
    const char* chosen = std::setlocale(LC_ALL, "");
    if (chosen == nullptr || std::strcmp(chosen, "C") == 0 || std::strcmp(chosen, "POSIX") == 0)
        std::setlocale(LC_CTYPE, "C.UTF-8");
}

// CLI11 reports a mistyped subcommand as a missing one; name the word it did not know.
std::string usageText(const CLI::App& app, const CLI::ParseError& error, int argc, char** argv) {
    if (!app.get_subcommands().empty()) return error.what();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--timeout") ++i;  // its value
        else if (arg.empty() || arg[0] != '-') return "unknown subcommand '" + arg + "'";
    }
    return error.what();
}

int runChosen(const CommandRegistry& registry, const ToolOptions& options) {
    const CommandAction* action = registry.chosen();
    if (action == nullptr) return EXIT_USAGE;  // the parser requires one: not reached
    try {
        Tool tool(options, std::cout);
        (*action)(tool);
        return EXIT_OK;
    } catch (const ToolFailure& failure) {
        std::cout.flush();
        std::cerr << "vantrel " << registry.chosenName() << ": " << failure.what() << std::endl;
        return failure.status();
    }
}

}  // namespace

int main(int argc, char** argv) {
    chooseLocale();
    CLI::App app("vantrel: finds Vantrel servers, browses and changes their node trees.",
                 "vantrel");
    app.footer(TOOL_FOOTER);
    app.require_subcommand(1);
    ToolOptions options;
    app.add_flag("--json", options.json, "Write the result as JSON (one document per command)");
    app.add_option("--timeout", options.timeoutSeconds,
                   "Longest wait for one remote call, in seconds (0: no limit of the tool's own)")
        ->capture_default_str();

    CommandRegistry registry(app);
    addAllCommands(registry);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);  // --help
        const std::string command = registry.chosenName();
        const std::string prefix = command.empty() ? "vantrel" : "vantrel " + command;
        std::cerr << prefix << ": " << usageText(app, error, argc, argv) << " (see " << prefix
                  << " --help)" << std::endl;
        return EXIT_USAGE;
    }
    return runChosen(registry, options);
}
