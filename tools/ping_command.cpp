// vantrel ping SERVER: whether a server answers, and how fast.
#include <chrono>
#include <iomanip>

#include "ToolCommands.h"

namespace vantrel_tool {

void add_ping_command(CommandRegistry& registry) {
    auto server = std::make_shared<std::string>();
    CLI::App* command = registry.add("ping", "Asks a server whether it answers, and times it.",
                                     "vantrel ping 127.0.0.1:7549");
    command->add_option("server", *server, "The server (SERVER or SERVER:)")->required();
    registry.setAction(command, [server](Tool& tool) {
        const std::string id = serverArgument(*server);
        VantrelServerHandle& handle = tool.uncheckedServer(id);
        const unsigned int timeoutMs = tool.options().timeoutSeconds * 1000u;
        const auto start = std::chrono::steady_clock::now();
        if (!handle.ping(timeoutMs == 0 ? 100000000u : timeoutMs))
            throw ToolFailure(EXIT_UNREACHABLE, "no answer from '" + id + "': " + handle.lastError());
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        nlohmann::json doc = {{"server", id}, {"alive", true}, {"milliseconds", ms}};
        tool.print(doc, [&](std::ostream& out) {
            out << id << " answers in " << std::fixed << std::setprecision(2) << ms << " ms\n";
        });
    });
}

}  // namespace vantrel_tool
