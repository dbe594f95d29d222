#include "ToolCommands.h"

namespace vantrel_tool {

CLI::App* CommandRegistry::add(const std::string& name, const std::string& description,
                               const std::string& example) {
    CLI::App* command = app_.add_subcommand(name, description);
    command->footer("Example:\n  " + example);
    // Options of the tool itself (--json, --timeout) may follow the subcommand too.
    command->fallthrough();
    return command;
}

void CommandRegistry::setAction(CLI::App* command, CommandAction action) {
    entries_.push_back(Entry{command, std::move(action)});
}

const CommandAction* CommandRegistry::chosen() const {
    for (const Entry& entry : entries_)
        if (entry.command->parsed()) return &entry.action;
    return nullptr;
}

std::string CommandRegistry::chosenName() const {
    std::string name;
    for (const CLI::App* level = &app_; !level->get_subcommands().empty();) {
        level = level->get_subcommands().front();
        name += (name.empty() ? "" : " ") + level->get_name();
    }
    return name;
}

void addAllCommands(CommandRegistry& registry) {
#define VANTREL_TOOL_COMMAND(name) add_##name##_command(registry);
#include "ToolCommandList.def"
#undef VANTREL_TOOL_COMMAND
}

}  // namespace vantrel_tool
