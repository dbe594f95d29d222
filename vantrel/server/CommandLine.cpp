#include "vantrel/server/CommandLine.h"

#include "tcp/CoNameResolver.h"
#include "vantrel/server/NodeMethods.h"
#include "vantrel/server/WireText.h"

namespace vantreld {

namespace {
// A day: longer limits are no limit in practice, and keep milliseconds within 32 bits.
const int MAX_IDLE_SECONDS = 86400;
}  // namespace

const char* CommandLine::usage() {
    return "Usage: vantreld [OPTIONS] DIR\n"
           "       vantreld --init-sample DIR\n"
           "\n"
           "Serves the node tree kept in the directory DIR over the remote-call protocol.\n"
           "A missing or empty DIR gets a tree holding only its root (a HOST node).\n"
           "\n"
           "Options:\n"
           "  --port N                  node port to listen on (default 7549; 0 lets the\n"
           "                            system choose a free port)\n"
           "  --frame-port N            frame port to listen on (default 7550, or chosen by\n"
           "                            the system with --port 0; 0 lets the system choose)\n"
           "  --listen ADDRESS          numeric IPv4 or IPv6 address to listen on (default\n"
           "                            127.0.0.1, this host only; 0.0.0.0 or :: listens on\n"
           "                            every address of the host). The protocol has no\n"
           "                            authentication: every host that reaches the port\n"
           "                            may create and destroy nodes (a warning says so);\n"
           "                            restrict it with --allow\n"
           "  --allow NET[,NET...]      only clients from these networks may connect, each\n"
           "                            ADDRESS/PREFIX (IPv4 or IPv6, e.g. 10.0.0.0/8,\n"
           "                            fd00::/8), to either port; others are closed at\n"
           "                            once and logged\n"
           "  --frame-idle-timeout N    close a frame-port connection on which nothing has\n"
           "                            moved for N seconds (default 60; 0: never)\n"
           "  --address ADDR[,ADDR...]  addresses announced in the server record, at most 5\n"
           "                            (default: the listen address, or 127.0.0.1 when\n"
           "                            listening on every address)\n"
           "  --protocol-version A.B.C.D\n"
           "                            play a server of that protocol version (default\n"
           "                            2015.0.0.5858): methods an older generation did not\n"
           "                            know are answered with \"Unknown method: NAME\"\n"
           "  --config FILE             display name, database, read-aheads and path\n"
           "                            translation tables (sections [Server],\n"
           "                            [HostTranslation N], [OsTypeTranslation N],\n"
           "                            [TranslationGroup N]; see README)\n"
           "  --udp-port N              discovery group port (default 7555, or the\n"
           "                            [SelfDiscovery] Port of the configuration)\n"
           "  --no-discovery            neither announce this server nor answer searches\n"
           "  --trace FILE              append one line per request received to FILE: time,\n"
           "                            client, method and argument text, result (tabs\n"
           "                            between them); frame-port requests give the command\n"
           "                            as method, and its argument and number as text\n"
           "  --log FILE                append log lines to FILE instead of standard error\n"
           "  --no-sync                 do not flush changes to disk before answering (faster;\n"
           "                            a crash of the machine, not of vantreld, may lose\n"
           "                            the latest changes)\n"
           "  --init-sample             fill DIR (new or empty) with a sample tree of volumes,\n"
           "                            projects, libraries, reels, folders and clips with\n"
           "                            frames and metadata, then exit\n"
           "  --cache-mb N              memory for frames read ahead, in MiB (default 512;\n"
           "                            0: no read-ahead). Frames being loaded count too;\n"
           "                            a frame larger than this is read from its file\n"
           "  --bench-read-delay-ms N   add N milliseconds to every frame read from disk\n"
           "                            (benchmarks of read-ahead only)\n"
           "  --version                 print the version and exit\n"
           "  --help                    show this text and exit\n"
           "\n"
           "Once it listens, vantreld prints one line on standard output, and nothing else:\n"
           "  vantreld ready: node_port=N listen=ADDRESS tree=DIR nodes=N protocol=A.B.C.D\n"
           "                 frame_port=N\n"
           "(later versions may add KEY=VALUE fields). Log lines go to standard error (or\n"
           "--log FILE); when the log cannot be written fast enough, lines are dropped and\n"
           "counted, never waited for. Only one vantreld at a time serves a directory; a\n"
           "directory that is neither empty nor a tree is refused. Limits on the tree's size\n"
           "are set in the [Limits] section of the configuration (see README).\n"
           "It stops on SIGINT or SIGTERM, or on a \"Shutdown\" request from this host, and\n"
           "logs why; SIGHUP is ignored.\n";
}

std::string CommandLine::versionText() {
    return std::string("vantreld ") + std::to_string(NodeMethods::PRODUCT_MAJOR) + "." +
           std::to_string(NodeMethods::PRODUCT_MINOR) + " (protocol " + ProtocolVersion().text() +
           ")";
}

CommandLine CommandLine::parse(const std::vector<std::string>& args) {
    CommandLine line;
    bool framePortGiven = false;
    line.options.discovery = true;  // the program takes part in discovery unless told not to
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                line.error = "Option " + arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else if (arg == "--log") {
            if (!value(line.logFile)) return line;
        } else if (arg == "--init-sample") {
            line.initSample = true;
        } else if (arg == "--no-sync") {
            line.options.sync = ServerFiles::Sync::FAST;
        } else if (arg == "--port") {
            if (!value(text)) return line;
            try {
                line.options.port = parseInt(text);
            } catch (const std::exception&) {
                line.options.port = -1;
            }
            if (line.options.port < 0 || line.options.port > 65535) {
                line.error = "Invalid port '" + text + "'";
                return line;
            }
        } else if (arg == "--frame-port" || arg == "--bench-read-delay-ms" ||
                   arg == "--frame-idle-timeout" || arg == "--cache-mb") {
            if (!value(text)) return line;
            int number = -1;
            try {
                number = parseInt(text);
            } catch (const std::exception&) {
            }
            const int limit = arg == "--frame-port"           ? 65535
                              : arg == "--frame-idle-timeout" ? MAX_IDLE_SECONDS
                              : arg == "--cache-mb"           ? 65536
                                                              : 60000;
            if (number < 0 || number > limit) {
                line.error = "Invalid value '" + text + "' for " + arg;
                return line;
            }
            if (arg == "--frame-idle-timeout")
                line.options.frameIdleLimitMs = static_cast<unsigned int>(number) * 1000;
            else
                (arg == "--frame-port"   ? line.options.framePort
                 : arg == "--cache-mb" ? line.options.cacheMegabytes
                                         : line.options.benchReadDelayMs) = number;
            framePortGiven = framePortGiven || arg == "--frame-port";
        } else if (arg == "--listen") {
            if (!value(text)) return line;
            Vantrel::CoSocketAddress numeric;
            if (!Vantrel::CoSocketAddress::fromNumeric(text.c_str(), 0, numeric)) {
                line.error = "Invalid listen address '" + text +
                             "' (expected a numeric IPv4 or IPv6 address)";
                return line;
            }
            line.options.listenAddress = text;
        } else if (arg == "--allow") {
            if (!value(text)) return line;
            if (!AddressFilter::parse(text, line.options.allowed, line.error)) return line;
        } else if (arg == "--address") {
            if (!value(text)) return line;
            line.options.addresses = splitComma(text);
            if (line.options.addresses.empty() || line.options.addresses.size() > 5) {
                line.error = "Give 1 to 5 addresses, not '" + text + "'";
                return line;
            }
        } else if (arg == "--protocol-version") {
            if (!value(text)) return line;
            if (!ProtocolVersion::parse(text, line.options.version)) {
                line.error = "Invalid protocol version '" + text + "' (expected A.B.C.D)";
                return line;
            }
        } else if (arg == "--udp-port") {
            if (!value(text)) return line;
            int port = -1;
            try {
                port = parseInt(text);
            } catch (const std::exception&) {
            }
            if (port < 1 || port > 65535) {
                line.error = "Invalid UDP port '" + text + "'";
                return line;
            }
            line.options.udpPort = static_cast<unsigned>(port);
        } else if (arg == "--no-discovery") {
            line.options.discovery = false;
        } else if (arg == "--config") {
            if (!value(line.options.configFile)) return line;
        } else if (arg == "--trace") {
            if (!value(line.options.traceFile)) return line;
        } else if (arg.size() > 1 && arg[0] == '-') {
            line.error = "Unknown option '" + arg + "'";
            return line;
        } else {
            positional.push_back(arg);
        }
    }
    if (line.help || line.version) return line;
    // A system-chosen node port comes with a system-chosen frame port unless one is named.
    if (!framePortGiven)
        line.options.framePort = line.options.port == 0 ? 0 : FrameServer::DEFAULT_PORT;
    if (positional.size() != 1) {
        line.error = positional.empty() ? "No tree directory given" : "Give one tree directory";
        return line;
    }
    line.options.directory = positional[0];
    return line;
}

}  // namespace vantreld
