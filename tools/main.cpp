// vantrel: looks at and changes the node trees of Vantrel servers from the command line.
// `vantrel --help` lists the subcommands; ToolCommands.h explains how to add one.
#include <clocale>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

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
std::string usageText(const CLI::App& app, const CLI::ParseError& error,
                      const std::vector<std::string>& args) {
    if (!app.get_subcommands().empty()) return error.what();
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--timeout") ++i;  // its value
        else if (arg.empty() || arg[0] != '-') return "unknown subcommand '" + arg + "'";
    }
    return error.what();
}

// "vantrel help SUBCOMMAND..." is "vantrel SUBCOMMAND... --help".
std::vector<std::string> argumentsOf(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.front() == "help") {
        args.erase(args.begin());
        args.push_back("--help");
    }
    return args;
}

// The first option before the subcommand that the tool does not know ("" when none): CLI11
// would blame it on the subcommand that follows.
std::string unknownToolOption(const CLI::App& app, const std::vector<std::string>& args) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.empty() || arg[0] != '-') return "";
        const std::string name = arg.substr(0, arg.find('='));
        const CLI::Option* option = app.get_option_no_throw(name);
        if (option == nullptr) return name;
        if (option->get_expected_min() > 0 && name == arg) ++i;  // its value follows
    }
    return "";
}

std::string versionText() {
    int major = 0, minor = 0, maint = 0;
    VantrelClientGetVersion(major, minor, maint);
    return "vantrel " + std::to_string(major) + "." + std::to_string(minor) + "." +
           std::to_string(maint);
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
    app.set_version_flag("--version", versionText(), "Print the version and exit");
    app.add_flag("-q,--quiet", options.quiet,
                 "Draw no progress bar and no notes on standard error (before or after the "
                 "subcommand)");
    app.add_flag("--verbose", options.verbose,
                 "Show the client library's own messages on standard error");
    app.add_option("--timeout", options.timeoutSeconds,
                   "Longest wait for one remote call, in seconds (0: no limit of the tool's own)")
        ->capture_default_str();

    CommandRegistry registry(app);
    addAllCommands(registry);
    const std::vector<std::string> args = argumentsOf(argc, argv);
    const std::string unknown = unknownToolOption(app, args);
    if (!unknown.empty()) {
        std::cerr << "vantrel: unknown option '" << unknown << "' (see vantrel --help)"
                  << std::endl;
        return EXIT_USAGE;
    }
    try {
        app.parse(std::vector<std::string>(args.rbegin(), args.rend()));  // CLI11 pops the last
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);  // --help
        const std::string command = registry.chosenName();
        const std::string prefix = command.empty() ? "vantrel" : "vantrel " + command;
        std::cerr << prefix << ": " << usageText(app, error, args) << " (see " << prefix
                  << " --help)" << std::endl;
        return EXIT_USAGE;
    }
    routeLibraryMessages(options.verbose);
    return runChosen(registry, options);
}
