// The subcommands of the vantrel tool and how they are registered.
//
// Adding a subcommand takes one new source file and one line:
//
//   1. tools/NAME_command.cpp defines, in namespace vantrel_tool,
//
//        void add_NAME_command(CommandRegistry& registry) {
//            auto options = std::make_shared<Options>();       // what the parser fills
//            CLI::App* app = registry.add("NAME", "What it does, in one line.",
//                                         "vantrel NAME 127.0.0.1:7549:/Volume 1");
//            app->add_option("path", options->path, "...")->required();
//            registry.setAction(app, [options](Tool& tool) { ... tool.print(...); });
//        }
//
//      The action throws ToolFailure (Tool.h) to fail, and writes its one result with
//      Tool::print (JSON with --json, text for people otherwise).
//   2. One line VANTREL_TOOL_COMMAND(NAME) in ToolCommandList.def (kept in alphabetical
//      order; --help lists the subcommands in that order); the tool's CMakeLists.txt picks
//      up the source file by itself.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "Tool.h"

namespace vantrel_tool {

using CommandAction = std::function<void(Tool&)>;

// Owns nothing but the actions; the subcommands themselves belong to the CLI11 app.
class CommandRegistry {
public:
    explicit CommandRegistry(CLI::App& app) : app_(app) {}

    // A subcommand `name` with its one-line `description` and an `example` shown by --help.
    CLI::App* add(const std::string& name, const std::string& description,
                  const std::string& example);
    void setAction(CLI::App* command, CommandAction action);

    // The action of the subcommand the parsed arguments chose (null when none).
    const CommandAction* chosen() const;
    // The name of the chosen subcommand ("" when none).
    std::string chosenName() const;

private:
    struct Entry {
        CLI::App* command;
        CommandAction action;
    };
    CLI::App& app_;
    std::vector<Entry> entries_;
};

#define VANTREL_TOOL_COMMAND(name) void add_##name##_command(CommandRegistry& registry);
#include "ToolCommandList.def"
#undef VANTREL_TOOL_COMMAND

// Registers every subcommand of the list above.
void addAllCommands(CommandRegistry& registry);

}  // namespace vantrel_tool
